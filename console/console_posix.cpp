// The console services on a POSIX terminal: a terminal taken for single keys
// and given back as it was on every way out, and attributes as SGR sequences
// in the output stream. Keys and typed values are read in input_posix.cpp.

#include "console/console.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "console/terminal_posix.h"

namespace {

// The terminal state is process-wide: the signal handlers that restore it can
// reach nothing else.
termios savedModes;
volatile sig_atomic_t haveSavedModes = 0;
volatile sig_atomic_t consoleTaken = 0;
volatile sig_atomic_t shownAttr = -1;     // attribute the terminal has now, -1 unknown
volatile sig_atomic_t screenStale = 0;    // resized or resumed: the next key wait redraws
volatile sig_atomic_t lineMode = 0;       // a value is being typed: line mode, not key mode

volatile sig_atomic_t hangUp = 0;         // the terminal went away: no key can come

const int terminatingSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGPIPE, SIGALRM,
                                  SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGABRT, SIGSEGV,
                                  SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};

void writeAll(const char* text)
{
    const char* end = text;
    while (*end != '\0')
        ++end;
    while (text < end) {
        const ssize_t n = ::write(STDOUT_FILENO, text, static_cast<size_t>(end - text));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
    }
}

// Async-signal-safe: called from handlers as well as at the normal end.
void restoreTerminal()
{
    if (consoleTaken == 0)
        return;
    consoleTaken = 0;
    writeAll("\x1b[0m");
    shownAttr = -1;
    if (haveSavedModes != 0)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedModes);
}

void restoreAtExit()
{
    std::cout.flush();
    restoreTerminal();
}

void enterKeyMode()
{
    if (haveSavedModes == 0)
        return;
    termios raw = savedModes;
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN);
    raw.c_lflag |= ISIG;  // Ctrl-C still ends the program, through the handler
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

// Typing a value: echo and the terminal's own line editing, Enter ends the line.
void enterLineMode()
{
    if (haveSavedModes == 0)
        return;
    termios line = savedModes;
    line.c_lflag |= ICANON | ECHO | ECHOE | ISIG;
    line.c_iflag |= ICRNL;
    line.c_iflag &= ~static_cast<tcflag_t>(INLCR | IGNCR);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &line);
}

void onTerminatingSignal(int sig)
{
    const int savedErrno = errno;
    if (consoleTaken != 0) {
        restoreTerminal();
        writeAll("\r\n");
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);  // delivered once this handler returns: the default action follows
    errno = savedErrno;
}

void onStopSignal(int sig)
{
    const int savedErrno = errno;
    const bool taken = consoleTaken != 0;
    restoreTerminal();
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
        consoleTaken = 1;
        if (lineMode != 0)
            enterLineMode();
        else
            enterKeyMode();
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

// Written by hand so that the stream's number base, which the view owns, stays as it is.
void writeSgr(unsigned char attr)
{
    // Console colour bits are blue=1, green=2, red=4; SGR numbers red=1, green=2, blue=4.
    const auto sgrColour = [](unsigned bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); };
    const unsigned fg = attr & 0x0fU;
    const unsigned bg = (attr >> 4) & 0x0fU;
    const unsigned fgCode = ((fg & 8) != 0 ? 90 : 30) + sgrColour(fg);
    const unsigned bgCode = ((bg & 8) != 0 ? 100 : 40) + sgrColour(bg);
    char sgr[] = "\x1b[0;9x;10xm";
    char* p = sgr + 4;
    if (fgCode >= 100)
        *p++ = '1';
    *p++ = static_cast<char>('0' + fgCode / 10 % 10);
    *p++ = static_cast<char>('0' + fgCode % 10);
    *p++ = ';';
    if (bgCode >= 100)
        *p++ = '1';
    *p++ = static_cast<char>('0' + bgCode / 10 % 10);
    *p++ = static_cast<char>('0' + bgCode % 10);
    *p++ = 'm';
    std::cout.write(sgr, p - sgr);
}

}  // namespace

void beginConsole()
{
    // One buffer for the whole frame, so that a redraw reaches the terminal in one write.
    std::ios::sync_with_stdio(false);
    if (::isatty(STDIN_FILENO) != 0 && ::tcgetattr(STDIN_FILENO, &savedModes) == 0)
        haveSavedModes = 1;
    for (const int sig : terminatingSignals)
        handle(sig, onTerminatingSignal, 0);
    handle(SIGTSTP, onStopSignal, 0);
    handle(SIGWINCH, onScreenChange, 0);  // no SA_RESTART: the key wait wakes up
    handle(SIGCONT, onScreenChange, 0);
    // A hang-up is the end of input: the browser ends as it does when no more keys come.
    handle(SIGHUP, onHangUp, 0);
    consoleTaken = 1;
    enterKeyMode();
    std::atexit(restoreAtExit);
    installValueLine();
}

void endConsole()
{
    std::cout.flush();
    restoreTerminal();
}

ConsoleHandle outputHandle()
{
    return &std::cout;
}

void setTextAttribute(ConsoleHandle, unsigned char attr)
{
    if (shownAttr == attr)
        return;
    writeSgr(attr);
    shownAttr = attr;
}

void clearScreen()
{
    // Home and erase below rather than erase-all: some terminals push a whole-screen
    // erase into their scrollback, which would fill it with a copy of every frame.
    std::cout << "\x1b[H\x1b[J";
}

bool inputIsTerminal()
{
    return haveSavedModes != 0;
}

void useKeyMode()
{
    lineMode = 0;
    if (consoleTaken != 0)
        enterKeyMode();
}

void useLineMode()
{
    lineMode = 1;
    if (consoleTaken != 0)
        enterLineMode();
}

bool hungUp()
{
    return hangUp != 0;
}

bool screenChanged()
{
    return screenStale != 0;
}

bool takeScreenChange()
{
    const bool changed = screenStale != 0;
    screenStale = 0;
    return changed;
}
