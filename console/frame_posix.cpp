#include "console/frame_posix.h"

#include <cstring>

#include "console/line_editor.h"

namespace {

constexpr char CLEAR[] = "\x1b[H\x1b[J";
constexpr int RING_LINES = FRAME_LINES - FRAME_TOP_LINES;
// From this window size up the frame is shown whole.
constexpr int WHOLE_ROWS = 25;
constexpr int WHOLE_COLS = 85;

int slotOf(int line)
{
    return line < FRAME_TOP_LINES ? line : FRAME_TOP_LINES + (line - FRAME_TOP_LINES) % RING_LINES;
}

// cppcheck-suppress constParameter
FrameLine& lineOf(Frame& f)
{
    return f.lines[slotOf(f.line)];
}

// The line goes on in the frame's attribute from its end on.
void markAttribute(Frame& f, FrameLine& l)
{
    if (f.attr < 0 || (l.spans > 0 && l.span[l.spans - 1].attr == f.attr))
        return;
    if (l.spans > 0 && l.span[l.spans - 1].cell == l.cells) {
        l.span[l.spans - 1].attr = static_cast<std::uint8_t>(f.attr);  // nothing was written in the one before
        return;
    }
    if (l.spans < FRAME_SPANS)
        l.span[l.spans++] = FrameSpan{static_cast<std::uint16_t>(l.cells), static_cast<std::uint16_t>(l.size),
                                      static_cast<std::uint8_t>(f.attr)};
}

void startLine(Frame& f)
{
    FrameLine& l = lineOf(f);
    l.cells = 0;
    l.size = 0;
    l.spans = 0;
    l.wide = false;
    markAttribute(f, l);
}

void putGlyph(Frame& f, const char* bytes, std::size_t size, unsigned cells)
{
    FrameLine& l = lineOf(f);
    if (l.cells + static_cast<int>(cells) > FRAME_COLS)
        return;
    std::memcpy(l.text + l.size, bytes, size);
    l.size += static_cast<int>(size);
    l.cells += static_cast<int>(cells);
    l.wide = l.wide || cells == 2;
    f.filled = f.line + 1;
}

// A run of printable ASCII, the most of any frame: from `text`, how many it took.
std::size_t putAscii(Frame& f, const char* text, std::size_t size)
{
    std::size_t n = 0;
    while (n < size && static_cast<unsigned char>(text[n]) >= 0x20 && static_cast<unsigned char>(text[n]) < 0x7f)
        ++n;
    if (n == 0)
        return 0;
    FrameLine& l = lineOf(f);
    const std::size_t room = static_cast<std::size_t>(FRAME_COLS - l.cells);
    const std::size_t kept = n < room ? n : room;
    std::memcpy(l.text + l.size, text, kept);
    l.size += static_cast<int>(kept);
    l.cells += static_cast<int>(kept);
    f.filled = f.line + 1;
    return n;
}

std::size_t utf8Length(unsigned char lead)
{
    return lead >= 0xc2 && lead <= 0xdf ? 2 : lead >= 0xe0 && lead <= 0xef ? 3 : lead >= 0xf0 && lead <= 0xf4 ? 4 : 1;
}

bool isContinuation(unsigned char b) { return b >= 0x80 && b <= 0xbf; }

// One character from `text`, of which `size` bytes are at hand; how many it took.
std::size_t addCharacter(Frame& f, const char* text, std::size_t size)
{
    if (text[0] == '\n') {
        ++f.line;
        startLine(f);
        return 1;
    }
    char glyph[4];
    std::size_t glyphSize = 0;
    unsigned cells = 0;
    const std::size_t length = glyphOf(text, size, glyph, glyphSize, cells);
    putGlyph(f, glyph, glyphSize, cells);
    return length;
}

void put(Sink& sink, const char* text, std::size_t size)
{
    while (size > 0) {
        if (sink.size == sink.capacity)
            sink.flush(sink);
        std::size_t n = sink.capacity - sink.size;
        n = n < size ? n : size;
        std::memcpy(sink.bytes + sink.size, text, n);
        sink.size += n;
        text += n;
        size -= n;
    }
}

void put(Sink& sink, char c) { put(sink, &c, 1); }

// Console colour bits are blue=1, green=2, red=4; SGR numbers red=1, green=2, blue=4.
unsigned sgrColour(unsigned bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); }

void putAttr(Sink& sink, Shown& s, int attr)
{
    if (s.attr == attr || attr < 0)
        return;
    const unsigned fg = static_cast<unsigned>(attr) & 0x0fU;
    const unsigned bg = (static_cast<unsigned>(attr) >> 4) & 0x0fU;
    const unsigned codes[] = {((fg & 8) != 0 ? 90 : 30) + sgrColour(fg), ((bg & 8) != 0 ? 100 : 40) + sgrColour(bg)};
    char text[16] = "\x1b[0";
    std::size_t n = 3;
    for (const unsigned code : codes) {
        text[n++] = ';';
        if (code >= 100)
            text[n++] = '1';
        text[n++] = static_cast<char>('0' + code / 10 % 10);
        text[n++] = static_cast<char>('0' + code % 10);
    }
    text[n++] = 'm';
    put(sink, text, n);
    s.attr = attr;
}

// The byte of `l` where cell `cell` starts, counted on from `cell0` at `byte0`.
int byteAtCell(const FrameLine& l, int cell0, int byte0, int cell)
{
    if (cell >= l.cells)
        return l.size;
    int at = byte0;
    for (int c = cell0; c < cell && at < l.size;) {
        const auto b = static_cast<unsigned char>(l.text[at]);
        const std::size_t length = utf8Length(b);
        unsigned cells = 1;
        if (l.wide && length > 1) {
            char glyph[4];
            std::size_t glyphSize = 0;
            glyphOf(l.text + at, static_cast<std::size_t>(l.size - at), glyph, glyphSize, cells);
        }
        if (c + static_cast<int>(cells) > cell)
            break;  // the right half of a wide glyph: it is not shown at all
        c += static_cast<int>(cells);
        at += static_cast<int>(length);
    }
    return at;
}

// The bytes [from, to) of a line, each in its attribute (before the first,
// in whatever the terminal has: the program has set none yet).
void putText(Sink& sink, Shown& s, const FrameLine& l, int from, int to, bool colours)
{
    int i = -1;
    while (i + 1 < l.spans && l.span[i + 1].byte <= from)
        ++i;
    while (from < to) {
        const int end = i + 1 < l.spans && l.span[i + 1].byte < to ? l.span[i + 1].byte : to;
        if (colours && i >= 0)
            putAttr(sink, s, l.span[i].attr);
        put(sink, l.text + from, static_cast<std::size_t>(end - from));
        from = end;
        ++i;
    }
}

const FrameLine* keptLine(const Frame& f, int line)
{
    if (line < 0 || line > f.line || (line >= FRAME_TOP_LINES && line <= f.line - RING_LINES))
        return nullptr;
    return &f.lines[slotOf(line)];
}

// Plain text and the whole layout: every line as it comes, its break at once.
void presentInOrder(const Frame& f, Shown& s, Sink& sink, bool colours)
{
    for (int line = s.line; line <= f.line; ++line) {
        const int from = line == s.line ? s.byte : 0;
        if (line > s.line) {
            put(sink, '\n');
            s.atLineStart = true;
        }
        const FrameLine* const l = keptLine(f, line);
        if (l != nullptr && from < l->size) {
            putText(sink, s, *l, from, l->size, colours);
            s.atLineStart = false;
        }
    }
    const FrameLine* const last = keptLine(f, f.line);
    s.line = f.line;
    s.col = last != nullptr ? last->cells : 0;
    s.byte = last != nullptr ? last->size : 0;
}

// The fitted layout: which window row a frame line shows on, if any.
int rowOf(const Shown& s, int line)
{
    if (s.lines <= s.rows || line < s.keepTop)
        return line;
    const int row = s.keepTop + line - (s.lines - (s.rows - s.keepTop));
    return row >= s.keepTop ? row : -1;
}

int keepTopFor(const Shown& s, int lines)
{
    const int kept = s.rows - (lines - s.topLines);
    return kept < 1 ? 1 : kept > s.rows ? s.rows : kept;
}

// Line breaks are written only once a shown line has something to show:
// never one at the bottom of the window, which would scroll it.
bool reachLine(Shown& s, Sink& sink, int line)
{
    const int row = rowOf(s, line);
    if (row < 0 || row >= s.rows)
        return false;
    for (; s.row < row; ++s.row)
        put(sink, '\n');
    return true;
}

void presentFitted(const Frame& f, Shown& s, Sink& sink)
{
    for (int line = s.line; line <= f.line; ++line) {
        const FrameLine* const l = keptLine(f, line);
        const int fromCell = line == s.line ? s.col : 0;
        const int fromByte = line == s.line ? s.byte : 0;
        if (l == nullptr || fromByte >= l->size || !reachLine(s, sink, line))
            continue;
        // Cut at the window's edge as it is composed.
        if (fromCell < s.cols)
            putText(sink, s, *l, fromByte, byteAtCell(*l, fromCell, fromByte, s.cols), true);
    }
    const FrameLine* const last = keptLine(f, f.line);
    s.line = f.line;
    s.col = last != nullptr ? last->cells : 0;
    s.byte = last != nullptr ? last->size : 0;
}

// A terminal that erases in its own colours, not the current ones, leaves
// every cell the frame does not write in them: the whole window is painted
// in the colours the clear was made in first, to its width and its last line.
void paintWindow(Sink& sink, Window window)
{
    char spaces[64];
    std::memset(spaces, ' ', sizeof spaces);
    for (int row = 0; row < window.rows; ++row) {
        if (row > 0)
            put(sink, '\n');
        for (int left = window.cols; left > 0; left -= static_cast<int>(sizeof spaces))
            put(sink, spaces, left < static_cast<int>(sizeof spaces) ? static_cast<std::size_t>(left) : sizeof spaces);
    }
    put(sink, "\x1b[H", 3);
}

}  // namespace

void clearFrame(Frame& f, int attr)
{
    f.line = 0;
    f.filled = 0;
    f.partialSize = 0;
    ++f.clears;
    f.clearAttr = attr;
    f.attr = attr;
    startLine(f);
}

void setFrameAttribute(Frame& f, std::uint8_t attr)
{
    f.attr = attr;
    markAttribute(f, lineOf(f));
}

void addText(Frame& f, const char* text, std::size_t size)
{
    std::size_t i = 0;
    // The rest of a character begun in the text before.
    while (f.partialSize > 0 && i < size) {
        const auto b = static_cast<unsigned char>(text[i]);
        const std::size_t want = utf8Length(static_cast<unsigned char>(f.partial[0]));
        if (isContinuation(b) && f.partialSize < want) {
            f.partial[f.partialSize++] = text[i++];
            if (f.partialSize < want)
                continue;
        }
        const std::size_t taken = addCharacter(f, f.partial, f.partialSize);
        // What the character did not take (it was cut short) stands on its own.
        std::memmove(f.partial, f.partial + taken, f.partialSize - taken);
        f.partialSize -= taken;
    }
    while (i < size) {
        i += putAscii(f, text + i, size - i);
        if (i == size)
            break;
        const auto b = static_cast<unsigned char>(text[i]);
        if (utf8Length(b) > size - i) {
            // The character goes on in the next text, unless a byte here cuts it short.
            std::size_t j = i + 1;
            while (j < size && isContinuation(static_cast<unsigned char>(text[j])))
                ++j;
            if (j == size) {
                std::memcpy(f.partial, text + i, size - i);
                f.partialSize = size - i;
                return;
            }
        }
        i += addCharacter(f, text + i, size - i);
    }
}

Layout layoutFor(bool sequences, Window window)
{
    if (!sequences)
        return Layout::PLAIN;
    const bool unknown = window.rows <= 0 || window.cols <= 0;
    return unknown || (window.rows >= WHOLE_ROWS && window.cols >= WHOLE_COLS) ? Layout::WHOLE : Layout::FITTED;
}

void present(const Frame& f, Shown& s, Layout layout, Window window, Sink& sink, bool paintBlanks)
{
    if (layout == Layout::PLAIN) {
        // Frames follow one another, each from the start of a line of its own.
        if (s.clears != f.clears) {
            if (!s.atLineStart)
                put(sink, '\n');
            s.atLineStart = true;
            s.clears = f.clears;
            s.line = 0;
            s.col = 0;
            s.byte = 0;
        }
        presentInOrder(f, s, sink, false);
        s.layout = layout;
        s.valid = true;
        s.drawn = true;
        sink.flush(sink);
        return;
    }
    const int lines = f.filled > 0 ? f.filled : 1;
    const bool newFrame = s.clears != f.clears;
    if (newFrame)
        s.topLines = -1;
    if (s.topLines < 0 && f.filled > 0)
        s.topLines = lines;
    bool whole = !s.valid || newFrame || s.layout != layout;
    if (layout == Layout::FITTED) {
        whole = whole || s.rows != window.rows || s.cols != window.cols;
        const bool laidOut = (lines <= window.rows && s.lines <= window.rows) ||
                             (lines == s.lines && keepTopFor(s, lines) == s.keepTop);
        whole = whole || !laidOut;
    }
    if (whole) {
        // The first screen, before any clear, goes on from where the shell left the cursor.
        if (f.clears > 0 || s.drawn) {
            putAttr(sink, s, f.clearAttr);
            put(sink, CLEAR, sizeof CLEAR - 1);
            if (paintBlanks)
                paintWindow(sink, window);
        }
        s.clears = f.clears;
        s.line = 0;
        s.col = 0;
        s.byte = 0;
        s.row = 0;
    }
    s.layout = layout;
    s.rows = window.rows;
    s.cols = window.cols;
    s.lines = lines;
    s.keepTop = keepTopFor(s, lines);
    if (layout == Layout::WHOLE)
        presentInOrder(f, s, sink, true);
    else
        presentFitted(f, s, sink);
    putAttr(sink, s, f.attr);
    s.valid = true;
    s.drawn = true;
    sink.flush(sink);
}

void presentHeldBreaks(const Frame& f, Shown& s, Sink& sink)
{
    if (!s.valid || s.layout != Layout::FITTED)
        return;
    // The breaks after the last line that shows anything, which the cursor is on.
    for (int line = f.filled > 0 ? f.filled - 1 : 0; line < f.line; ++line)
        put(sink, '\n');
    s.valid = false;
    sink.flush(sink);
}

void FrameBuffer::gather()
{
    const auto size = static_cast<std::size_t>(pptr() - pbase());
    addText(frame, pbase(), size);
    gathered += size;
    setp(pending, pending + sizeof pending);
}

void FrameBuffer::setAttribute(std::uint8_t attr)
{
    if (attr == frame.attr)
        return;  // no gathering: the view sets the same attribute for most cells
    gather();
    setFrameAttribute(frame, attr);
}

void FrameBuffer::clear()
{
    gather();
    clearFrame(frame, frame.attr);
}

FrameBuffer::int_type FrameBuffer::overflow(int_type ch)
{
    gather();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return traits_type::not_eof(ch);
}

int FrameBuffer::sync()
{
    gather();
    if (show != nullptr)
        show(*this);
    return 0;
}
