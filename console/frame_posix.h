#pragma once
// The screen as the program composes it, and the bytes that show it on a
// terminal. The view writes text and sets attributes as a console takes them;
// a Frame keeps that as lines of cells, each a glyph in an attribute, from the
// last clear on. present() brings the terminal from what it shows to the frame
// in one of three layouts: whole, as the frame is, in a window of 85 columns
// and 25 lines or more; fitted to a smaller one, where the frame's top lines
// stay and a prompt or message after it takes the last lines, each line cut
// at the window's width as it is composed, so nothing wraps or scrolls; or
// plain text, for output that takes no escape sequences. Nothing here reads
// escape sequences back: attributes are cells' values, never text.

#include <cstddef>
#include <cstdint>
#include <streambuf>

// Lines kept from the top of a frame, and the ring that keeps the latest of
// the lines after them: past both a line is gone (only a command line of
// hundreds of usage requests gets there).
constexpr int FRAME_TOP_LINES = 32;
constexpr int FRAME_LINES = 96;
// Cells a line keeps: the widest line is a prompt with the widest value field.
constexpr int FRAME_COLS = 544;
// Changes of attribute a line keeps; the view makes three at most.
constexpr int FRAME_SPANS = 48;

// From cell `cell` (byte `byte` of the line's text) on, the text is in `attr`.
struct FrameSpan {
    std::uint16_t cell;
    std::uint16_t byte;
    std::uint8_t attr;
};

// A line: its characters' bytes as they go to the terminal, each character
// one cell or, where `wide`, maybe two, and the attributes they are in.
struct FrameLine {
    int cells = 0;
    int size = 0;
    int spans = 0;
    bool wide = false;
    char text[FRAME_COLS * 4];
    FrameSpan span[FRAME_SPANS];
};

struct Frame {
    FrameLine lines[FRAME_LINES];
    int line = 0;          // the line text goes on at
    int filled = 0;        // lines up to the last that holds a cell
    int clears = 0;        // how many clears there were
    int clearAttr = -1;    // the attribute the last clear was made in
    int attr = -1;         // for the text that comes next; -1: the terminal's own, before any is set
    char partial[4]{};     // a character whose bytes are still coming
    std::size_t partialSize = 0;
};

// Starts the frame afresh, as a clear of the screen in `attr` does.
void clearFrame(Frame& f, int attr);
// Text written after this shows in `attr`.
void setFrameAttribute(Frame& f, std::uint8_t attr);
// Text as the view writes it: characters, each a cell (two for a wide one),
// and line breaks. Any byte that would act on a terminal is shown as a
// printable stand-in instead.
void addText(Frame& f, const char* text, std::size_t size);

enum class Layout : std::uint8_t { PLAIN, WHOLE, FITTED };

// What the terminal shows of a frame, as the last present left it.
struct Shown {
    bool valid = false;  // false: nothing of the frame is on the terminal, or unknown
    bool drawn = false;  // anything was ever presented
    Layout layout = Layout::PLAIN;
    int rows = 0;
    int cols = 0;
    int clears = 0;      // the frame's clears when this was drawn
    int line = 0;        // the frame's line, cell and byte of it the next text goes to
    int col = 0;
    int byte = 0;
    int row = 0;         // the window's row the cursor is on (fitted)
    int lines = 1;       // lines laid out (fitted)
    int keepTop = 0;     // lines from the top that stay once the frame is taller than the window
    int topLines = -1;   // lines of the first present after the clear: the frame itself
    int attr = -1;       // the attribute the terminal shows in now
    bool atLineStart = true;  // plain text: whether the last byte written ended a line
};

// Where composed bytes go: `flush` takes the buffer when it is full and at
// the end of a present, so a frame that fits goes out in one write.
struct Sink {
    char* bytes;
    std::size_t capacity;
    std::size_t size = 0;
    void (*flush)(Sink& sink);
};

struct Window {
    int rows = 0;  // 0: unknown
    int cols = 0;
};

// The layout for a window: PLAIN without escape sequences, else WHOLE or FITTED.
Layout layoutFor(bool sequences, Window window);
// Writes what brings the terminal from `shown` to `f`, and notes it in `shown`.
// Drawn whole after a clear, a change of layout or window, or an invalid
// `shown`; there, with `paintBlanks` (a terminal that erases in its own
// colours), every cell of the window is painted in the clear's colours first.
void present(const Frame& f, Shown& shown, Layout layout, Window window, Sink& sink, bool paintBlanks = false);
// The line breaks a fitted screen holds back at its end, for when the
// terminal may scroll: the program is about to give it back.
void presentHeldBreaks(const Frame& f, Shown& shown, Sink& sink);

// std::cout's buffer where it draws on a terminal: what is written goes into
// the frame, and at each flush `show` presents it. Static storage only.
struct FrameBuffer : std::streambuf {
    FrameBuffer() : frame{} { setp(pending, pending + sizeof pending); }
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    // Text written after this shows in `attr`.
    void setAttribute(std::uint8_t attr);
    // A new frame, in the attribute in force.
    void clear();
    // How many bytes the buffer has taken so far.
    unsigned long long taken() const { return gathered + static_cast<unsigned long long>(pptr() - pbase()); }

    Frame frame;
    void (*show)(const FrameBuffer& buffer) = nullptr;

protected:
    int_type overflow(int_type ch) override;
    int sync() override;

private:
    void gather();

    char pending[4096];
    unsigned long long gathered = 0;
};
