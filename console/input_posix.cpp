// Keys and typed values on POSIX. Both come from standard input, read one byte
// at a time and never ahead, so that keys can be scripted through a pipe: keys
// are decoded from the raw terminal's bytes; a value is read as a whole line in
// the terminal's line mode and kept apart from the keys in std::cin's buffer.

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>

#include "console/console.h"
#include "console/key_decoder.h"
#include "console/terminal_posix.h"

namespace {

// How long a lone Escape waits for the rest of a sequence before it counts as
// the Escape key itself.
constexpr int ESCAPE_WAIT_MS = 100;

KeyDecoder decoder;
int pendingCode = -1;
bool inputEnded = false;  // for keys and values alike: nothing more can be read

// Waits for one byte; false at end of input or when the screen must be redrawn.
bool readByte(std::uint8_t& byte, int timeoutMs, bool& timedOut)
{
    timedOut = false;
    for (;;) {
        if (hungUp())
            break;
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
        break;
    }
    inputEnded = true;  // end of file, hang-up or a read error alike
    return false;
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

// Reads one line, up to and including its end and never beyond it: whatever
// follows on the descriptor stays there as keys.
void readValueLine(std::string& line)
{
    for (;;) {
        std::uint8_t byte = 0;
        bool timedOut = false;
        if (!readByte(byte, -1, timedOut)) {
            if (inputEnded)
                return;
            continue;  // resized or resumed while typing: the line goes on
        }
        // A CR from a terminal is an Enter typed ahead while keys were still raw.
        if (byte == '\r' && inputIsTerminal())
            byte = '\n';
        if (byte == '\n' || line.size() < VALUE_LINE_MAX)
            line.push_back(static_cast<char>(byte));
        if (byte == '\n')
            return;
    }
}

// std::cin's source. Keys and values share one descriptor here, while a console
// keeps them apart; reading whole lines into this buffer keeps them apart too:
// what is left of a value line stays here for the next value and never
// reaches the keys.
struct ValueLineBuffer : std::streambuf {
    std::string line;

    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        line.clear();
        if (!inputEnded) {
            useLineMode();
            readValueLine(line);
            useKeyMode();
        }
        // At the end of input readKey reports it too, so the browse loop ends.
        if (line.empty())
            return traits_type::eof();
        setg(line.data(), line.data(), line.data() + line.size());
        return traits_type::to_int_type(line[0]);
    }
};

}  // namespace

void installValueLine()
{
    // Never destroyed: std::cin may be read until the very end.
    std::cin.rdbuf(new ValueLineBuffer);
}

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
