#pragma once
// Turns the bytes a terminal sends into keys: a plain byte as itself, cursor,
// editing and function keys as their codes (console.h). Fed one byte at a
// time, so it never needs more input than the key in hand.

#include <cstdint>

struct KeyDecoder {
    std::uint8_t phase = 0;
    bool foreign = false;     // private marker or intermediate byte: not a key we know
    std::uint8_t params = 0;  // parameters seen so far (saturating)
    std::uint16_t first = 0;  // value of the first parameter (saturating)
    std::uint8_t utf8Left = 0;
};

// One key press, once `done`: its byte or code, KEY_OTHER for one that means
// nothing here (an unknown sequence, Alt+letter, a non-ASCII character).
struct Key {
    bool done = false;
    int code = 0;
};

Key feedKeyByte(KeyDecoder& decoder, std::uint8_t byte);
// No more bytes are coming for now (a pause after Escape, or end of input):
// finish whatever was started. A lone Escape is the plain code 27.
Key finishKey(KeyDecoder& decoder);
bool keyStarted(const KeyDecoder& decoder);
