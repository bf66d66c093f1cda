#pragma once
// Between the POSIX output and the way it reaches the terminal: rendered bytes
// written a chunk at a time, and the screen fitted to a window smaller than
// the frame. Each line is cut at the window's width and no more lines are
// written than the window has, so that nothing wraps or scrolls; a line break
// is written only once its new line has something to show. The record since
// the last clear is laid out as its top lines, then its last ones once it is
// taller than the window. Sits on the terminal of terminal_posix.h.

#include <cstddef>

constexpr std::size_t CHUNK_MAX = std::size_t{8} * 1024;
constexpr std::size_t SEQUENCE_MAX = 16;

// Rendered bytes on their way to the terminal, written a chunk at a time.
struct Sink {
    char bytes[CHUNK_MAX]{};
    std::size_t size = 0;
};

// Escape sequences are read apart from the text around them.
struct SequenceReader {
    int state = 0;  // 0 text, 1 after ESC, 2 inside CSI
    char params[SEQUENCE_MAX]{};
    std::size_t size = 0;
};

// Lines of the record that hold something; line breaks at its end do not
// count until something follows them.
struct LineCount {
    SequenceReader reader;
    int lines = 1;
    int held = 0;
};

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

// Writes out what the sink holds; a failed write ends the program.
void drain(Sink& sink);
void put(Sink& sink, const char* text, std::size_t size);
void put(Sink& sink, char c);

void count(LineCount& c, const char* text, std::size_t size);
// How many lines from the top stay when the record has `lines` lines.
int keepTopFor(const Fit& f, int lines);
// Renders the next `size` bytes of the record.
void render(Fit& f, Sink& sink, const char* text, std::size_t size);
// The text without any escape sequence, for output that is no terminal.
void renderPlain(Sink& sink, SequenceReader& reader, bool& atLineStart, const char* text, std::size_t size);
