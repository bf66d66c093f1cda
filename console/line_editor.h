#pragma once
// The line a value is typed into at a terminal: its editing, and the echo
// that shows it. A UTF-8 character is one character for the cursor and for
// every erase; any other byte stands alone and shows as "?", as does every
// byte above 0x7f where the terminal's set is not UTF-8. The echo uses
// nothing but printable text, spaces and backspaces, in a field of a given
// width that scrolls sideways with the cursor.

#include <cstddef>
#include <cstdint>

// Room for one entry. It serves the echo and the editing only: an entry that
// does not fit is invalid as a whole.
constexpr std::size_t LINE_BYTES = std::size_t{16} * 1024;

struct LineEdit {
    char text[LINE_BYTES + 1]{};  // one more for the line's end once it is entered
    std::size_t size = 0;
    std::size_t cursor = 0;   // byte offset, always at the start of a character
    bool overflowed = false;  // something typed did not fit
    // What the terminal shows, relative to the field's first column.
    std::size_t first = 0;     // byte offset of the first character shown
    unsigned shownCells = 0;   // cells the echo covers
    unsigned cursorCells = 0;  // where the terminal's cursor stands
};

enum class Edit : std::uint8_t {
    LEFT,
    RIGHT,
    HOME,
    END,
    DELETE_UNDER,   // the character under the cursor
    ERASE_BEFORE,   // the character before it
    KILL_BEFORE,    // everything before it
    WORD_BEFORE,    // the word before it, and the blanks after that word
};

// An empty line, shown as nothing yet.
void startLine(LineEdit& line);
// Inserts one typed byte at the cursor; a byte that does not fit marks the
// line as overflowed instead.
void insertByte(LineEdit& line, std::uint8_t byte);
void applyEdit(LineEdit& line, Edit edit);

// The field is never wider than this, and ECHO_BYTES hold any one redraw.
constexpr unsigned FIELD_MAX_CELLS = 512;
constexpr std::size_t ECHO_BYTES = std::size_t{8} * FIELD_MAX_CELLS;

// The bytes that take the terminal from what it shows to the line as it is,
// within `width` cells, written to `out`; how many.
std::size_t redrawLine(LineEdit& line, unsigned width, char* out);
// The bytes that take the terminal's cursor back to the field's first column.
std::size_t backToFieldStart(LineEdit& line, char* out);
// The line as the field shows it, written afresh from its first column with
// its cursor left at its end: no control byte, so it can go into a record of
// the screen.
std::size_t shownLine(LineEdit& line, unsigned width, char* out);

// How the character at `text` (with `size` bytes from there) shows: its bytes
// in `glyph` (room for 4), its length in bytes as the return value, and its
// width in cells in `cells`.
std::size_t glyphOf(const char* text, std::size_t size, char* glyph, std::size_t& glyphSize, unsigned& cells);
