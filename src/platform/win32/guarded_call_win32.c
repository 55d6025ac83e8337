/* Windows backend of the guarded call: a frame-based structured exception handler registered
 * around the call. A C++ exception of Microsoft's compiler (code 0xE06D7363) raised inside the
 * call is stopped here: the handler unwinds the frames above this one (so the host's own
 * clean-up runs) and resumes after the call with the failure value. Every other exception goes
 * on to the handlers further out, as if the guard were not there. 32-bit x86 registers a frame
 * record in the thread's handler chain; 64-bit x86 describes the guarded range in the function's
 * unwind data instead. */
#include <windows.h>

#define NORVANE_MSVC_CXX_EXCEPTION 0xE06D7363u

#if defined(__i386__)

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

#elif defined(__x86_64__)

/* Table-based handling: the function's unwind data names the C runtime's scope handler and one
 * scope (the call) whose filter is GuardFilter. For a filter result of EXCEPTION_EXECUTE_HANDLER
 * the scope handler unwinds every frame above this one (the host's clean-up runs) and resumes at
 * the scope's end with the stack of this function; the result kept in memory is still the failure
 * value then. */
__attribute__((used)) static LONG GuardFilter(EXCEPTION_POINTERS* pointers, void* frame) {
    (void)frame;
    return pointers->ExceptionRecord->ExceptionCode == NORVANE_MSVC_CXX_EXCEPTION
                   ? EXCEPTION_EXECUTE_HANDLER
                   : EXCEPTION_CONTINUE_SEARCH;
}

__attribute__((noinline)) int NorvaneCallGuarded(int (*call)(void*), void* context, int failValue) {
    volatile int result = failValue;
    __asm__ __volatile__(".l_norvane_guard_begin:\n"
                         "\t.seh_handler __C_specific_handler, @except\n"
                         "\t.seh_handlerdata\n"
                         "\t.long 1\n"
                         "\t.rva .l_norvane_guard_begin, .l_norvane_guard_end, GuardFilter, "
                         ".l_norvane_guard_end\n"
                         "\t.text\n" ::
                                 : "memory");
    result = call(context);
    __asm__ __volatile__("\tnop\n.l_norvane_guard_end:\n\tnop\n" ::: "memory");
    return result;
}

#else
#error "the guarded call is written for 32-bit and 64-bit x86"
#endif
