// Output on a POSIX terminal: attributes as SGR sequences in the output
// stream, the screen cleared in place, and one buffer for std::cout that keeps
// what the screen has shown since the last clear, so that it can be drawn again
// where the program cannot redraw it itself (a prompt that is being answered).
// All of it lives in static storage: after start-up no output allocates.
//
// The screen is written one of three ways:
// - whole, as it comes, in a window of 85 columns and 25 lines or more;
// - fitted, in a smaller window: each line cut at the window's width, and no
//   more lines than the window has, so that nothing wraps or scrolls. The
//   frame (what the first flush after a clear wrote) keeps its top lines; what
//   follows it, a prompt or a message, takes the window's last lines, and the
//   frame gives up the lines above it;
// - plain, when standard output is no terminal or one without escape
//   sequences: no colours, no clearing, frames one after another.

#include <algorithm>
#include <cstddef>
#include <iostream>
#include <new>
#include <streambuf>

#include "console/console.h"
#include "console/console_posix.h"
#include "console/terminal_posix.h"

namespace {

constexpr char CLEAR[] = "\x1b[H\x1b[J";
constexpr std::size_t PENDING_MAX = std::size_t{16} * 1024;
// A frame with its prompts is a few KiB; past this the record stops growing.
constexpr std::size_t RECORD_MAX = std::size_t{64} * 1024;
constexpr std::size_t CHUNK_MAX = std::size_t{8} * 1024;
constexpr std::size_t SEQUENCE_MAX = 16;
// From this window size up the screen is written whole, as it always was.
constexpr int WHOLE_ROWS = 25;
constexpr int WHOLE_COLS = 85;

enum class Mode { PLAIN, WHOLE, FITTED };

struct Sgr {
    char text[16];
    std::size_t size;
};

// Written by hand so that the stream's number base, which the view owns, stays as it is.
Sgr sgr(unsigned char attr)
{
    // Console colour bits are blue=1, green=2, red=4; SGR numbers red=1, green=2, blue=4.
    const auto sgrColour = [](unsigned bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); };
    const unsigned fg = attr & 0x0fU;
    const unsigned bg = (attr >> 4) & 0x0fU;
    const unsigned codes[] = {((fg & 8) != 0 ? 90 : 30) + sgrColour(fg), ((bg & 8) != 0 ? 100 : 40) + sgrColour(bg)};
    Sgr out{"\x1b[0", 3};
    for (const unsigned code : codes) {
        out.text[out.size++] = ';';
        if (code >= 100)
            out.text[out.size++] = '1';
        out.text[out.size++] = static_cast<char>('0' + code / 10 % 10);
        out.text[out.size++] = static_cast<char>('0' + code % 10);
    }
    out.text[out.size++] = 'm';
    return out;
}

// Rendered bytes on their way to the terminal, written a chunk at a time.
struct Sink {
    char bytes[CHUNK_MAX];
    std::size_t size = 0;
};

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

// Escape sequences are read apart from the text around them.
struct SequenceReader {
    int state = 0;  // 0 text, 1 after ESC, 2 inside CSI
    char params[SEQUENCE_MAX];
    std::size_t size = 0;
};

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

// Lines of the record that hold something; line breaks at its end do not
// count until something follows them.
struct LineCount {
    SequenceReader reader;
    int lines = 1;
    int held = 0;
};

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

// The fitted screen: which lines show on which row, and where writing stands.
struct Fit {
    int rows = 0;
    int cols = 0;
    int lines = 1;         // as laid out
    int keepTop = 0;       // lines from the top that stay once the record is taller than the window
    int frameLines = -1;   // what the first flush after the clear wrote
    SequenceReader reader;
    int line = 0;  // of the record
    int col = 0;   // as if the line went on past the window's edge
    int row = 0;   // of the window, where the cursor is
    bool glyphShown = false;
};

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

void renderSequence(Fit& f, Sink& sink, char final)
{
    const SequenceReader& r = f.reader;
    if (onNoLine(r, final)) {
        put(sink, "\x1b[", 2);
        put(sink, r.params, r.size);
        put(sink, final);
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
    if (shown) {
        put(sink, "\x1b[", 2);
        put(sink, r.params, r.size);
        put(sink, final);
    }
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

struct TerminalOutput : std::streambuf {
    char pending[PENDING_MAX];
    char record[RECORD_MAX];  // since the last clear
    std::size_t recorded = 0;
    bool recordFull = false;
    int recordAttr = -1;  // in force at the clear
    Mode mode = Mode::WHOLE;
    bool clearOwed = false;
    LineCount lines;
    Fit fit;
    SequenceReader plainReader;
    bool atLineStart = true;
    Sink sink;
    unsigned long long written = 0;

    TerminalOutput() { setp(pending, pending + PENDING_MAX); }

    unsigned long long taken() const { return written + static_cast<unsigned long long>(pptr() - pbase()); }

    int_type overflow(int_type ch) override
    {
        sync();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }

    int sync() override
    {
        const auto size = static_cast<std::size_t>(pptr() - pbase());
        setp(pending, pending + PENDING_MAX);
        written += size;
        keep(pending, size);
        // In the background the terminal is the shell's: what is kept is drawn
        // again once the program is back in front.
        if (size == 0 || !outputInForeground())
            return 0;
        switch (mode) {
        case Mode::PLAIN:
            if (clearOwed && !atLineStart)
                put(sink, '\n');
            clearOwed = false;
            renderPlain(sink, plainReader, atLineStart, pending, size);
            break;
        case Mode::WHOLE:
            if (clearOwed)
                put(sink, CLEAR, sizeof CLEAR - 1);
            clearOwed = false;
            put(sink, pending, size);
            break;
        case Mode::FITTED: renderFitted(size); break;
        }
        drain(sink);
        return 0;
    }

    void keep(const char* text, std::size_t size)
    {
        if (recordFull || RECORD_MAX - recorded < size) {
            recordFull = true;
            return;
        }
        for (std::size_t i = 0; i < size; ++i)
            record[recorded++] = text[i];
        count(lines, text, size);
    }

    void renderFitted(std::size_t size)
    {
        if (fit.frameLines < 0)
            fit.frameLines = lines.lines;
        const int keepTop = std::min(std::max(fit.rows - (lines.lines - fit.frameLines), 1), fit.rows);
        const bool laidOut = (lines.lines <= fit.rows && fit.lines <= fit.rows) ||
                             (lines.lines == fit.lines && keepTop == fit.keepTop);
        if (!clearOwed && (laidOut || recordFull)) {
            fit.lines = lines.lines <= fit.rows ? lines.lines : fit.lines;
            render(fit, sink, pending, size);
            return;
        }
        redraw();
    }

    void redraw()
    {
        clearOwed = false;
        const Fit before = fit;
        fit = Fit{};
        fit.rows = before.rows;
        fit.cols = before.cols;
        fit.frameLines = before.frameLines < 0 ? lines.lines : before.frameLines;
        fit.lines = lines.lines;
        fit.keepTop = std::min(std::max(fit.rows - (fit.lines - fit.frameLines), 1), fit.rows);
        put(sink, CLEAR, sizeof CLEAR - 1);
        render(fit, sink, record, recorded);
    }

    // A new screen: after a clear, or at the start.
    void restart(bool cleared)
    {
        const WindowSize size = windowSize();
        if (!outputTakesSequences())
            mode = Mode::PLAIN;
        else if (size.rows <= 0 || size.cols <= 0 || (size.rows >= WHOLE_ROWS && size.cols >= WHOLE_COLS))
            mode = Mode::WHOLE;
        else
            mode = Mode::FITTED;
        recorded = 0;
        recordFull = false;
        lines = LineCount{};
        fit = Fit{};
        fit.rows = size.rows;
        fit.cols = size.cols;
        recordAttr = mode == Mode::PLAIN ? -1 : shownAttribute();
        if (recordAttr >= 0) {
            const Sgr s = sgr(static_cast<unsigned char>(recordAttr));
            keep(s.text, s.size);
        }
        clearOwed = cleared;
    }

    // The record starts again at a clear, in the attribute the clear is made in.
    void clear()
    {
        sync();
        restart(true);
    }

    void replay()
    {
        sync();
        if (mode == Mode::PLAIN || !outputInForeground())
            return;
        const WindowSize size = windowSize();
        const bool whole = size.rows <= 0 || size.cols <= 0 || (size.rows >= WHOLE_ROWS && size.cols >= WHOLE_COLS);
        mode = whole ? Mode::WHOLE : Mode::FITTED;
        fit.rows = size.rows;
        fit.cols = size.cols;
        if (mode == Mode::WHOLE) {
            put(sink, CLEAR, sizeof CLEAR - 1);
            put(sink, record, recorded);
        } else {
            redraw();
        }
        clearOwed = false;
        drain(sink);
    }

    // Line breaks a fitted screen held back at its end; the terminal may scroll now.
    void finish()
    {
        sync();
        if (mode != Mode::FITTED || !outputInForeground())
            return;
        for (int i = 0; i < lines.held; ++i)
            put(sink, '\n');
        lines.held = 0;
        drain(sink);
    }
};

// Never destroyed: std::cout may be written until the very end.
alignas(TerminalOutput) unsigned char outputStorage[sizeof(TerminalOutput)];
TerminalOutput* output = nullptr;

}  // namespace

void installOutput()
{
    output = new (outputStorage) TerminalOutput;
    output->restart(false);
    std::cout.rdbuf(output);
}

unsigned long long outputWritten()
{
    return output != nullptr ? output->taken() : 0;
}

void replayScreen()
{
    std::cout.flush();
    if (output != nullptr)
        output->replay();
    noteShownAttribute(-1);  // whatever the record ended in
}

void finishOutput()
{
    std::cout.flush();
    if (output != nullptr && std::cout.rdbuf() == output)
        output->finish();
}

ConsoleHandle outputHandle()
{
    return &std::cout;
}

void setTextAttribute(ConsoleHandle, unsigned char attr)
{
    if (output != nullptr && output->mode == Mode::PLAIN)
        return;
    if (shownAttribute() == attr)
        return;
    const Sgr s = sgr(attr);
    std::cout.write(s.text, static_cast<std::streamsize>(s.size));
    noteShownAttribute(attr);
}

void clearScreen()
{
    // Home and erase below rather than erase-all: some terminals push a whole-screen
    // erase into their scrollback, which would fill it with a copy of every frame.
    if (output != nullptr && std::cout.rdbuf() == output)
        output->clear();
    else
        std::cout << CLEAR;
}
