/* Windows backend of the guarded call: a frame-based structured exception handler registered
 * around the call. A C++ exception of Microsoft's compiler (code 0xE06D7363) raised inside the
 * call is stopped here: the handler unwinds the frames above this one (so the host's own
 * clean-up runs) and resumes after the call with the failure value. Every other exception goes
 * on to the handlers further out, as if the guard were not there. 32-bit x86 only. */
#include <windows.h>

#define NORVANE_MSVC_CXX_EXCEPTION 0xE06D7363u

/* The registration record must come first: the system hands the handler its address. */
typedef struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD record;
    void* resume[5]; /* __builtin_setjmp buffer */
} GuardFrame;

static EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* exception, void* establisher,
                                                  CONTEXT* context, void* dispatcher) {
    (void)context;
    (void)dispatcher;
    if ((exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
        exception->ExceptionCode != NORVANE_MSVC_CXX_EXCEPTION) {
        return ExceptionContinueSearch;
    }
    /* Kept in memory: RtlUnwind may not preserve the callee-saved registers. */
    GuardFrame* volatile frame = (GuardFrame*)establisher;
    /* Runs the unwind handlers of every frame above ours and leaves ours on top of the chain. */
    RtlUnwind(establisher, NULL, exception, NULL);
    __builtin_longjmp(frame->resume, 1);
}

/* The thread information block holds its own address at fs:0x18. */
static NT_TIB* CurrentTib(void) {
    NT_TIB* tib;
    __asm__ volatile("movl %%fs:0x18, %0" : "=r"(tib));
    return tib;
}

int NorvaneCallGuarded(int (*call)(void*), void* context, int failValue) {
    GuardFrame frame;
    volatile int result = failValue;
    NT_TIB* tib = CurrentTib();
    frame.record.Next = tib->ExceptionList;
    frame.record.Handler = (PEXCEPTION_ROUTINE)GuardHandler;
    if (__builtin_setjmp(frame.resume) == 0) {
        tib->ExceptionList = &frame.record;
        result = call(context);
    } else {
        result = failValue;
    }
    /* Both ways out leave this record on top; remove it. */
    CurrentTib()->ExceptionList = frame.record.Next;
    return result;
}
