// Coverage-guided fuzzing of the key decoder with arbitrary terminal input.
//
// Every input is decoded three ways: as one unbroken burst, with a pause after
// every byte (every sequence cut off), and with pauses where the input's own
// first bytes say. After each byte and each pause the result must be something
// the browse loop can act on safely:
//  - a plain code is the byte just fed (Backspace for 0x7f, Escape for a lone
//    Escape), below 0x80 and never a lead byte, and never a byte that belongs
//    to an escape sequence;
//  - a pair is a lead byte 0xE0 or 0x00 with a code that lead can carry, and it
//    ends an escape sequence whose parameter names exactly that key;
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

bool knownPair(std::uint8_t lead, std::uint8_t code)
{
    if (lead == EXTENDED_PREFIX) {
        switch (code) {
        case KEY_HOME: case KEY_UP: case KEY_PAGE_UP: case KEY_LEFT: case KEY_RIGHT:
        case KEY_END: case KEY_DOWN: case KEY_PAGE_DOWN: case KEY_INSERT: case KEY_DELETE:
            return true;
        default:
            return false;
        }
    }
    if (lead == FUNCTION_PREFIX)
        return code == 3 || (code >= KEY_F1 && code < KEY_F1 + 10) || code == KEY_F11 || code == KEY_F12;
    return false;
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
// real terminals' sequences: 0 when it names none.
int expectedCode(const std::string& body, bool linuxFn, int& lead)
{
    lead = EXTENDED_PREFIX;
    const char final = body.back();
    if (linuxFn) {
        lead = FUNCTION_PREFIX;
        return final >= 'A' && final <= 'E' ? KEY_F1 + (final - 'A') : 0;
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
            return 0;
        }
    }
    switch (final) {
    case 'A': case 'a': return KEY_UP;
    case 'B': case 'b': return KEY_DOWN;
    case 'C': case 'c': return KEY_RIGHT;
    case 'D': case 'd': return KEY_LEFT;
    case 'H': return KEY_HOME;
    case 'F': return KEY_END;
    case 'P': case 'Q': case 'R': case 'S':
        lead = FUNCTION_PREFIX;
        return KEY_F1 + (final - 'P');
    case '~': case '^': case '$': case '@':
        break;
    default:
        return 0;
    }
    if (!anyDigit)
        return 0;
    switch (first) {
    case 1: case 7: return KEY_HOME;
    case 2: return KEY_INSERT;
    case 3: return KEY_DELETE;
    case 4: case 8: return KEY_END;
    case 5: return KEY_PAGE_UP;
    case 6: return KEY_PAGE_DOWN;
    default: break;
    }
    lead = FUNCTION_PREFIX;
    if (first >= 11 && first <= 15)
        return KEY_F1 + static_cast<int>(first - 11);
    if (first >= 17 && first <= 21)
        return KEY_F1 + 5 + static_cast<int>(first - 17);
    if (first == 23)
        return KEY_F11;
    if (first == 24)
        return KEY_F12;
    return 0;
}

void checkKey(const Key& key, std::uint8_t byte, std::size_t at, bool inSequence, bool finished,
              const Sequence& before, const std::string& body)
{
    if (!key.done)
        return;
    if (key.count > 2)
        fail("more than two codes", byte, at);
    if (key.count == 1) {
        const std::uint8_t code = key.code[0];
        if (code == EXTENDED_PREFIX || code == FUNCTION_PREFIX || code >= 0x80)
            fail("a plain code that reads as a lead byte or is not ASCII", byte, at);
        const bool fromByte = code == byte || (byte == 0x7f && code == 8);
        if (!fromByte)
            fail("a plain code that is not the byte fed", byte, at);
        if (inSequence)
            fail("a byte of an escape sequence came out as a plain key", byte, at);
        if (code == ESC && before.phase != Sequence::ESCAPE)
            fail("Escape without a lone Escape before", byte, at);
    }
    if (key.count == 2) {
        if (!knownPair(key.code[0], key.code[1]))
            fail("an unknown lead/code pair", byte, at);
        if (byte == 0x00 && key.code[0] == FUNCTION_PREFIX && key.code[1] == 3)
            return;  // the NUL byte itself, as Ctrl+@
        if (!finished)
            fail("a key before its sequence ended", byte, at);
        int lead = 0;
        const int code = expectedCode(body, before.phase == Sequence::LINUX_FN, lead);
        if (code != key.code[1] || lead != key.code[0])
            fail("a sequence decoded as a key it does not name", byte, at);
    }
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
            if (key.done && (key.count == 2 || (key.count == 1 && !(lone && key.code[0] == ESC))))
                fail("a pause made a key other than a lone Escape", byte, i);
            if (lone && !(key.done && key.count == 1))
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
