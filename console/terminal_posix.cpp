// The POSIX terminal itself: what it is, its modes, the foreground, writing
// and the window's size. Everything here may be reached from a signal
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
#include "console/terminal_state_posix.h"

Terminal terminalState;

namespace {

Terminal& t = terminalState;

// Autowrap off: a row wider than the terminal is cut at its right edge instead
// of pushing the whole frame up a line. Keypad-transmit mode goes on after it
// and off before the rest, as the terminal's description gives it.
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

