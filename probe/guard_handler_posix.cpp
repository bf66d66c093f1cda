// The guard's signal handler on POSIX. A SIGSEGV or SIGBUS raised by a guarded
// access fails that access; everything else is handed on as if the guard were
// not there: to the handler installed before it, with that handler's own mask
// and flags, or to the default action.

#include "probe/guard_access.h"

#include <pthread.h>
#include <signal.h>
#include <ucontext.h>

namespace {

// Set once before the first guarded access, then changed only by the handler
// itself, as the kernel would have changed them (SA_RESETHAND).
struct sigaction previousSegv;
struct sigaction previousBus;

// kill, raise, sigqueue and the like report a code of zero or below; a fault
// (and the kernel's own SI_KERNEL) a positive one.
bool wasSent(const siginfo_t* info)
{
    return info == nullptr || info->si_code <= 0;
}

bool has(const struct sigaction& action, unsigned flag)
{
    return (static_cast<unsigned>(action.sa_flags) & flag) != 0;
}

bool isHandler(const struct sigaction& action)
{
    return has(action, SA_SIGINFO) || (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN);
}

// The default action now. A fault that returned would be raised again by its
// instruction; a sent signal would be gone, so it is raised once more.
void takeDefaultAction(int sig)
{
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
}

// Runs the earlier handler as the kernel would have: with the mask of the
// interrupted code plus its own sa_mask, the signal itself blocked unless it
// asked for SA_NODEFER, and its disposition reset first for SA_RESETHAND.
void callEarlierHandler(int sig, siginfo_t* info, void* context, struct sigaction& previous)
{
    const struct sigaction earlier = previous;
    if (has(earlier, SA_RESETHAND)) {
        previous = {};
        previous.sa_handler = SIG_DFL;
    }
    sigset_t mask = static_cast<ucontext_t*>(context)->uc_sigmask;
    for (int s = 1; s < NSIG; ++s)
        if (sigismember(&earlier.sa_mask, s) == 1)
            sigaddset(&mask, s);
    if (has(earlier, SA_NODEFER))
        sigdelset(&mask, sig);
    else
        sigaddset(&mask, sig);
    sigset_t ours;
    ::pthread_sigmask(SIG_SETMASK, &mask, &ours);
    if (has(earlier, SA_SIGINFO))
        earlier.sa_sigaction(sig, info, context);
    else
        earlier.sa_handler(sig);
    ::pthread_sigmask(SIG_SETMASK, &ours, nullptr);
}

void onFault(int sig, siginfo_t* info, void* context)
{
    const bool sent = wasSent(info);
    if (!sent && resumeGuardedAccess(sig, info, context))
        return;
    struct sigaction& previous = sig == SIGBUS ? previousBus : previousSegv;
    if (isHandler(previous))
        callEarlierHandler(sig, info, context, previous);
    else if (!sent || previous.sa_handler != SIG_IGN)
        takeDefaultAction(sig);
}

bool installGuard()
{
    struct sigaction act {};
    act.sa_sigaction = onFault;
    act.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&act.sa_mask);
    ::sigaction(SIGSEGV, &act, &previousSegv);
    ::sigaction(SIGBUS, &act, &previousBus);
    return true;
}

}  // namespace

void ensureGuard()
{
    [[maybe_unused]] static const bool installed = installGuard();
}
