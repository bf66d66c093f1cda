#include "console/fitted_screen_posix.h"

#include "console/terminal_posix.h"

namespace {

enum class Read { TEXT, PENDING, SEQUENCE, DROPPED };

Read readByte(SequenceReader& r, char c)
{
    const auto b = static_cast<unsigned char>(c);
    if (r.state == 0) {
        if (b != 0x1b)
            return Read::TEXT;
        r.state = 1;
        return Read::PENDING;
    }
    if (r.state == 1) {
        r.state = b == '[' ? 2 : 0;
        r.size = 0;
        return r.state == 2 ? Read::PENDING : Read::DROPPED;
    }
    if (b >= 0x20 && b < 0x40) {
        if (r.size < SEQUENCE_MAX)
            r.params[r.size++] = c;
        return Read::PENDING;
    }
    r.state = 0;
    return b >= 0x40 && b <= 0x7e && r.size < SEQUENCE_MAX ? Read::SEQUENCE : Read::DROPPED;
}

// Colours and modes: they move no cursor and belong to no line.
bool onNoLine(const SequenceReader& r, char final)
{
    return final == 'm' || (r.size > 0 && r.params[0] == '?');
}

bool fitsWhole(const Fit& f)
{
    return f.lines <= f.rows;
}

int rowOf(const Fit& f, int line)
{
    if (fitsWhole(f) || line < f.keepTop)
        return line;
    return f.keepTop + line - (f.lines - (f.rows - f.keepTop));
}

bool shows(const Fit& f, int line)
{
    const int row = rowOf(f, line);
    return row >= 0 && row < f.rows && (fitsWhole(f) || line < f.keepTop || row >= f.keepTop);
}

// Line breaks are written only when a shown line has something to write:
// never one at the bottom of the window, which would scroll it.
bool reachLine(Fit& f, Sink& sink)
{
    if (!shows(f, f.line))
        return false;
    for (const int row = rowOf(f, f.line); f.row < row; ++f.row)
        put(sink, '\n');
    return true;
}

// The cursor's column: the last one once a line reaches the edge, as autowrap is off.
int cursorCol(const Fit& f, int col)
{
    return col < f.cols ? col : f.cols - 1;
}

void putSequence(Sink& sink, const SequenceReader& r, char final)
{
    put(sink, "\x1b[", 2);
    put(sink, r.params, r.size);
    put(sink, final);
}

void renderSequence(Fit& f, Sink& sink, char final)
{
    const SequenceReader& r = f.reader;
    if (onNoLine(r, final)) {
        putSequence(sink, r, final);
        return;
    }
    const bool shown = reachLine(f, sink);
    if (final == 'C' || final == 'D') {
        int n = 0;
        for (std::size_t i = 0; i < r.size && r.params[i] >= '0' && r.params[i] <= '9'; ++i)
            n = n * 10 + (r.params[i] - '0');
        const int before = f.col;
        f.col = final == 'C' ? f.col + (n == 0 ? 1 : n) : f.col - (n == 0 ? 1 : n);
        f.col = f.col < 0 ? 0 : f.col;
        const int moved = cursorCol(f, f.col) - cursorCol(f, before);
        if (shown && moved != 0) {
            char text[16] = "\x1b[";
            std::size_t size = 2;
            const int steps = moved < 0 ? -moved : moved;
            char digits[12];
            std::size_t d = 0;
            for (int v = steps; v > 0; v /= 10)
                digits[d++] = static_cast<char>('0' + v % 10);
            while (d > 0)
                text[size++] = digits[--d];
            text[size++] = moved < 0 ? 'D' : 'C';
            put(sink, text, size);
        }
        return;
    }
    if (shown)
        putSequence(sink, r, final);
}

}  // namespace

void drain(Sink& sink)
{
    if (sink.size == 0)
        return;
    const int error = writeOutput(sink.bytes, sink.size);
    sink.size = 0;
    if (error != 0)
        failOutput(error);
}

void put(Sink& sink, const char* text, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (sink.size == CHUNK_MAX)
            drain(sink);
        sink.bytes[sink.size++] = text[i];
    }
}

void put(Sink& sink, char c)
{
    put(sink, &c, 1);
}

void count(LineCount& c, const char* text, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        const Read read = readByte(c.reader, text[i]);
        if (read == Read::PENDING || read == Read::DROPPED || (read == Read::SEQUENCE && onNoLine(c.reader, text[i])))
            continue;
        if (read == Read::TEXT && text[i] == '\n') {
            ++c.held;
            continue;
        }
        c.lines += c.held;
        c.held = 0;
    }
}

int keepTopFor(const Fit& f, int lines)
{
    const int kept = f.rows - (lines - f.frameLines);
    return kept < 1 ? 1 : kept > f.rows ? f.rows : kept;
}

void render(Fit& f, Sink& sink, const char* text, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        const auto b = static_cast<unsigned char>(c);
        const Read read = readByte(f.reader, c);
        if (read == Read::SEQUENCE)
            renderSequence(f, sink, c);
        if (read != Read::TEXT)
            continue;
        if (c == '\n') {
            ++f.line;
            f.col = 0;
        } else if (c == '\r') {
            if (reachLine(f, sink))
                put(sink, c);
            f.col = 0;
        } else if (c == '\b') {
            if (reachLine(f, sink) && f.col > 0 && f.col < f.cols)
                put(sink, c);
            f.col = f.col > 0 ? f.col - 1 : 0;
        } else if (b >= 0x80 && b < 0xc0) {
            if (f.glyphShown)  // the rest of a character whose first byte was written
                put(sink, c);
        } else if (b >= 0x20 && b != 0x7f) {
            f.glyphShown = reachLine(f, sink) && f.col < f.cols;
            if (f.glyphShown)
                put(sink, c);
            ++f.col;
        }
    }
}

void renderPlain(Sink& sink, SequenceReader& reader, bool& atLineStart, const char* text, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (readByte(reader, text[i]) != Read::TEXT)
            continue;
        put(sink, text[i]);
        atLineStart = text[i] == '\n';
    }
}
