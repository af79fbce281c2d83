/*
 * Preloaded into every 32-bit Linux process that runs under qemu-user on a
 * machine whose kernel runs no 32-bit code (scripts/i386/setup.sh).
 *
 * qemu-user hands a fault's signal handler a context whose trap number is -1.
 * Wine's 32-bit loader picks the Windows exception code by that number, so
 * under qemu a null read becomes an illegal instruction (c000001d) and a
 * division by zero a float fault (c0000090). This library wraps sigaction:
 * for the fault signals it installs a handler that writes the trap number a
 * real i386 kernel would have written (derived from the signal and its
 * si_code) and then calls the program's own handler. On a real kernel the
 * trap number is never -1 and nothing changes.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <ucontext.h>

#if !defined(__i386__)
#error "the trap number fix-up is for i386 processes only"
#endif

typedef int (*sigaction_function)(int, const struct sigaction *, struct sigaction *);

/* The i386 exception vectors a kernel reports in the context's trap number. */
enum {
    TRAP_DIVIDE_ERROR = 0,
    TRAP_DEBUG = 1,
    TRAP_BREAKPOINT = 3,
    TRAP_INVALID_OPCODE = 6,
    TRAP_GENERAL_PROTECTION = 13,
    TRAP_PAGE_FAULT = 14,
    TRAP_X87_FLOATING_POINT = 16,
    TRAP_ALIGNMENT_CHECK = 17,
};

/* The program's own action for each signal whose handler we wrap. */
static struct sigaction program_actions[NSIG];
static volatile sig_atomic_t wrapped[NSIG];

static int is_fault_signal(int signal)
{
    return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE ||
           signal == SIGTRAP;
}

static int trap_number(int signal, const siginfo_t *info)
{
    switch (signal) {
    case SIGSEGV:
        /* The kernel sends SI_KERNEL for a protection fault, a SEGV_* code for a page fault. */
        return info->si_code == SI_KERNEL ? TRAP_GENERAL_PROTECTION : TRAP_PAGE_FAULT;
    case SIGBUS:
        return info->si_code == BUS_ADRALN ? TRAP_ALIGNMENT_CHECK : TRAP_PAGE_FAULT;
    case SIGILL:
        return TRAP_INVALID_OPCODE;
    case SIGFPE:
        return info->si_code == FPE_INTDIV || info->si_code == FPE_INTOVF ? TRAP_DIVIDE_ERROR
                                                                          : TRAP_X87_FLOATING_POINT;
    case SIGTRAP:
        return info->si_code == TRAP_TRACE ? TRAP_DEBUG : TRAP_BREAKPOINT;
    default:
        return -1;
    }
}

static void fix_trap_number(int signal, siginfo_t *info, void *context)
{
    ucontext_t *ucontext = context;
    if (ucontext != NULL && info != NULL && (int)ucontext->uc_mcontext.gregs[REG_TRAPNO] == -1) {
        ucontext->uc_mcontext.gregs[REG_TRAPNO] = trap_number(signal, info);
    }
    program_actions[signal].sa_sigaction(signal, info, context);
}

static sigaction_function real_sigaction(void)
{
    static sigaction_function real;
    if (real == NULL) {
        real = (sigaction_function)dlsym(RTLD_NEXT, "sigaction");
    }
    return real;
}

int sigaction(int signal, const struct sigaction *action, struct sigaction *old_action)
{
    sigaction_function real = real_sigaction();
    if (real == NULL) {
        return -1;
    }
    if (signal <= 0 || signal >= NSIG || !is_fault_signal(signal)) {
        return real(signal, action, old_action);
    }

    struct sigaction previous = program_actions[signal];
    int was_wrapped = wrapped[signal];
    int result;
    if (action != NULL && (action->sa_flags & SA_SIGINFO) != 0 && action->sa_sigaction != NULL) {
        struct sigaction ours = *action;
        ours.sa_sigaction = fix_trap_number;
        program_actions[signal] = *action;  /* before the handler can run */
        result = real(signal, &ours, old_action);
        if (result != 0) {
            program_actions[signal] = previous;
            return result;
        }
        wrapped[signal] = 1;
    } else {
        result = real(signal, action, old_action);
        if (result == 0 && action != NULL) {
            wrapped[signal] = 0;
        }
    }
    /* The program sees its own handler, never the wrapper. */
    if (result == 0 && old_action != NULL && was_wrapped) {
        *old_action = previous;
    }
    return result;
}

/* The emulation wrapper adds this library to each 32-bit process it starts;
   take it out of the environment again so 64-bit children (wineserver, the
   64-bit loader) are not asked to preload a 32-bit library. */
__attribute__((constructor)) static void leave_environment_clean(void)
{
    const char *preload = getenv("LD_PRELOAD");
    Dl_info self;
    if (preload != NULL && dladdr((void *)leave_environment_clean, &self) != 0 &&
        self.dli_fname != NULL && strcmp(preload, self.dli_fname) == 0) {
        unsetenv("LD_PRELOAD");
    }
}
