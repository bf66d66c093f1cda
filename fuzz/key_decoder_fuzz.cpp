// Coverage-guided fuzzing of the key decoder with arbitrary terminal input.
//
// Every input is decoded three ways: as one unbroken burst, with a pause after
// every byte (every sequence cut off), and with pauses where the input's own
// first bytes say. After each byte and each pause the result must be something
// the browse loop can act on safely:
//  - a plain key is the byte just fed (Backspace for 0x7f, Escape for a lone
//    Escape), below 0x80, and never a byte that belongs to an escape sequence;
//  - a named key ends an escape sequence that names exactly that key;
//  - a pause always leaves the decoder idle.
// Work per byte is a fixed handful of comparisons; libFuzzer's timeout guards
// against a loop creeping in.
//
// The same bytes then edit a value line, each either an editing step or a
// typed byte, and after each the echo must be nothing but printable text,
// well-formed UTF-8 without C1 controls, spaces and backspaces, covering no
// more cells than the field has, with the cursor inside the line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/key_decoder.h"
#include "console/line_editor.h"

namespace {

constexpr std::uint8_t ESC = 0x1b;

[[noreturn]] void fail(const char* what, std::uint8_t byte, std::size_t at)
{
    std::fprintf(stderr, "key decoder: %s (byte 0x%02x at %zu)\n", what, byte, at);
    std::abort();
}

// An independent reading of the escape sequence in progress, after ECMA-48:
// ESC, then '[' or 'O' and parameter and intermediate bytes up to a final
// byte, or any other one printable byte (Alt+key). The Linux console's
// function keys add ESC [ [ and one letter, and rxvt ends Shift forms at '$'.
struct Sequence {
    enum Phase : std::uint8_t { NONE, ESCAPE, CSI, SS3, LINUX_FN } phase = NONE;
    std::string body;  // bytes after the introducer, final byte included
};

bool printable(std::uint8_t b) { return b >= 0x20 && b <= 0x7e; }

// rxvt ends its Shift forms, ESC [ 3 $, with what is otherwise an intermediate byte.
bool shiftForm(const std::string& body)
{
    if (body.size() < 2)
        return false;
    for (std::size_t i = 0; i + 1 < body.size(); ++i)
        if (!((body[i] >= '0' && body[i] <= '9') || body[i] == ';' || body[i] == ':'))
            return false;
    return true;
}

// Feeds one byte; true when the byte belongs to the sequence (so must never
// come out as a plain key), and `finished` when it was the sequence's last.
bool advance(Sequence& s, std::uint8_t b, bool& finished)
{
    finished = false;
    if (b == ESC) {
        s = Sequence{Sequence::ESCAPE, {}};
        return false;  // ESC ESC is the Escape key, then a new sequence
    }
    if (s.phase == Sequence::NONE || !printable(b)) {
        s = Sequence{};
        return false;
    }
    s.body.push_back(static_cast<char>(b));
    switch (s.phase) {
    case Sequence::ESCAPE:
        s.phase = b == '[' ? Sequence::CSI : b == 'O' ? Sequence::SS3 : Sequence::NONE;
        s.body.clear();
        finished = s.phase == Sequence::NONE;
        return true;
    case Sequence::CSI:
        if (s.body == "[") {
            s.phase = Sequence::LINUX_FN;
            return true;
        }
        [[fallthrough]];
    case Sequence::SS3:
        finished = b >= 0x40 || (s.phase == Sequence::CSI && b == '$' && shiftForm(s.body));
        break;
    default:
        finished = true;
        break;
    }
    if (finished)
        s.phase = Sequence::NONE;
    return true;
}

// The key a finished sequence names, in the terms of an independent table of
// real terminals' sequences: KEY_OTHER when it names none.
int expectedCode(const std::string& body, Sequence::Phase phase)
{
    const char final = body.back();
    if (phase == Sequence::LINUX_FN)
        return final >= 'A' && final <= 'E' ? KEY_F1 + (final - 'A') : KEY_OTHER;
    // Delete outside keypad-transmit mode: "delete character", with no parameter.
    if (phase == Sequence::CSI && body == "P")
        return KEY_DELETE;
    // The keypad's digits with NumLock off, in keypad-transmit mode.
    if (phase == Sequence::SS3 && body.size() == 1) {
        const char* const keypad = "xrtvwqysp";
        const int codes[] = {KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT, KEY_HOME, KEY_END, KEY_PAGE_UP, KEY_PAGE_DOWN,
                             KEY_INSERT};
        for (int i = 0; keypad[i] != '\0'; ++i)
            if (body[0] == keypad[i])
                return codes[i];
        if (body[0] == 'n')
            return KEY_DELETE;
    }
    // Only digits and separators may come before the final byte.
    unsigned long long first = 0;
    bool inFirst = true;
    bool anyDigit = false;
    for (std::size_t i = 0; i + 1 < body.size(); ++i) {
        const char c = body[i];
        if (c >= '0' && c <= '9') {
            if (inFirst) {
                anyDigit = true;
                first = first > 1000000 ? first : first * 10 + static_cast<unsigned>(c - '0');
            }
        } else if (c == ';' || c == ':') {
            inFirst = false;
            anyDigit = anyDigit || i == 0;  // an empty first parameter still counts as given
        } else {
            return KEY_OTHER;
        }
    }
    // Insert outside keypad-transmit mode: "set insert mode", the one parameter 4.
    if (phase == Sequence::CSI && final == 'h')
        return anyDigit && inFirst && first == 4 ? KEY_INSERT : KEY_OTHER;
    switch (final) {
    case 'A': case 'a': return KEY_UP;
    case 'B': case 'b': return KEY_DOWN;
    case 'C': case 'c': return KEY_RIGHT;
    case 'D': case 'd': return KEY_LEFT;
    case 'H': return KEY_HOME;
    case 'F': return KEY_END;
    case 'P': case 'Q': case 'R': case 'S': return KEY_F1 + (final - 'P');
    case '~': case '^': case '$': case '@':
        break;
    default:
        return KEY_OTHER;
    }
    if (!anyDigit)
        return KEY_OTHER;
    switch (first) {
    case 1: case 7: return KEY_HOME;
    case 2: return KEY_INSERT;
    case 3: return KEY_DELETE;
    case 4: case 8: return KEY_END;
    case 5: return KEY_PAGE_UP;
    case 6: return KEY_PAGE_DOWN;
    default: break;
    }
    if (first >= 11 && first <= 15)
        return KEY_F1 + static_cast<int>(first - 11);
    if (first >= 17 && first <= 21)
        return KEY_F1 + 5 + static_cast<int>(first - 17);
    if (first == 23 || first == 24)
        return KEY_F1 + 10 + static_cast<int>(first - 23);
    return KEY_OTHER;
}

void checkKey(const Key& key, std::uint8_t byte, std::size_t at, bool inSequence, bool finished,
              const Sequence& before, const std::string& body)
{
    if (!key.done || key.code == KEY_OTHER)
        return;
    if (key.code < 0x80) {
        const bool fromByte = key.code == byte || (byte == 0x7f && key.code == 8);
        if (!fromByte)
            fail("a plain key that is not the byte fed", byte, at);
        if (inSequence)
            fail("a byte of an escape sequence came out as a plain key", byte, at);
        if (key.code == ESC && before.phase != Sequence::ESCAPE)
            fail("Escape without a lone Escape before", byte, at);
        return;
    }
    if (key.code < KEY_UP || key.code > KEY_F12)
        fail("a key that is neither ASCII nor named", byte, at);
    if (!finished)
        fail("a key before its sequence ended", byte, at);
    if (expectedCode(body, before.phase) != key.code)
        fail("a sequence decoded as a key it does not name", byte, at);
}

void decode(const std::uint8_t* data, std::size_t size, std::uint64_t pauses, bool pauseAlways)
{
    KeyDecoder decoder;
    Sequence seq;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        const Sequence before = seq;
        bool finished = false;
        const bool inSequence = advance(seq, byte, finished);
        const std::string body = finished ? before.body + static_cast<char>(byte) : std::string{};
        checkKey(feedKeyByte(decoder, byte), byte, i, inSequence, finished, before, body);

        const bool pause = pauseAlways || (i < 64 && ((pauses >> i) & 1U) != 0) || i + 1 == size;
        if (pause) {
            const bool lone = seq.phase == Sequence::ESCAPE;
            const Key key = finishKey(decoder);
            if (keyStarted(decoder))
                fail("still inside a key after a pause", byte, i);
            if (key.done && key.code != KEY_OTHER && !(lone && key.code == ESC))
                fail("a pause made a key other than a lone Escape", byte, i);
            if (lone && !(key.done && key.code == ESC))
                fail("a lone Escape was lost at a pause", byte, i);
            seq = Sequence{};
        }
    }
}

// Cells the echo leaves the terminal's cursor at after `out`, or fails.
unsigned checkEcho(const char* out, std::size_t n, unsigned before, std::size_t at)
{
    long column = before;
    long furthest = before;
    for (std::size_t i = 0; i < n;) {
        const auto b = static_cast<std::uint8_t>(out[i]);
        if (b == '\b') {
            --column;
            ++i;
        } else if (b >= 0x20 && b < 0x7f) {
            ++column;
            ++i;
        } else {
            char glyph[4];
            std::size_t glyphSize = 0;
            unsigned cells = 0;
            const std::size_t length = glyphOf(out + i, n - i, glyph, glyphSize, cells);
            if (b < 0x80 || length < 2 || glyphSize != length || (b == 0xc2 && static_cast<std::uint8_t>(out[i + 1]) < 0xa0))
                fail("echo carries a control code or a broken character", b, at);
            column += cells;
            i += length;
        }
        if (column < 0)
            fail("echo moves before the field", b, at);
        furthest = column > furthest ? column : furthest;
    }
    if (furthest > static_cast<long>(FIELD_MAX_CELLS))
        fail("echo runs past the widest field", 0, at);
    return static_cast<unsigned>(column);
}

void editLine(const std::uint8_t* data, std::size_t size)
{
    static LineEdit line;  // too big for the stack
    startLine(line);
    static char out[ECHO_BYTES];
    const unsigned width = size > 0 ? 2U + data[0] % 40U : 2U;
    unsigned column = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] < 8)
            applyEdit(line, static_cast<Edit>(data[i]));
        else
            insertByte(line, data[i]);
        column = checkEcho(out, redrawLine(line, width, out), column, i);
        if (line.cursor > line.size || line.size > LINE_BYTES || line.shownCells > width ||
            line.cursorCells > line.shownCells || column != line.cursorCells)
            fail("the line and its echo disagree", data[i], i);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    decode(data, size, 0, false);
    decode(data, size, 0, true);
    std::uint64_t pauses = 0;
    for (std::size_t i = 0; i < 8 && i < size; ++i)
        pauses |= std::uint64_t{data[i]} << (8 * i);
    decode(data, size, pauses, false);
    editLine(data, size);
    return 0;
}
