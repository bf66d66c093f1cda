// The POSIX terminal itself: modes, handlers and flags. Everything here may be
// reached from a signal handler, so the state is process-wide and plain.

#include "console/terminal_posix.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

termios savedModes;
volatile sig_atomic_t haveSavedModes = 0;
volatile sig_atomic_t sequences = 0;  // standard output takes escape sequences
// From takeTerminal to the final giveTerminalBack: whenever the program is in
// the foreground, the terminal is to be in key mode.
volatile sig_atomic_t terminalWanted = 0;
// Key mode and autowrap off are in force, as far as the program knows.
volatile sig_atomic_t terminalTaken = 0;
volatile sig_atomic_t shownAttr = -1;   // attribute the terminal has now, -1 unknown
volatile sig_atomic_t screenStale = 0;  // resized or resumed: the next key wait redraws
volatile sig_atomic_t hangUp = 0;       // the terminal went away: no key can come
bool inputGone = false;  // the key wait saw standard input hung up or failed
volatile sig_atomic_t continues = 0;    // how many times the program was continued
volatile sig_atomic_t resized = 1;      // the window's size is to be read (again)
WindowSize window;
bool inBackground = false;  // as the key wait last saw it
constexpr int BACKGROUND_CHECK_MS = 250;

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

template <typename Call>
auto retried(Call call)
{
    auto result = call();
    while (result < 0 && errno == EINTR)
        result = call();
    return result;
}

int writeAll(int fd, const char* text, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, text, size);
        if (n > 0) {
            text += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Left non-blocking by another program: wait for room, then go on.
            pollfd room{fd, POLLOUT, 0};
            if (retried([&room] { return ::poll(&room, 1, -1); }) < 0)
                return errno;
        } else {
            return n < 0 ? errno : EIO;
        }
    }
    return 0;
}

bool isTerminal(int fd)
{
    for (;;) {
        if (::isatty(fd) != 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// A descriptor that is no terminal, or not this session's, has no foreground
// to lose.
bool inForeground(int fd)
{
    const pid_t group = retried([fd] { return ::tcgetpgrp(fd); });
    return group < 0 || group == ::getpgrp();
}

bool inForeground()
{
    return inForeground(STDIN_FILENO) && inForeground(STDOUT_FILENO);
}

void writeText(const char* text)
{
    writeOutput(text, std::strlen(text));
}

// Only in the foreground: from the background the shell's terminal is not touched.
void enterKeyMode()
{
    if (sequences != 0)
        writeText(TAKE_OUTPUT);
    if (haveSavedModes != 0) {
        termios raw = savedModes;
        raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN);
        raw.c_lflag |= ISIG;  // Ctrl-C still ends the program, Ctrl-Z still stops it, through the handlers
        raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
        // A read never waits: the key wait does, with the signals it must see.
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        retried([&raw] { return ::tcsetattr(STDIN_FILENO, TCSANOW, &raw); });
    }
    terminalTaken = 1;
}

void takeBackInForeground()
{
    // A stop waits: its handler is not to give the terminal back half taken.
    sigset_t stop;
    sigset_t before;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    ::sigprocmask(SIG_BLOCK, &stop, &before);
    if (terminalWanted != 0 && inForeground()) {
        enterKeyMode();
        screenStale = 1;
        resized = 1;  // a resize while away reached the shell, not the program
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

// Modes and sequences back as they were, with every signal that could cut in
// held off. SIGTTOU and SIGTTIN stay open: with them held, a background
// process would be let through to change the shell's terminal.
void releaseTerminal()
{
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    sigdelset(&all, SIGTTOU);
    sigdelset(&all, SIGTTIN);
    ::sigprocmask(SIG_BLOCK, &all, &before);
    if (terminalTaken != 0) {
        // In the background the shell has the terminal already, with its own modes.
        bool done = true;
        if (sequences != 0 && inForeground(STDOUT_FILENO))
            writeOutput(GIVE_BACK_OUTPUT, sizeof GIVE_BACK_OUTPUT - 1);
        if (haveSavedModes != 0 && inForeground(STDIN_FILENO))
            done = retried([] { return ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedModes); }) == 0;
        if (done)
            terminalTaken = 0;
        shownAttr = -1;
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

// `held` waits while the handler runs.
void installHandler(int sig, void (*handler)(int), int flags, int held)
{
    struct sigaction act {};
    act.sa_handler = handler;
    act.sa_flags = flags;
    sigemptyset(&act.sa_mask);
    if (held != 0)
        sigaddset(&act.sa_mask, held);
    ::sigaction(sig, &act, nullptr);
}

// Keeps what the caller chose to ignore (nohup), and leaves installed handlers
// (a sanitizer's, or the memory guard where it came first) alone.
void installOverDefault(int sig, void (*handler)(int), int flags, int held = 0)
{
    struct sigaction old {};
    ::sigaction(sig, nullptr, &old);
    if (old.sa_handler == SIG_DFL)
        installHandler(sig, handler, flags, held);
}

void onTerminatingSignal(int sig)
{
    const int savedErrno = errno;
    if (terminalWanted != 0) {
        giveTerminalBack();
        if (sequences != 0 && inForeground(STDOUT_FILENO))
            writeText("\r\n");
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);  // delivered once this handler returns: the default action follows
    errno = savedErrno;
}

bool pendingSignal(int sig)
{
    sigset_t pending;
    return ::sigpending(&pending) == 0 && sigismember(&pending, sig) == 1;
}

// Stopping means raising the stop again, and a stop raised discards any
// continue still pending. So the continue is held from the moment this stop
// is delivered (the handler's mask), and the stop is raised at once, unless a
// continue came in between. One comes when the shell runs the program in a
// script: the shell takes the terminal, and may continue the script, before
// the program has stopped.
void onStopSignal(int sig)
{
    const int savedErrno = errno;
    const sig_atomic_t before = continues;
    ::signal(sig, SIG_DFL);
    if (!pendingSignal(SIGCONT))
        ::raise(sig);  // pending while held: a continue from now on discards it
    releaseTerminal();
    // A continue that came meanwhile is taken now, after the terminal was given back.
    sigset_t cont;
    sigemptyset(&cont);
    sigaddset(&cont, SIGCONT);
    ::sigprocmask(SIG_UNBLOCK, &cont, nullptr);
    if (pendingSignal(sig)) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        ::sigprocmask(SIG_UNBLOCK, &set, nullptr);  // stops here until continued
    }
    installHandler(sig, onStopSignal, 0, SIGCONT);
    // An orphaned process group is not stopped at all.
    if (continues == before)
        takeBackInForeground();
    errno = savedErrno;
}

// After any stop, Ctrl-Z or not: the shell may have set its own modes meanwhile.
void onContinue(int)
{
    const int savedErrno = errno;
    continues = continues + 1;
    takeBackInForeground();
    errno = savedErrno;
}

void onScreenChange(int)
{
    screenStale = 1;
    resized = 1;
}

void onHangUp(int)
{
    hangUp = 1;
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

// As any program that reads its terminal from the background: stopped until
// "fg" continues it, with the terminal left as the shell has it. Unless the
// stop was ignored, or is discarded (an orphaned process group). The whole
// process group stops, as the terminal would stop it: a script that runs the
// program stops with it, so that the shell sees the job stopped.
void stopForTerminalInput()
{
    struct sigaction current {};
    if (::sigaction(SIGTTIN, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        ::kill(0, SIGTTIN);
}

bool plainTerminalType()
{
    const char* const type = std::getenv("TERM");
    return type == nullptr || *type == '\0' || std::strcmp(type, "dumb") == 0;
}

}  // namespace

void takeTerminal()
{
    if (isTerminal(STDIN_FILENO) && retried([] { return ::tcgetattr(STDIN_FILENO, &savedModes); }) == 0)
        haveSavedModes = 1;
    sequences = isTerminal(STDOUT_FILENO) && !plainTerminalType() ? 1 : 0;
    giveAlternateStack();
    holdSignals();
    for (const int sig : terminatingSignals)
        installOverDefault(sig, onTerminatingSignal, SA_ONSTACK);
    installOverDefault(SIGTSTP, onStopSignal, 0, SIGCONT);
    installOverDefault(SIGWINCH, onScreenChange, 0);  // no SA_RESTART: the key wait wakes up
    installOverDefault(SIGCONT, onContinue, 0);
    // A hang-up is the end of input: the browser ends as it does when no more keys come.
    installOverDefault(SIGHUP, onHangUp, 0);
    terminalWanted = 1;
    // Started in the background: taken once it is brought to the foreground.
    if (inForeground())
        enterKeyMode();
}

void giveTerminalBack()
{
    terminalWanted = 0;
    releaseTerminal();
}

bool inputIsTerminal()
{
    return haveSavedModes != 0;
}

bool outputTakesSequences()
{
    return sequences != 0;
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

WindowSize windowSize()
{
    if (resized == 0)
        return window;
    resized = 0;  // first: a resize while reading reads again
    winsize size{};
    if (isTerminal(STDOUT_FILENO) && retried([&size] { return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size); }) == 0)
        window = WindowSize{size.ws_row, size.ws_col};
    else
        window = WindowSize{};
    return window;
}

bool outputInForeground()
{
    return inForeground(STDOUT_FILENO);
}

int writeOutput(const char* text, std::size_t size)
{
    return writeAll(STDOUT_FILENO, text, size);
}

void failOutput(int error)
{
    giveTerminalBack();
    const char* const parts[] = {"gleanhex: cannot write to standard output: ", std::strerror(error), "\n"};
    for (const char* part : parts)
        writeAll(STDERR_FILENO, part, std::strlen(part));
    // Not exit(): its handlers would flush the output that just failed.
    ::_exit(1);
}

InputWait waitForInput(int timeoutMs, bool watchScreen)
{
    for (;;) {
        // Checked with the signals held: one that comes now waits for ppoll,
        // which then returns at once.
        if (hangUp != 0)
            return InputWait::ENDED;
        const bool inFront = inForeground();
        if (!inFront) {
            inBackground = true;
        } else if (inBackground) {
            // "fg" on a job that was running sends no continue.
            inBackground = false;
            takeBackInForeground();
        }
        if (watchScreen && screenStale != 0 && inFront)
            return InputWait::STALE;
        if (!inFront && haveSavedModes != 0)
            stopForTerminalInput();
        // In the background no key is read: the front is looked for now and then,
        // for the cases where no stop and no continue come.
        const bool keys = haveSavedModes == 0 || inFront;
        const int waitMs = inFront || timeoutMs >= 0 ? timeoutMs : BACKGROUND_CHECK_MS;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        timespec limit{waitMs / 1000, (waitMs % 1000) * 1000000L};
        const int ready = ::ppoll(keys ? &input : nullptr, keys ? 1 : 0, waitMs >= 0 ? &limit : nullptr,
                                  signalsHeld ? &waitMask : nullptr);
        if (ready == 0 && waitMs == timeoutMs)
            return InputWait::TIMED_OUT;
        inputGone = ready > 0 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return InputWait::READY;  // the read says what is there, or what went wrong
    }
}

bool takeScreenChange()
{
    const bool changed = screenStale != 0;
    screenStale = 0;
    return changed;
}

InputRead readInput(std::uint8_t& byte)
{
    if (haveSavedModes == 0) {
        const ssize_t n = retried([&byte] { return ::read(STDIN_FILENO, &byte, 1); });
        return n == 1 ? InputRead::BYTE : InputRead::ENDED;
    }
    // Held, SIGTTIN makes a read from the background fail instead of stopping
    // the whole job, a wrapping script with it.
    sigset_t ttin;
    sigset_t before;
    sigemptyset(&ttin);
    sigaddset(&ttin, SIGTTIN);
    ::sigprocmask(SIG_BLOCK, &ttin, &before);
    const ssize_t n = retried([&byte] { return ::read(STDIN_FILENO, &byte, 1); });
    const int error = errno;
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    if (n == 1)
        return InputRead::BYTE;
    if (hangUp != 0 || inputGone)
        return InputRead::ENDED;
    // Nothing after all: a shell read it while the program was being stopped.
    if (n == 0 || error == EAGAIN || error == EWOULDBLOCK || (error == EIO && !inForeground(STDIN_FILENO)))
        return InputRead::NONE;
    return InputRead::ENDED;
}
