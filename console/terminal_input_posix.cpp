// Waiting for input and reading it, for keys and values alike, on the
// terminal of terminal_posix.h: with the signals that change what is waited
// for let in only while the wait waits, and nothing read in the background.

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "common/system_posix.h"
#include "console/terminal_posix.h"
#include "console/terminal_state_posix.h"

namespace {

Terminal& t = terminalState;

constexpr int BACKGROUND_LOOK_MS = 250;

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

}  // namespace

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
        if (ready > 0 || errno != EINTR)
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
