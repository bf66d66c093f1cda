#include "console/key_decoder.h"

#include <algorithm>

#include "console/console.h"

namespace {

enum Phase : std::uint8_t { GROUND, ESCAPE, CSI, SS3, LINUX_FN, UTF8 };

constexpr std::uint8_t ESC = 0x1b;

Key finished(int code)
{
    Key k;
    k.done = true;
    k.code = code;
    return k;
}

Key none() { return finished(KEY_OTHER); }

Key cursorKey(std::uint8_t final)
{
    switch (final) {
    case 'A': case 'a': return finished(KEY_UP);
    case 'B': case 'b': return finished(KEY_DOWN);
    case 'C': case 'c': return finished(KEY_RIGHT);
    case 'D': case 'd': return finished(KEY_LEFT);
    case 'H': return finished(KEY_HOME);
    case 'F': return finished(KEY_END);
    case 'P': case 'Q': case 'R': case 'S': return finished(KEY_F1 + (final - 'P'));
    default: return none();
    }
}

// ESC O and a letter: the keypad's keys with NumLock off, as terminals send
// them in keypad-transmit mode, the navigation keys their digits carry.
Key keypadKey(std::uint8_t final)
{
    switch (final) {
    case 'x': return finished(KEY_UP);
    case 'r': return finished(KEY_DOWN);
    case 't': return finished(KEY_LEFT);
    case 'v': return finished(KEY_RIGHT);
    case 'w': return finished(KEY_HOME);
    case 'q': return finished(KEY_END);
    case 'y': return finished(KEY_PAGE_UP);
    case 's': return finished(KEY_PAGE_DOWN);
    case 'p': return finished(KEY_INSERT);
    case 'n': return finished(KEY_DELETE);
    default: return cursorKey(final);
    }
}

// ESC [ n ~ (and the ^ $ @ forms some terminals use for modified keys).
Key numberedKey(unsigned n)
{
    switch (n) {
    case 1: case 7: return finished(KEY_HOME);
    case 2: return finished(KEY_INSERT);
    case 3: return finished(KEY_DELETE);
    case 4: case 8: return finished(KEY_END);
    case 5: return finished(KEY_PAGE_UP);
    case 6: return finished(KEY_PAGE_DOWN);
    case 11: case 12: case 13: case 14: case 15: return finished(KEY_F1 + static_cast<int>(n - 11));
    case 17: case 18: case 19: case 20: case 21: return finished(KEY_F1 + 5 + static_cast<int>(n - 17));
    case 23: case 24: return finished(KEY_F1 + 10 + static_cast<int>(n - 23));
    default: return none();
    }
}

Key csiKey(const KeyDecoder& d, std::uint8_t final)
{
    if (d.foreign)
        return none();
    if (final == '~' || final == '^' || final == '$' || final == '@')
        return d.params > 0 ? numberedKey(d.first) : none();
    // Without keypad-transmit mode some terminals send Insert as the insert
    // mode's own sequence and Delete as "delete character".
    if (final == 'h' && d.params == 1 && d.first == 4)
        return finished(KEY_INSERT);
    if (final == 'P' && d.params == 0)
        return finished(KEY_DELETE);
    return cursorKey(final);
}

bool isFinal(std::uint8_t b) { return b >= 0x40 && b <= 0x7e; }
bool isParameter(std::uint8_t b) { return b >= 0x30 && b <= 0x3f; }
bool isIntermediate(std::uint8_t b) { return b >= 0x20 && b <= 0x2f; }

// rxvt ends its Shift forms (ESC [ 3 $) with what is otherwise an intermediate byte.
bool endsSequence(const KeyDecoder& d, std::uint8_t b)
{
    return isFinal(b) || (d.phase == CSI && b == '$' && d.params > 0 && !d.foreign);
}

// Bytes no escape sequence may contain; one of them cuts the sequence short.
bool breaksSequence(std::uint8_t b) { return b < 0x20 || b >= 0x7f; }

void startSequence(KeyDecoder& d, Phase phase)
{
    d = KeyDecoder{};
    d.phase = phase;
}

void addParameterByte(KeyDecoder& d, std::uint8_t b)
{
    if (b >= '0' && b <= '9') {
        if (d.params == 0)
            d.params = 1;
        // Saturates above every key number: a long number must not wrap round to one.
        if (d.params == 1 && d.first < 10000)
            d.first = static_cast<std::uint16_t>(std::min(d.first * 10 + (b - '0'), 10000));
    } else if (b == ';' || b == ':') {
        if (d.params == 0)
            d.params = 1;
        if (d.params < 255)
            ++d.params;
    } else {
        d.foreign = true;  // < = > ? mark private sequences
    }
}

Key groundByte(KeyDecoder& d, std::uint8_t b)
{
    if (b == ESC) {
        startSequence(d, ESCAPE);
        return Key{};
    }
    if (b == 0x7f)
        return finished(8);  // the Backspace key
    if (b < 0x80)
        return finished(b);
    int follow = b >= 0xc2 && b <= 0xdf ? 1 : b >= 0xe0 && b <= 0xef ? 2 : b >= 0xf0 && b <= 0xf4 ? 3 : 0;
    if (follow == 0)
        return none();
    startSequence(d, UTF8);
    d.utf8Left = static_cast<std::uint8_t>(follow);
    return Key{};
}

}  // namespace

bool keyStarted(const KeyDecoder& decoder) { return decoder.phase != GROUND; }

Key feedKeyByte(KeyDecoder& d, std::uint8_t b)
{
    switch (d.phase) {
    case ESCAPE:
        if (b == '[') {
            startSequence(d, CSI);
            return Key{};
        }
        if (b == 'O') {
            startSequence(d, SS3);
            return Key{};
        }
        if (b == ESC)
            return finished(27);  // the first Escape stood alone; the second starts anew
        d = KeyDecoder{};
        if (b >= 0x80) {
            groundByte(d, b);  // Alt with a non-ASCII character: swallow all of it
            return d.phase == GROUND ? none() : Key{};
        }
        return none();  // Alt+key: consumed, never a plain key
    case CSI:
    case SS3:
    case LINUX_FN:
        if (breaksSequence(b)) {
            d = KeyDecoder{};
            return groundByte(d, b);
        }
        if (d.phase == LINUX_FN) {
            d = KeyDecoder{};
            return b >= 'A' && b <= 'E' ? finished(KEY_F1 + (b - 'A')) : none();
        }
        if (d.phase == CSI && b == '[' && d.params == 0 && !d.foreign) {
            d.phase = LINUX_FN;
            return Key{};
        }
        if (endsSequence(d, b)) {
            Key k = d.phase == CSI ? csiKey(d, b) : (d.foreign ? none() : d.params > 0 ? cursorKey(b) : keypadKey(b));
            d = KeyDecoder{};
            return k;
        }
        if (isParameter(b))
            addParameterByte(d, b);
        else if (isIntermediate(b))
            d.foreign = true;
        return Key{};
    case UTF8:
        if (b < 0x80 || b > 0xbf) {
            d = KeyDecoder{};
            return groundByte(d, b);
        }
        if (--d.utf8Left == 0) {
            d = KeyDecoder{};
            return none();
        }
        return Key{};
    default:
        return groundByte(d, b);
    }
}

Key finishKey(KeyDecoder& d)
{
    const bool lone = d.phase == ESCAPE;
    const bool started = d.phase != GROUND;
    d = KeyDecoder{};
    if (lone)
        return finished(27);
    return started ? none() : Key{};
}
