// The POSIX terminal itself. Everything here may be reached from a signal
// handler, so the state is one plain process-wide record and every call is
// async-signal-safe, except where said.

#include "console/terminal_posix.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/system_posix.h"
#include "console/description_posix.h"

namespace {

struct Terminal {
    // What standard input and output are, found at the start.
    bool input = false;      // the controlling terminal, whose modes are managed
    bool output = false;     // the controlling terminal
    bool takesSequences = false;  // ... and it takes escape sequences
    pid_t group = 0;
    // The modes to give back, as read in the foreground, and key mode made of them.
    termios saved{};
    termios keys{};
    volatile sig_atomic_t haveModes = 0;
    // From takeTerminal to the final give-back: whenever the program is in the
    // foreground, key mode and its sequences are to be in force.
    volatile sig_atomic_t wanted = 0;
    // Key mode and the sequences are in force, as far as the program knows.
    volatile sig_atomic_t taken = 0;
    // Bumped by every resize, stop and continue: what they may change (the
    // window's size, the foreground) is asked again.
    volatile sig_atomic_t changes = 0;
    // Bumped by whatever leaves the screen to be drawn again: a resize, or
    // taking the terminal back from a shell that had it.
    volatile sig_atomic_t redraws = 0;
    volatile sig_atomic_t hungUp = 0;
    // Read by the program's own flow only.
    bool inputOver = false;
    sig_atomic_t screenSeen = 0;
    sig_atomic_t frontAsked = -1;
    bool front = true;
    sig_atomic_t sizeRead = -1;
    WindowSize window;
    // Bytes read from the terminal and not yet taken: all a key's bytes come in
    // one read, and keys and values take them from here alike. A pipe is read
    // a byte at a time, never ahead: what the program leaves of it is still
    // there for whatever reads it next (a script's next command).
    std::uint8_t bytes[256]{};
    std::size_t bytesAt = 0;
    std::size_t bytesRead = 0;
    // Written when the terminal is taken and when it is given back: autowrap,
    // the keypad's mode, the colours.
    char takeSequences[48] = "";
    char giveBackSequences[48] = "";
    // The mask the key wait opens: the held signals come in only there, so
    // none can slip in between a check of the state and the wait.
    sigset_t waitMask{};
    bool signalsHeld = false;
    // In the background, unable to stop: input is waiting that the program did
    // not read, so the wait cannot wake on input and looks again now and then.
    bool foreignInput = false;
};

Terminal t;

// Autowrap off: a row wider than the terminal is cut at its right edge instead
// of pushing the whole frame up a line.
constexpr int BACKGROUND_LOOK_MS = 250;

// Around the keypad-transmit mode the terminal's description gives.
constexpr char TAKE_SEQUENCES[] = "\x1b[?7l";
// Colours reset last, so that nothing after them can undo it.
constexpr char GIVE_BACK_SEQUENCES[] = "\x1b[?7h\x1b[0m";

// The calls that give the terminal back run from the background too: with
// SIGTTOU held the system lets them through instead of stopping the program.
const sigset_t& everySignal()
{
    static const sigset_t all = [] {
        sigset_t set;
        sigfillset(&set);
        return set;
    }();
    return all;
}

int writeAll(int fd, const char* text, std::size_t size, bool onlyInFront)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, text, size);
        if (n > 0) {
            text += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            // A stop may have come between: the rest goes only to a terminal still ours.
            if (onlyInFront && !outputInForeground())
                return LOST_FOREGROUND;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Left non-blocking by another program: wait for room, then go on.
            pollfd room{fd, POLLOUT, 0};
            if (retryOnInterrupt([&room] { return ::poll(&room, 1, -1); }) < 0)
                return errno;
        } else {
            return n < 0 ? errno : EIO;
        }
    }
    return 0;
}

int writeText(const char* text, std::size_t size)
{
    return writeAll(STDOUT_FILENO, text, size, false);
}

// Whether `fd` is this session's controlling terminal: 1 yes, 0 no (not a
// terminal, or another session's), -1 when it cannot be told (errno says why).
int controllingTerminal(int fd)
{
    if (retryOnInterrupt([fd] { return ::isatty(fd) != 0 ? 1 : -1; }) < 0)
        return errno == ENOTTY || errno == EINVAL || errno == EBADF ? 0 : -1;
    const pid_t session = ::getsid(0);
    const pid_t owner = retryOnInterrupt([fd] { return ::tcgetsid(fd); });
    if (owner < 0)
        return errno == ENOTTY ? 0 : -1;
    return owner == session ? 1 : 0;
}

bool plainTerminalType()
{
    const char* const type = std::getenv("TERM");
    return type == nullptr || *type == '\0' || std::strcmp(type, "dumb") == 0;
}

// The descriptor whose foreground group counts: the terminal the program has.
int terminalFd()
{
    return t.input ? STDIN_FILENO : t.output ? STDOUT_FILENO : -1;
}

// A descriptor that is no terminal has no foreground to lose.
bool askFront()
{
    const int fd = terminalFd();
    if (fd < 0)
        return true;
    const pid_t group = retryOnInterrupt([fd] { return ::tcgetpgrp(fd); });
    return group < 0 || group == t.group;
}

termios keyModeOf(const termios& modes)
{
    termios raw = modes;
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN);
    raw.c_lflag |= ISIG;  // Ctrl-C still ends the program, Ctrl-Z still stops it, through the handlers
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    // A read waits for a byte: a shell that inherits these modes after a stop
    // nobody can catch still reads, where 0 would be an end of file to it. The
    // program itself reads only once the key wait has seen a byte.
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    return raw;
}

bool sameModes(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// The modes the terminal has now; false when they cannot be read.
bool modesNow(termios& now)
{
    return retryOnInterrupt([&now] { return ::tcgetattr(STDIN_FILENO, &now); }) == 0;
}

// Only in the foreground. The modes are read afresh unless they are still
// the program's own (nobody set theirs since), so that what is given back is
// what the shell gave the job this time. 0 or the errno of the failure.
int enterKeyMode()
{
    if (t.input) {
        termios now{};
        if (!modesNow(now))
            return errno;
        if (t.haveModes == 0 || !sameModes(now, t.keys)) {
            t.saved = now;
            t.keys = keyModeOf(now);
            t.haveModes = 1;
        }
        if (retryOnInterrupt([] { return ::tcsetattr(STDIN_FILENO, TCSANOW, &t.keys); }) != 0)
            return errno;
    }
    t.taken = 1;
    if (t.takesSequences) {
        const int error = writeText(t.takeSequences, std::strlen(t.takeSequences));
        if (error != 0)
            return error;
    }
    return 0;
}

// Modes and sequences back as they were, with every signal held off so that
// nothing cuts in half way. In the foreground; and with `fromBehind` from the
// background too, where the shell may have taken the terminal already (run
// from a script, the program is stopped after the script's shell): the
// sequences are the program's own to undo, and nobody else resets them, but
// modes that are no longer the program's are the shell's, and stay.
int releaseTerminal(bool fromBehind, bool flushKeys)
{
    const SignalsHeld held(everySignal());
    if (t.taken == 0)
        return 0;
    const bool front = askFront();
    if (!front && !fromBehind)
        return 0;
    int error = 0;
    if (t.takesSequences)
        error = writeText(t.giveBackSequences, std::strlen(t.giveBackSequences));
    termios now{};
    const bool modes = t.input && t.haveModes != 0 && (front || (modesNow(now) && sameModes(now, t.keys)));
    // Typed-ahead keys were the program's; from the background they are the shell's.
    const int when = front && flushKeys ? TCSAFLUSH : TCSANOW;
    if (modes && retryOnInterrupt([when] { return ::tcsetattr(STDIN_FILENO, when, &t.saved); }) != 0)
        error = error != 0 ? error : errno;
    t.taken = 0;
    return error;
}

// Whether the program stops: as any program that reads its terminal from the
// background, until "fg" continues it, with the terminal left as the shell
// has it. The whole process group stops, as the terminal would stop it: a
// script that runs the program stops with it, so that the shell sees the job
// stopped. Not where the stop is ignored, or would be discarded (an orphaned
// group).
bool stopForTerminalInput()
{
    struct sigaction current {};
    if (::sigaction(SIGTTIN, nullptr, &current) != 0 || current.sa_handler != SIG_DFL || !groupCanStop())
        return false;
    ::kill(0, SIGTTIN);  // pending while held: taken in the wait, which stops there
    return true;
}

void sayOnStandardError(const char* what, int error)
{
    const char* const parts[] = {"gleanhex: ", what, ": ", std::strerror(error), "\n"};
    for (const char* part : parts)
        writeAll(STDERR_FILENO, part, std::strlen(part), false);
}

}  // namespace

int takeTerminal()
{
    t.group = ::getpgrp();
    const int input = controllingTerminal(STDIN_FILENO);
    const int output = controllingTerminal(STDOUT_FILENO);
    if (input < 0 || output < 0)
        return errno;
    t.input = input == 1;
    t.output = output == 1;
    t.takesSequences = t.output && !plainTerminalType();
    // Keypad-transmit mode, so that every key sends what its description says.
    const TerminalDescription& d = terminalDescription();
    std::snprintf(t.takeSequences, sizeof t.takeSequences, "%s%s", TAKE_SEQUENCES, d.keypadOn);
    std::snprintf(t.giveBackSequences, sizeof t.giveBackSequences, "%s%s", d.keypadOff, GIVE_BACK_SEQUENCES);
    t.wanted = 1;
    // Started in the background: taken once it is brought to the foreground.
    if (!askFront())
        return 0;
    const SignalsHeld held(everySignal());
    return enterKeyMode();
}

int giveTerminalBack()
{
    t.wanted = 0;
    return releaseTerminal(true, true);
}

void giveTerminalBackOnSignal()
{
    if (t.wanted == 0)
        return;
    const bool shown = t.takesSequences && t.taken != 0 && askFront();
    giveTerminalBack();
    if (shown)
        writeText("\r\n", 2);
}

void giveTerminalBackForStop()
{
    releaseTerminal(true, false);
}

void takeTerminalBack()
{
    t.changes = t.changes + 1;
    const SignalsHeld held(signalSet({SIGTSTP, SIGCONT, SIGWINCH}));
    if (t.wanted == 0 || !askFront())
        return;
    // Where nobody set other modes meanwhile (a stop and continue from outside,
    // or a second look after the stop handler's), the screen is as it was.
    termios now{};
    if (t.taken != 0 && t.input && t.haveModes != 0 && modesNow(now) && sameModes(now, t.keys))
        return;
    enterKeyMode();  // a failure shows at the next write, or leaves the keys echoed
    t.redraws = t.redraws + 1;
}

void noteScreenChange()
{
    t.changes = t.changes + 1;
    t.redraws = t.redraws + 1;
}

void noteStop()
{
    t.changes = t.changes + 1;
}

void noteHangUp()
{
    t.hungUp = 1;
}

bool inputIsTerminal()
{
    return t.input;
}

bool outputTakesSequences()
{
    return t.takesSequences;
}

int editingChar(int index)
{
    if (t.haveModes == 0 || t.saved.c_cc[index] == _POSIX_VDISABLE)
        return -1;
    return t.saved.c_cc[index];
}

WindowSize windowSize()
{
    const sig_atomic_t now = t.changes;
    if (t.sizeRead == now)
        return t.window;
    t.sizeRead = now;
    winsize size{};
    if (t.output && retryOnInterrupt([&size] { return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size); }) == 0)
        t.window = WindowSize{size.ws_row, size.ws_col};
    else
        t.window = WindowSize{};
    return t.window;
}

bool outputInForeground()
{
    const sig_atomic_t now = t.changes;
    if (t.frontAsked != now) {
        t.frontAsked = now;
        t.front = askFront();
    }
    return t.front;
}

int writeOutput(const char* text, std::size_t size)
{
    return writeAll(STDOUT_FILENO, text, size, true);
}

void failOutput(int error)
{
    giveTerminalBack();
    if (t.hungUp == 0)
        sayOnStandardError("cannot write to standard output", error);
    // Not exit(): its handlers would flush the output that just failed.
    ::_exit(t.hungUp != 0 ? 0 : 1);
}

void failConsole(const char* what, int error)
{
    giveTerminalBack();
    sayOnStandardError(what, error);
    ::_exit(1);
}

bool inputEnded()
{
    return t.inputOver || t.hungUp != 0;
}

int holdSignalsForTheWait()
{
    const sigset_t held = signalSet({SIGWINCH, SIGCONT, SIGHUP, SIGTTIN});
    if (::sigprocmask(SIG_BLOCK, &held, &t.waitMask) != 0)
        return errno;
    for (const int sig : {SIGWINCH, SIGCONT, SIGHUP, SIGTTIN})
        sigdelset(&t.waitMask, sig);
    t.signalsHeld = true;
    return 0;
}

namespace {

enum class InputWait { READY, TIMED_OUT, STALE, ENDED };

InputWait waitForInput(int timeoutMs, bool watchScreen)
{
    for (;;) {
        // Checked with the signals held: one that comes now waits for ppoll,
        // which then returns at once.
        if (inputEnded())
            return InputWait::ENDED;
        const bool front = outputInForeground();
        // "fg" on a job that was running, or started in the background: no continue came.
        if (front && t.wanted != 0 && t.taken == 0)
            takeTerminalBack();
        if (watchScreen && front && t.redraws != t.screenSeen)
            return InputWait::STALE;
        const bool keys = !t.input || front;
        if (keys && t.bytesAt < t.bytesRead)
            return InputWait::READY;
        // In the background no key is read. Where the program cannot stop,
        // nothing tells it of being brought to the front ("fg" on a job that
        // runs sends no continue): it looks again when input comes, and while
        // input it did not read is waiting (the shell's), every quarter second.
        const bool waitForSignal = !keys && stopForTerminalInput();
        const bool looksOnInput = !keys && !waitForSignal && !t.foreignInput;
        int waitMs = timeoutMs;
        if (!keys && !waitForSignal && t.foreignInput)
            waitMs = BACKGROUND_LOOK_MS;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        timespec limit{waitMs / 1000, (waitMs % 1000) * 1000000L};
        const bool withInput = keys || looksOnInput;
        const int ready = ::ppoll(withInput ? &input : nullptr, withInput ? 1 : 0, waitMs >= 0 ? &limit : nullptr,
                                  t.signalsHeld ? &t.waitMask : nullptr);
        if (!keys) {
            // Whatever woke it, the front is asked again; input it sees from
            // the background is another's, until nothing is left to read.
            t.frontAsked = -1;
            int waiting = 0;
            t.foreignInput = (ready > 0 && looksOnInput) ||
                             (t.foreignInput && ::ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0);
            if (ready >= 0 && waitMs != timeoutMs)
                continue;
        }
        if (ready == 0)
            return InputWait::TIMED_OUT;
        if (ready > 0 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (input.revents & POLLIN) == 0) {
            // A terminal that hung up is gone for output too: nobody is there to see it.
            t.hungUp = t.input ? 1 : t.hungUp;
            t.inputOver = true;
            return InputWait::ENDED;
        }
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return InputWait::READY;  // the read says what is there, or what went wrong
    }
}

enum class InputRead { BYTE, NONE, ENDED };

InputRead readInput(std::uint8_t& byte)
{
    if (t.bytesAt < t.bytesRead) {
        byte = t.bytes[t.bytesAt++];
        return InputRead::BYTE;
    }
    // SIGTTIN is held (holdSignalsForTheWait): a read from the background
    // fails instead of stopping the whole job, a wrapping script with it. A
    // pipe is read on through a signal; a terminal goes back to the wait,
    // which sees what the signal changed.
    const ssize_t n = t.input ? ::read(STDIN_FILENO, t.bytes, sizeof t.bytes)
                              : retryOnInterrupt([] { return ::read(STDIN_FILENO, t.bytes, 1); });
    if (n > 0) {
        t.bytesRead = static_cast<std::size_t>(n);
        t.bytesAt = 1;
        byte = t.bytes[0];
        return InputRead::BYTE;
    }
    // The byte may have gone to another reader while the program was being stopped.
    if (n < 0 && t.hungUp == 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return InputRead::NONE;
    if (n < 0 && t.hungUp == 0 && errno == EIO && t.input) {
        t.frontAsked = -1;
        if (!outputInForeground())
            return InputRead::NONE;
    }
    t.inputOver = true;
    return InputRead::ENDED;
}

}  // namespace

InputByte nextInputByte(std::uint8_t& byte, int timeoutMs, bool watchScreen)
{
    for (;;) {
        switch (waitForInput(timeoutMs, watchScreen)) {
        case InputWait::TIMED_OUT: return InputByte::TIMED_OUT;
        case InputWait::STALE: t.screenSeen = t.redraws; return InputByte::STALE;
        case InputWait::ENDED: return InputByte::ENDED;
        case InputWait::READY: break;
        }
        switch (readInput(byte)) {
        case InputRead::BYTE: return InputByte::BYTE;
        case InputRead::NONE: break;  // gone again: wait once more
        case InputRead::ENDED: return InputByte::ENDED;
        }
    }
}

bool inputWaiting()
{
    return waitForInput(0, false) == InputWait::READY;
}
