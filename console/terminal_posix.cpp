// The POSIX terminal itself: modes, handlers and flags. Everything here may be
// reached from a signal handler, so the state is process-wide and plain.

#include "console/terminal_posix.h"

#include <signal.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace {

termios savedModes;
volatile sig_atomic_t haveSavedModes = 0;
volatile sig_atomic_t terminalTaken = 0;
volatile sig_atomic_t shownAttr = -1;   // attribute the terminal has now, -1 unknown
volatile sig_atomic_t screenStale = 0;  // resized or resumed: the next key wait redraws
volatile sig_atomic_t hangUp = 0;       // the terminal went away: no key can come

// Resizes, continues and hang-ups wait while these are held, except inside waitForInput.
bool signalsHeld = false;
sigset_t waitMask;

// Room for the fatal-signal handlers when the fault is the stack running out.
constexpr std::size_t ALT_STACK_BYTES = std::size_t{64} * 1024;
alignas(16) char altStack[ALT_STACK_BYTES];

const int terminatingSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGPIPE, SIGALRM,
                                  SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGABRT, SIGSEGV,
                                  SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
const int heldSignals[] = {SIGWINCH, SIGCONT, SIGHUP};

// Autowrap off: a row wider than the terminal is cut at its right edge instead
// of pushing the whole frame up a line.
constexpr char TAKE_OUTPUT[] = "\x1b[?7l";
// Colours reset last, so that nothing after them can undo it.
constexpr char GIVE_BACK_OUTPUT[] = "\x1b[?7h\x1b[0m";

void writeText(const char* text)
{
    std::size_t size = 0;
    while (text[size] != '\0')
        ++size;
    writeToTerminal(text, size);
}

void enterKeyMode()
{
    writeText(TAKE_OUTPUT);
    if (haveSavedModes == 0)
        return;
    termios raw = savedModes;
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN);
    raw.c_lflag |= ISIG;  // Ctrl-C still ends the program, Ctrl-Z still stops it, through the handlers
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

void onTerminatingSignal(int sig)
{
    const int savedErrno = errno;
    if (terminalTaken != 0) {
        giveTerminalBack();
        writeText("\r\n");
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);  // delivered once this handler returns: the default action follows
    errno = savedErrno;
}

void onStopSignal(int sig)
{
    const int savedErrno = errno;
    const bool taken = terminalTaken != 0;
    giveTerminalBack();
    ::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::raise(sig);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);  // stops here until continued
    struct sigaction again {};
    again.sa_handler = onStopSignal;
    sigemptyset(&again.sa_mask);
    ::sigaction(sig, &again, nullptr);
    if (taken) {
        terminalTaken = 1;
        enterKeyMode();
        // This continue is taken care of here: when it came while held, it is
        // dropped, or it would ask for a second redraw after the first.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction kept {};
        ::sigaction(SIGCONT, &ignore, &kept);
        ::sigaction(SIGCONT, &kept, nullptr);
        screenStale = 1;
    }
    errno = savedErrno;
}

void onScreenChange(int)
{
    screenStale = 1;
}

void onHangUp(int)
{
    hangUp = 1;
}

void handle(int sig, void (*handler)(int), int flags)
{
    struct sigaction old {};
    ::sigaction(sig, nullptr, &old);
    // Keep what the caller chose to ignore (nohup), and leave installed handlers
    // (the memory guard, a sanitizer) alone.
    if (old.sa_handler != SIG_DFL)
        return;
    struct sigaction act {};
    act.sa_handler = handler;
    act.sa_flags = flags;
    sigemptyset(&act.sa_mask);
    ::sigaction(sig, &act, nullptr);
}

// Unless something (a sanitizer) already gave this thread one.
void giveAlternateStack()
{
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0)
        return;
    stack_t stack{};
    stack.ss_sp = altStack;
    stack.ss_size = sizeof altStack;
    ::sigaltstack(&stack, nullptr);
}

void holdSignals()
{
    sigset_t held;
    sigemptyset(&held);
    for (const int sig : heldSignals)
        sigaddset(&held, sig);
    signalsHeld = ::sigprocmask(SIG_BLOCK, &held, &waitMask) == 0;
    for (const int sig : heldSignals)
        sigdelset(&waitMask, sig);
}

}  // namespace

void takeTerminal()
{
    if (::isatty(STDIN_FILENO) != 0 && ::tcgetattr(STDIN_FILENO, &savedModes) == 0)
        haveSavedModes = 1;
    giveAlternateStack();
    holdSignals();
    for (const int sig : terminatingSignals)
        handle(sig, onTerminatingSignal, SA_ONSTACK);
    handle(SIGTSTP, onStopSignal, 0);
    handle(SIGWINCH, onScreenChange, 0);  // no SA_RESTART: the key wait wakes up
    handle(SIGCONT, onScreenChange, 0);
    // A hang-up is the end of input: the browser ends as it does when no more keys come.
    handle(SIGHUP, onHangUp, 0);
    terminalTaken = 1;
    enterKeyMode();
}

void giveTerminalBack()
{
    if (terminalTaken == 0)
        return;
    terminalTaken = 0;
    writeText(GIVE_BACK_OUTPUT);
    shownAttr = -1;
    if (haveSavedModes != 0)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedModes);
}

bool inputIsTerminal()
{
    return haveSavedModes != 0;
}

int editingChar(int index)
{
    if (haveSavedModes == 0 || savedModes.c_cc[index] == _POSIX_VDISABLE)
        return -1;
    return savedModes.c_cc[index];
}

int shownAttribute()
{
    return shownAttr;
}

void noteShownAttribute(int attr)
{
    shownAttr = attr;
}

void writeToTerminal(const char* text, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, text, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

InputWait waitForInput(int timeoutMs, bool watchScreen)
{
    for (;;) {
        // Checked with the signals held: one that comes now waits for pselect,
        // which then returns at once.
        if (hangUp != 0)
            return InputWait::ENDED;
        if (watchScreen && screenStale != 0)
            return InputWait::STALE;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(STDIN_FILENO, &readable);
        timespec limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
        const int ready = ::pselect(STDIN_FILENO + 1, &readable, nullptr, nullptr, timeoutMs >= 0 ? &limit : nullptr,
                                    signalsHeld ? &waitMask : nullptr);
        if (ready == 0)
            return InputWait::TIMED_OUT;
        if (ready > 0 || errno != EINTR)
            return InputWait::READY;  // the read says what is there, or what went wrong
    }
}

bool takeScreenChange()
{
    const bool changed = screenStale != 0;
    screenStale = 0;
    return changed;
}
