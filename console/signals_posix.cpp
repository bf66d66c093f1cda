#include "console/signals_posix.h"

#include <signal.h>

#include <cstddef>

#include "common/system_posix.h"
#include "console/terminal_posix.h"

namespace {

// Room for the fatal-signal handlers when the fault is the stack running out.
constexpr std::size_t ALT_STACK_BYTES = std::size_t{64} * 1024;
alignas(16) char altStack[ALT_STACK_BYTES];

const int terminatingSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGPIPE, SIGALRM,
                                  SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGABRT, SIGSEGV,
                                  SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
int setHandler(int sig, void (*handler)(int), int flags, const sigset_t& held)
{
    struct sigaction act {};
    act.sa_handler = handler;
    act.sa_flags = flags;
    act.sa_mask = held;
    return ::sigaction(sig, &act, nullptr) == 0 ? 0 : errno;
}

// Whether the signal is the system's to act on: not ignored (nohup), not
// handled by anyone else (a sanitizer, or the memory guard where it came first).
bool atDefault(int sig)
{
    struct sigaction old {};
    return ::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL;
}

bool pendingSignal(int sig)
{
    sigset_t pending;
    return ::sigpending(&pending) == 0 && sigismember(&pending, sig) == 1;
}

void onTerminatingSignal(int sig)
{
    const ErrnoKept errnoKept;
    giveTerminalBackOnSignal();
    ::signal(sig, SIG_DFL);
    ::raise(sig);  // delivered once this handler returns: the default action follows
}

void onStopSignal(int sig);

// Stopping means raising the stop again, and a stop raised discards any
// continue still pending, so the continue is held from the moment this stop
// is delivered (the handler's mask), and the stop is raised at once, unless a
// continue came in between. The terminal is given back whether or not the
// shell took it already: run from a script, the program is stopped after the
// script, whose shell may be reading by then.
void onStopSignal(int sig)
{
    const ErrnoKept errnoKept;
    // An orphaned process group is not stopped at all: nothing to give back.
    if (!groupCanStop())
        return;
    noteStop();
    ::signal(sig, SIG_DFL);
    if (!pendingSignal(SIGCONT))
        ::raise(sig);  // pending while held: a continue from now on discards it
    giveTerminalBackForStop();
    {
        // Stops here, until continued, unless a continue came meanwhile.
        const sigset_t stop = signalSet({sig});
        ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    }
    setHandler(sig, onStopSignal, 0, signalSet({SIGCONT}));
    takeTerminalBack();
}

// After any stop, Ctrl-Z or not: the shell may have set its own modes meanwhile.
void onContinue(int)
{
    const ErrnoKept errnoKept;
    takeTerminalBack();
}

void onScreenChange(int)
{
    noteScreenChange();
}

void onHangUp(int)
{
    noteHangUp();
}

// Unless something (a sanitizer) already gave this thread one.
int giveAlternateStack()
{
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0)
        return 0;
    stack_t stack{};
    stack.ss_sp = altStack;
    stack.ss_size = sizeof altStack;
    return ::sigaltstack(&stack, nullptr) == 0 ? 0 : errno;
}

}  // namespace

int installSignalHandlers()
{
    if (const int error = giveAlternateStack(); error != 0)
        return error;
    // One the system refuses (a sandbox's fault signals) ends the program as
    // the system does; the memory guard says whether it can do without.
    for (const int sig : terminatingSignals)
        if (atDefault(sig))
            setHandler(sig, onTerminatingSignal, SA_ONSTACK, signalSet({}));
    struct Handled {
        int sig;
        void (*handler)(int);
        sigset_t held;
    };
    // No SA_RESTART: the key wait wakes up for each.
    const Handled handled[] = {
        {SIGTSTP, onStopSignal, signalSet({SIGCONT})},
        {SIGCONT, onContinue, signalSet({SIGTSTP})},
        {SIGWINCH, onScreenChange, signalSet({})},
        // A hang-up is the end of input: the browser ends as it does when no more keys come.
        {SIGHUP, onHangUp, signalSet({})},
    };
    for (const Handled& h : handled)
        if (atDefault(h.sig))
            if (const int error = setHandler(h.sig, h.handler, 0, h.held); error != 0)
                return error;
    return 0;
}
