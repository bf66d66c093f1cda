#pragma once
// A small terminal screen model for end-to-end tests. It understands exactly
// what a well-behaved gleanhex frame may contain (printable UTF-8, CR, LF,
// backspace from the terminal's own echo, cursor home, erase, SGR, autowrap
// off and on) and records
// anything else as a violation: a control code that reached the terminal.

#include <string>
#include <string_view>
#include <vector>

struct Cell {
    std::string glyph = " ";
    int fg = 0;  // SGR foreground in force when written (0: terminal default)
    int bg = 0;
};

class Screen {
public:
    Screen(int rows, int cols);

    void feed(std::string_view bytes);

    int rows() const { return rows_; }
    int cols() const { return cols_; }
    int cursorRow() const { return row_; }
    int cursorCol() const { return col_; }
    const Cell& cell(int row, int col) const { return cells_[static_cast<size_t>(row * cols_ + col)]; }
    // The text of one row with trailing blanks removed.
    std::string line(int row) const;
    std::string text() const;
    const std::vector<std::string>& violations() const { return violations_; }
    // The SGR colours currently in force.
    int fg() const { return fg_; }
    int bg() const { return bg_; }
    bool autowrap() const { return autowrap_; }

private:
    void put(const std::string& glyph);
    void lineFeed();
    void control(unsigned char byte);
    void finishCsi(char final);
    void violation(std::string what);

    int rows_;
    int cols_;
    int row_ = 0;
    int col_ = 0;
    bool pendingWrap_ = false;
    bool autowrap_ = true;
    int fg_ = 0;
    int bg_ = 0;
    std::vector<Cell> cells_;
    std::vector<std::string> violations_;
    // Parser state carried across feeds.
    enum class State { Ground, Escape, Csi, Utf8 } state_ = State::Ground;
    std::string sequence_;
    int utf8Left_ = 0;
};
