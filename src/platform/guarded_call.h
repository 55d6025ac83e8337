// Calls into host code that may raise exceptions the driver's compiler cannot catch: a C++
// exception thrown by a Windows host built with Microsoft's compiler passes straight through
// GCC's catch (...). The guard stops such an exception at the call and turns it into a failure
// value; exceptions of the driver's own compiler are caught by the caller as usual.
//
// Threads: any thread; the guard covers only the calling thread's call.
#pragma once

extern "C" {
// The guard itself is written in C (the structured exception handling of 32-bit Windows).
typedef int (*NorvaneGuardedFn)(void* context);
int NorvaneCallGuarded(NorvaneGuardedFn call, void* context, int failValue);
}

namespace norvane::platform {

// CallGuarded returns `call(context)`, or `failValue` when the call raised a foreign C++
// exception (on systems without such exceptions it is a plain call). `call` must not let an
// exception of this program's compiler escape.
inline int CallGuarded(NorvaneGuardedFn call, void* context, int failValue) {
    return NorvaneCallGuarded(call, context, failValue);
}

} // namespace norvane::platform
