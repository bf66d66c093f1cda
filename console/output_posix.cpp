// Output on a POSIX terminal: attributes as SGR sequences in the output
// stream, the screen cleared in place, and one buffer for std::cout that keeps
// what the screen has shown since the last clear, so that it can be drawn again
// where the program cannot redraw it itself (a prompt that is being answered).
// All of it lives in static storage: after start-up no output allocates.
//
// The screen is written one of three ways: whole, as it comes, in a window of
// 85 columns and 25 lines or more; fitted to a smaller window (see
// fitted_screen_posix.h), where the frame, which the first flush after a clear
// writes, keeps its top lines and a prompt or message after it takes the last
// ones; or plain, when standard output is no terminal or one without escape
// sequences: no colours, no clearing, frames one after another.

#include <cstddef>
#include <iostream>
#include <new>
#include <streambuf>

#include "console/console.h"
#include "console/console_posix.h"
#include "console/fitted_screen_posix.h"
#include "console/terminal_posix.h"

namespace {

constexpr char CLEAR[] = "\x1b[H\x1b[J";
constexpr std::size_t PENDING_MAX = std::size_t{16} * 1024;
// A frame with its prompts is a few KiB; past this the record stops growing.
constexpr std::size_t RECORD_MAX = std::size_t{64} * 1024;
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

Mode modeFor(WindowSize size)
{
    if (!outputTakesSequences())
        return Mode::PLAIN;
    const bool unknown = size.rows <= 0 || size.cols <= 0;
    return unknown || (size.rows >= WHOLE_ROWS && size.cols >= WHOLE_COLS) ? Mode::WHOLE : Mode::FITTED;
}

struct TerminalOutput : std::streambuf {
    char pending[PENDING_MAX]{};
    char record[RECORD_MAX]{};  // since the last clear
    std::size_t recorded = 0;
    bool recordFull = false;
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
        if (fit.frameLines < 0 && size > 0)
            fit.frameLines = lines.lines;
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
        const int keepTop = keepTopFor(fit, lines.lines);
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
        fit.frameLines = before.frameLines;
        fit.lines = lines.lines;
        fit.keepTop = keepTopFor(fit, fit.lines);
        put(sink, CLEAR, sizeof CLEAR - 1);
        render(fit, sink, record, recorded);
    }

    // A new screen: after a clear, or at the start.
    void restart(bool cleared)
    {
        const WindowSize size = windowSize();
        mode = modeFor(size);
        recorded = 0;
        recordFull = false;
        lines = LineCount{};
        fit = Fit{};
        fit.rows = size.rows;
        fit.cols = size.cols;
        const int attr = mode == Mode::PLAIN ? -1 : shownAttribute();
        if (attr >= 0) {
            const Sgr s = sgr(static_cast<unsigned char>(attr));
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
        mode = modeFor(size);
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
