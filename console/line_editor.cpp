#include "console/line_editor.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "console/glyphs.h"

namespace {

bool isContinuation(std::uint8_t b) { return b >= 0x80 && b <= 0xbf; }

// Length of the well-formed UTF-8 character at `p`, or 0. Always 0 where the
// terminal's set is a single-byte one: each byte is a character there.
std::size_t utf8Length(const std::uint8_t* p, std::size_t size)
{
    if (!terminalIsUtf8())
        return 0;
    const std::uint8_t b = p[0];
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xbf;
    if (b >= 0xc2 && b <= 0xdf) {
        length = 2;
    } else if (b >= 0xe0 && b <= 0xef) {
        length = 3;
        low = b == 0xe0 ? 0xa0 : 0x80;   // no overlong forms
        high = b == 0xed ? 0x9f : 0xbf;  // no surrogates
    } else if (b >= 0xf0 && b <= 0xf4) {
        length = 4;
        low = b == 0xf0 ? 0x90 : 0x80;
        high = b == 0xf4 ? 0x8f : 0xbf;  // nothing above U+10FFFF
    }
    if (length == 0 || size < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!isContinuation(p[i]))
            return 0;
    return length;
}

std::uint32_t codePoint(const std::uint8_t* p, std::size_t length)
{
    const std::uint32_t leadBits = length == 2 ? 0x1f : length == 3 ? 0x0f : 0x07;
    std::uint32_t cp = p[0] & leadBits;
    for (std::size_t i = 1; i < length; ++i)
        cp = (cp << 6) | (p[i] & 0x3fU);
    return cp;
}

struct Range {
    std::uint32_t from;
    std::uint32_t to;
};

// The ranges are in order: the search stops at the first that starts above `cp`.
bool within(std::uint32_t cp, const Range* ranges, std::size_t count)
{
    for (const Range* r = ranges; r < ranges + count && cp >= r->from; ++r)
        if (cp <= r->to)
            return true;
    return false;
}

// Characters that take no cell of their own or reorder the line (combining
// marks, joiners, direction and format marks), and the C1 controls: shown as
// "?", which keeps the cursor's count of cells true.
constexpr Range HIDDEN[] = {{0x80, 0x9f},       {0xad, 0xad},       {0x300, 0x36f},     {0x1ab0, 0x1aff},
                            {0x1dc0, 0x1dff},   {0x200b, 0x200f},   {0x2028, 0x202e},   {0x2060, 0x206f},
                            {0x20d0, 0x20ff},   {0xfe00, 0xfe0f},   {0xfe20, 0xfe2f},   {0xfeff, 0xfeff},
                            {0xfff9, 0xfffb},   {0xe0000, 0xe0fff}};
// East Asian wide characters and emoji: two cells each.
constexpr Range WIDE[] = {{0x1100, 0x115f},   {0x2e80, 0x303e},   {0x3041, 0x33ff},   {0x3400, 0x4dbf},
                          {0x4e00, 0x9fff},   {0xa000, 0xa4cf},   {0xac00, 0xd7a3},   {0xf900, 0xfaff},
                          {0xfe30, 0xfe4f},   {0xff00, 0xff60},   {0xffe0, 0xffe6},   {0x1f300, 0x1f64f},
                          {0x1f900, 0x1f9ff}, {0x20000, 0x2fffd}, {0x30000, 0x3fffd}};

const std::uint8_t* bytes(const LineEdit& line) { return reinterpret_cast<const std::uint8_t*>(line.text); }

std::size_t charLength(const LineEdit& line, std::size_t at)
{
    return std::max<std::size_t>(1, utf8Length(bytes(line) + at, line.size - at));
}

// The start of the character that `at` lies in.
std::size_t charStart(const LineEdit& line, std::size_t at)
{
    for (std::size_t back = 1; back <= 3 && back <= at; ++back) {
        const std::size_t start = at - back;
        if (utf8Length(bytes(line) + start, line.size - start) > back)
            return start;
    }
    return at;
}

std::size_t previousChar(const LineEdit& line, std::size_t at)
{
    return at == 0 ? 0 : charStart(line, at - 1);
}

// Cells from `from` to `to`, counted no further than `limit`.
unsigned cellsBetween(const LineEdit& line, std::size_t from, std::size_t to, unsigned limit)
{
    unsigned cells = 0;
    char glyph[4];
    while (from < to && cells < limit) {
        std::size_t glyphSize = 0;
        unsigned c = 0;
        from += glyphOf(line.text + from, line.size - from, glyph, glyphSize, c);
        cells += c;
    }
    return cells;
}

void eraseBytes(LineEdit& line, std::size_t from, std::size_t to)
{
    std::memmove(line.text + from, line.text + to, line.size - to);
    line.size -= to - from;
    if (line.cursor > from)
        line.cursor = line.cursor >= to ? line.cursor - (to - from) : from;
    if (line.first > from)
        line.first = line.first >= to ? line.first - (to - from) : from;
    if (line.size == 0)
        line.overflowed = false;  // what did not fit is gone with the rest
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Chooses which part of the line the field shows: the cursor always, and as
// much before it as fits.
void scrollTo(LineEdit& line, unsigned width)
{
    line.first = std::min(charStart(line, line.first), line.cursor);
    while (line.first > 0) {
        const std::size_t before = previousChar(line, line.first);
        if (cellsBetween(line, before, line.size, width) >= width)
            break;
        line.first = before;
    }
    while (line.first < line.cursor && cellsBetween(line, line.first, line.cursor, width) >= width)
        line.first += charLength(line, line.first);
}

// The characters from `first` that fit into `width` cells; their cells.
unsigned putShown(const LineEdit& line, unsigned width, char* out, std::size_t& n)
{
    unsigned cells = 0;
    for (std::size_t at = line.first; at < line.size;) {
        char glyph[4];
        std::size_t glyphSize = 0;
        unsigned c = 0;
        const std::size_t length = glyphOf(line.text + at, line.size - at, glyph, glyphSize, c);
        if (cells + c > width)
            break;
        std::memcpy(out + n, glyph, glyphSize);
        n += glyphSize;
        cells += c;
        at += length;
    }
    return cells;
}

void putRepeated(char* out, std::size_t& n, char c, unsigned count)
{
    std::memset(out + n, c, count);
    n += count;
}

unsigned fieldWidth(unsigned width) { return std::clamp(width, 2U, FIELD_MAX_CELLS); }

}  // namespace

std::size_t glyphOf(const char* text, std::size_t size, char* glyph, std::size_t& glyphSize, unsigned& cells)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(text);
    const std::size_t length = utf8Length(p, size);
    cells = 1;
    glyphSize = 1;
    if (length == 0) {
        if (p[0] < 0x20 || p[0] == 0x7f) {
            glyph[0] = '^';
            glyph[1] = p[0] == 0x7f ? '?' : static_cast<char>(p[0] + '@');
            glyphSize = 2;
            cells = 2;
        } else {
            glyph[0] = p[0] < 0x80 ? text[0] : '?';
        }
        return 1;
    }
    const std::uint32_t cp = codePoint(p, length);
    if (within(cp, HIDDEN, std::size(HIDDEN))) {
        glyph[0] = '?';
        return length;
    }
    std::memcpy(glyph, text, length);
    glyphSize = length;
    cells = within(cp, WIDE, std::size(WIDE)) ? 2 : 1;
    return length;
}

void startLine(LineEdit& line)
{
    line.size = 0;
    line.cursor = 0;
    line.overflowed = false;
    line.first = 0;
    line.shownCells = 0;
    line.cursorCells = 0;
}

void insertByte(LineEdit& line, std::uint8_t byte)
{
    if (line.size >= LINE_BYTES) {
        line.overflowed = true;
        return;
    }
    std::memmove(line.text + line.cursor + 1, line.text + line.cursor, line.size - line.cursor);
    line.text[line.cursor] = static_cast<char>(byte);
    ++line.size;
    if (line.first > line.cursor)
        ++line.first;
    ++line.cursor;
    // The byte may complete a character that the cursor now stands inside.
    const std::size_t start = charStart(line, line.cursor);
    if (start < line.cursor)
        line.cursor = start + charLength(line, start);
}

void applyEdit(LineEdit& line, Edit edit)
{
    switch (edit) {
    case Edit::LEFT: line.cursor = previousChar(line, line.cursor); break;
    case Edit::RIGHT:
        if (line.cursor < line.size)
            line.cursor += charLength(line, line.cursor);
        break;
    case Edit::HOME: line.cursor = 0; break;
    case Edit::END: line.cursor = line.size; break;
    case Edit::DELETE_UNDER:
        if (line.cursor < line.size)
            eraseBytes(line, line.cursor, line.cursor + charLength(line, line.cursor));
        break;
    case Edit::ERASE_BEFORE: eraseBytes(line, previousChar(line, line.cursor), line.cursor); break;
    case Edit::KILL_BEFORE: eraseBytes(line, 0, line.cursor); break;
    case Edit::WORD_BEFORE: {
        std::size_t from = line.cursor;
        while (from > 0 && isBlank(line.text[from - 1]))
            --from;
        while (from > 0 && !isBlank(line.text[from - 1]))
            from = previousChar(line, from);
        eraseBytes(line, from, line.cursor);
        break;
    }
    }
}

std::size_t redrawLine(LineEdit& line, unsigned width, char* out)
{
    width = fieldWidth(width);
    scrollTo(line, width);
    std::size_t n = backToFieldStart(line, out);
    const unsigned cells = putShown(line, width, out, n);
    unsigned end = cells;
    if (line.shownCells > cells) {
        putRepeated(out, n, ' ', line.shownCells - cells);  // what the line no longer covers
        end = line.shownCells;
    }
    const unsigned cursorCells = std::min(cells, cellsBetween(line, line.first, line.cursor, width));
    putRepeated(out, n, '\b', end - cursorCells);
    line.shownCells = cells;
    line.cursorCells = cursorCells;
    return n;
}

std::size_t backToFieldStart(LineEdit& line, char* out)
{
    std::size_t n = 0;
    putRepeated(out, n, '\b', line.cursorCells);
    line.cursorCells = 0;
    return n;
}

std::size_t shownLine(LineEdit& line, unsigned width, char* out)
{
    width = fieldWidth(width);
    scrollTo(line, width);
    std::size_t n = 0;
    const unsigned cells = putShown(line, width, out, n);
    if (line.shownCells > cells)
        putRepeated(out, n, ' ', line.shownCells - cells);
    line.shownCells = std::max(line.shownCells, cells);
    line.cursorCells = line.shownCells;
    return n;
}
