// POSIX backend of the guarded call: hosts share the driver's compiler and exception model, so
// the caller's own catch handles whatever the host throws.
#include "platform/guarded_call.h"

extern "C" int NorvaneCallGuarded(NorvaneGuardedFn call, void* context, int failValue) {
    static_cast<void>(failValue);
    return call(context);
}
