#pragma once
// Turns the bytes a terminal sends into the codes a console keyboard delivers:
// plain bytes, or a lead byte and a code for cursor, editing and function keys.
// Fed one byte at a time, so it never needs more input than the key in hand.

#include <cstdint>

struct KeyDecoder {
    std::uint8_t phase = 0;
    bool foreign = false;     // private marker or intermediate byte: not a key we know
    std::uint8_t params = 0;  // parameters seen so far (saturating)
    std::uint16_t first = 0;  // value of the first parameter (saturating)
    std::uint8_t utf8Left = 0;
};

// One finished key press: `count` codes (0 for a key that means nothing here,
// such as an unknown sequence, Alt+letter or a non-ASCII character).
struct Key {
    bool done = false;
    std::uint8_t count = 0;
    std::uint8_t code[2] = {0, 0};
};

Key feedKeyByte(KeyDecoder& decoder, std::uint8_t byte);
// No more bytes are coming for now (a pause after Escape, or end of input):
// finish whatever was started. A lone Escape is the plain code 27.
Key finishKey(KeyDecoder& decoder);
bool keyStarted(const KeyDecoder& decoder);
