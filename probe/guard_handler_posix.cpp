// The guard's signal handler on POSIX. A SIGSEGV or SIGBUS raised by a guarded
// access fails that access; everything else is handed on as if the guard were
// not there: to the handler installed before it, with that handler's own mask
// and flags, or to the default action.

#include "probe/guard_access.h"

#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

// Set once before the first guarded access, then changed only by the handler
// itself, as the kernel would have changed them (SA_RESETHAND).
struct sigaction previousSegv;
struct sigaction previousBus;

// Left by the handler for the access it fails.
volatile sig_atomic_t latestReach = static_cast<sig_atomic_t>(FaultReach::ONE_BYTE);

#ifndef SEGV_PKUERR
#define SEGV_PKUERR 4  // older headers lack it; the kernel's number
#endif

// The causes that hold for a whole page. Everything else (a tag mismatch, a
// hardware error, a code this program does not know) holds for the byte alone.
FaultReach reachOf(int sig, const siginfo_t& info)
{
    const int code = info.si_code;
    if (sig == SIGSEGV && (code == SEGV_MAPERR || code == SEGV_ACCERR || code == SEGV_PKUERR))
        return FaultReach::WHOLE_PAGE;
    if (sig == SIGBUS && code == BUS_ADRERR)
        return FaultReach::WHOLE_PAGE;
    return FaultReach::ONE_BYTE;
}

// kill, raise, sigqueue and the like report a code of zero or below; a fault
// (and the kernel's own SI_KERNEL) a positive one.
bool wasSent(const siginfo_t* info)
{
    return info == nullptr || info->si_code <= 0;
}

bool hasFlag(const struct sigaction& action, unsigned flag)
{
    return (static_cast<unsigned>(action.sa_flags) & flag) != 0;
}

bool isHandler(const struct sigaction& action)
{
    return hasFlag(action, SA_SIGINFO) || (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN);
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
    if (hasFlag(earlier, SA_RESETHAND)) {
        previous = {};
        previous.sa_handler = SIG_DFL;
    }
    sigset_t mask = static_cast<ucontext_t*>(context)->uc_sigmask;
    for (int s = 1; s < NSIG; ++s)
        if (sigismember(&earlier.sa_mask, s) == 1)
            sigaddset(&mask, s);
    if (hasFlag(earlier, SA_NODEFER))
        sigdelset(&mask, sig);
    else
        sigaddset(&mask, sig);
    sigset_t ours;
    ::pthread_sigmask(SIG_SETMASK, &mask, &ours);
    if (hasFlag(earlier, SA_SIGINFO))
        earlier.sa_sigaction(sig, info, context);
    else
        earlier.sa_handler(sig);
    ::pthread_sigmask(SIG_SETMASK, &ours, nullptr);
}

void onFault(int sig, siginfo_t* info, void* context)
{
    const bool sent = wasSent(info);
    if (!sent) {
        // Before the resume, which the portable guard makes by a jump that never returns.
        latestReach = static_cast<sig_atomic_t>(reachOf(sig, *info));
        if (resumeGuardedAccess(sig, info, context))
            return;
    }
    struct sigaction& previous = sig == SIGBUS ? previousBus : previousSegv;
    if (isHandler(previous))
        callEarlierHandler(sig, info, context, previous);
    else if (!sent || previous.sa_handler != SIG_IGN)
        takeDefaultAction(sig);
}

bool isTheGuard(const struct sigaction& action)
{
    return hasFlag(action, SA_SIGINFO) && action.sa_sigaction == onFault;
}

// Keeps what `sig` did until now for every signal that is not the guard's own,
// then takes it; what was kept stays if it was the guard already.
bool takeSignal(int sig, struct sigaction& previous)
{
    struct sigaction found {};
    if (::sigaction(sig, nullptr, &found) != 0)
        return false;
    if (isTheGuard(found))
        return true;
    previous = found;
    struct sigaction act {};
    act.sa_sigaction = onFault;
    act.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&act.sa_mask);
    return ::sigaction(sig, &act, nullptr) == 0;
}

}  // namespace

bool installGuard()
{
    return takeSignal(SIGSEGV, previousSegv) && takeSignal(SIGBUS, previousBus);
}

FaultReach latestFaultReach()
{
    return static_cast<FaultReach>(latestReach);
}

Address pageBytes()
{
    return static_cast<Address>(::sysconf(_SC_PAGESIZE));
}
