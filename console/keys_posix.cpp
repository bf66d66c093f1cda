// Keys on POSIX: decoded from the raw terminal's bytes (or a pipe's), read
// one at a time and never ahead, so that keys and typed values can share
// standard input, as a script that pipes them in has it.

#include <cstdint>
#include <iostream>

#include "console/console.h"
#include "console/console_posix.h"
#include "console/description_posix.h"
#include "console/key_decoder.h"
#include "console/terminal_posix.h"

namespace {

// How long a lone Escape waits for the rest of a sequence before it counts as
// the Escape key itself.
constexpr int ESCAPE_WAIT_MS = 100;

KeyDecoder decoder;
// The bytes of the key in hand, for a sequence the decoder does not know.
char sequence[16];
int sequenceSize = 0;

// A sequence no common terminal sends may still be in the terminal's own description.
Key described(Key key)
{
    if (key.done && key.code == KEY_OTHER && sequenceSize > 1 && sequenceSize <= static_cast<int>(sizeof sequence))
        if (const int code = describedKey(sequence, sequenceSize); code != 0)
            key.code = code;
    return key;
}

// The next whole key press. Not done when input has ended, and then `stale`
// tells whether the screen must be drawn again first.
Key nextKey(bool& stale)
{
    stale = false;
    while (!inputEnded()) {
        std::uint8_t byte = 0;
        const bool started = keyStarted(decoder);
        const InputByte got = nextInputByte(byte, started ? ESCAPE_WAIT_MS : -1, !started);
        if (got == InputByte::STALE) {
            stale = true;
            return Key{};
        }
        if (got != InputByte::BYTE)
            return described(finishKey(decoder));
        if (!started)
            sequenceSize = 0;
        if (sequenceSize < static_cast<int>(sizeof sequence))
            sequence[sequenceSize] = static_cast<char>(byte);
        ++sequenceSize;
        const Key key = feedKeyByte(decoder, byte);
        if (key.done)
            return described(key);
    }
    return Key{};
}

}  // namespace

void pauseForKey()
{
    std::cout << "Press any key to continue . . . " << std::flush;
    dropRestOfPipedLine();
    for (;;) {
        bool stale = false;
        const Key key = nextKey(stale);
        if (stale)
            replayScreen();
        else if (key.done || inputEnded())
            break;
    }
    std::cout << '\n';
}

int readKey()
{
    std::cout.flush();
    dropRestOfPipedLine();
    for (;;) {
        if (inputEnded() && !keyStarted(decoder))
            return END_OF_INPUT;
        bool stale = false;
        const Key key = nextKey(stale);
        if (stale)
            return SCREEN_STALE;
        if (key.done)
            return key.code;
    }
}
