#pragma once
// A small terminal screen model. It understands exactly what a well-behaved
// gleanhex frame may contain (printable UTF-8, line breaks, cursor home, erase,
// SGR colours, autowrap and keypad-transmit mode off and on) and records anything else as a violation:
// a control code that reached the terminal, or a glyph written over the last
// column of a line that had already reached it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Screen rows of a frame drawn from the top of a fresh screen.
constexpr int HEADER_ROW = 0;
constexpr int FIRST_GRID_ROW = 2;
constexpr int PANEL_ROW = 21;
constexpr int ADDRESS_ROW = 22;
constexpr int FRAME_ROWS = ADDRESS_ROW + 1;

// Screen columns of a grid row whose address takes `width` characters: where
// grid column `c`'s two hex digits start, and where its character stands.
constexpr int hexColumn(std::size_t width, int c) { return static_cast<int>(width) + 3 + 3 * c; }
constexpr int charColumn(std::size_t width, int c) { return static_cast<int>(width) + 53 + c; }

struct Cell {
    std::string glyph = " ";
    int fg = 0;  // SGR foreground in force when written (0: terminal default)
    int bg = 0;
    bool written = false;  // since the last erase
};

// Where the bytes come from. A terminal behind a pseudo-terminal gets them after
// the terminal driver, which turns a line feed into CR LF and echoes typed keys
// with their backspaces. A program's own output comes before the driver: a line
// feed is a new line, and no other control code may appear.
enum class Bytes { FROM_TERMINAL, FROM_PROGRAM };

class Screen {
public:
    Screen(int rows, int cols, Bytes bytes = Bytes::FROM_TERMINAL);

    void feed(std::string_view bytes);

    int rows() const { return rows_; }
    int cols() const { return cols_; }
    int cursorRow() const { return row_; }
    int cursorCol() const { return col_; }
    const Cell& cell(int row, int col) const { return cells_[static_cast<size_t>(row * cols_ + col)]; }
    // The text of one row with trailing blanks removed.
    std::string line(int row) const;
    std::string text() const;
    // Columns of a row up to its last written one.
    int width(int row) const;
    // The text of a row's cells from `col`, up to its width or `count` cells.
    std::string shown(int row, int col = 0, int count = -1) const;
    // How many times the screen was erased.
    int clears() const { return clears_; }
    const std::vector<std::string>& violations() const { return violations_; }
    // The SGR colours currently in force.
    int fg() const { return fg_; }
    int bg() const { return bg_; }
    bool autowrap() const { return autowrap_; }
    // Keypad-transmit mode: the cursor keys' and the keypad's application modes.
    bool keypad() const { return cursorKeys_ || keypad_; }
    // How many times a line break at the bottom pushed the screen up.
    int scrolls() const { return scrolls_; }

private:
    void put(const std::string& glyph);
    void lineFeed();
    void control(unsigned char byte);
    void finishCsi(char final);
    void violation(std::string what);

    int rows_;
    int cols_;
    Bytes bytes_;
    int clears_ = 0;
    int row_ = 0;
    int col_ = 0;
    bool pendingWrap_ = false;
    bool autowrap_ = true;
    bool cursorKeys_ = false;
    bool keypad_ = false;
    bool atEdge_ = false;  // the last column was just written, and the cursor stayed there
    int scrolls_ = 0;
    int fg_ = 0;
    int bg_ = 0;
    std::vector<Cell> cells_;
    std::vector<std::string> violations_;
    // Parser state carried across feeds.
    enum class State { Ground, Escape, Csi, Utf8 } state_ = State::Ground;
    std::string sequence_;
    int utf8Left_ = 0;
};
