/* Preloaded into Wine's 32-bit loader when qemu-i386 runs it. qemu hands every fault signal to
 * the program with the context's trap number set to -1, and Wine decides from that number what
 * the fault was: an access violation would reach Windows programs as an illegal instruction, and
 * guard pages and write watches, which Wine handles inside its page-fault path, would crash the
 * process. This library wraps the fault handlers Wine installs and gives the context the trap
 * number that the signal's si_code stands for before Wine's handler reads it.
 *
 * Built twice: for i386 (the working one) and as an empty x86-64 twin, so that the same
 * LD_PRELOAD with $LIB in it loads quietly into the 64-bit processes too. */
#define _GNU_SOURCE
#if defined(__i386__)
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>
#include <ucontext.h>

enum { kTrapDivide = 0, kTrapDebug = 1, kTrapBreakpoint = 3, kTrapOverflow = 4, kTrapInvalidOpcode = 6,
       kTrapProtection = 13, kTrapPageFault = 14, kTrapFloatingPoint = 16, kTrapSimd = 19 };

typedef void (*info_handler)(int, siginfo_t *, void *);
typedef int (*sigaction_function)(int, const struct sigaction *, struct sigaction *);

static info_handler wrapped[_NSIG];

static int trap_for(int signal, int code)
{
    switch (signal) {
    case SIGSEGV:
        return code == SEGV_MAPERR || code == SEGV_ACCERR ? kTrapPageFault : kTrapProtection;
    case SIGBUS:
        return kTrapProtection;
    case SIGILL:
        return kTrapInvalidOpcode;
    case SIGFPE:
        if (code == FPE_INTDIV) return kTrapDivide;
        if (code == FPE_INTOVF) return kTrapOverflow;
        return code == FPE_FLTINV || code == FPE_FLTDIV || code == FPE_FLTOVF || code == FPE_FLTUND ||
                       code == FPE_FLTRES
                   ? kTrapFloatingPoint
                   : kTrapSimd;
    case SIGTRAP:
        return code == TRAP_TRACE ? kTrapDebug : kTrapBreakpoint;
    }
    return -1;
}

static void mend_and_forward(int signal, siginfo_t *info, void *context)
{
    ucontext_t *uc = context;
    unsigned int trap = (unsigned int)uc->uc_mcontext.gregs[REG_TRAPNO];
    if (trap > 31 && info)
        uc->uc_mcontext.gregs[REG_TRAPNO] = trap_for(signal, info->si_code);
    wrapped[signal](signal, info, context);
}

static int is_fault_signal(int signal)
{
    return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE || signal == SIGTRAP;
}

int sigaction(int signal, const struct sigaction *action, struct sigaction *old)
{
    static sigaction_function real;
    if (!real)
        real = (sigaction_function)dlsym(RTLD_NEXT, "sigaction");
    if (!action || !is_fault_signal(signal) || !(action->sa_flags & SA_SIGINFO) ||
        action->sa_sigaction == mend_and_forward) {
        int result = real(signal, action, old);
        if (result == 0 && old && old->sa_sigaction == mend_and_forward && wrapped[signal])
            old->sa_sigaction = wrapped[signal];
        return result;
    }
    struct sigaction mine = *action;
    info_handler before = wrapped[signal];
    wrapped[signal] = action->sa_sigaction;
    mine.sa_sigaction = mend_and_forward;
    int result = real(signal, &mine, old);
    if (result != 0)
        wrapped[signal] = before;
    else if (old && old->sa_sigaction == mend_and_forward)
        old->sa_sigaction = before;
    return result;
}
#endif
