// Keys on POSIX: read from standard input one byte at a time and never ahead,
// so that keys can be scripted through a pipe, and decoded from the raw
// terminal's bytes.

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <iostream>

#include "console/console.h"
#include "console/key_decoder.h"
#include "console/terminal_posix.h"

namespace {

// How long a lone Escape waits for the rest of a sequence before it counts as
// the Escape key itself.
constexpr int ESCAPE_WAIT_MS = 100;

KeyDecoder decoder;
int pendingCode = -1;
bool inputEnded = false;

// Waits for one byte; false at end of input or when the screen must be redrawn.
bool readByte(std::uint8_t& byte, int timeoutMs, bool& timedOut)
{
    timedOut = false;
    for (;;) {
        if (timeoutMs >= 0) {
            pollfd p{STDIN_FILENO, POLLIN, 0};
            const int ready = ::poll(&p, 1, timeoutMs);
            if (ready == 0) {
                timedOut = true;
                return false;
            }
            if (ready < 0 && errno == EINTR)
                continue;
        }
        const ssize_t n = ::read(STDIN_FILENO, &byte, 1);
        if (n == 1)
            return true;
        if (n < 0 && errno == EINTR) {
            if (screenChanged() && timeoutMs < 0)
                return false;
            continue;
        }
        inputEnded = true;  // end of file, hang-up or a read error alike
        return false;
    }
}

// The next whole key press, or a Key that is not done when input has ended or
// the screen must be redrawn.
Key nextKey()
{
    while (!inputEnded) {
        std::uint8_t byte = 0;
        bool timedOut = false;
        const bool started = keyStarted(decoder);
        if (!readByte(byte, started ? ESCAPE_WAIT_MS : -1, timedOut)) {
            if (timedOut || inputEnded)
                return finishKey(decoder);
            return Key{};  // screen change while idle
        }
        const Key key = feedKeyByte(decoder, byte);
        if (key.done)
            return key;
    }
    return Key{};
}

}  // namespace

void pauseForKey()
{
    std::cout << "Press any key to continue . . . " << std::flush;
    pendingCode = -1;
    while (!inputEnded && !nextKey().done) {
    }
    std::cout << '\n';
}

int readKey()
{
    if (pendingCode >= 0) {
        const int code = pendingCode;
        pendingCode = -1;
        return code;
    }
    std::cout.flush();
    for (;;) {
        if (inputEnded && !keyStarted(decoder))
            return END_OF_INPUT;
        const Key key = nextKey();
        if (!key.done && takeScreenChange())
            return FUNCTION_PREFIX;  // a lone lead byte 0 only redraws
        if (!key.done || key.count == 0)
            continue;
        if (key.count == 2)
            pendingCode = key.code[1];
        return key.code[0];
    }
}
