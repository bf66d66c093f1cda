#include "support/screen.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

Screen::Screen(int rows, int cols, Bytes bytes)
    : rows_(rows), cols_(cols), bytes_(bytes), cells_(static_cast<size_t>(rows * cols))
{
}

std::string Screen::line(int row) const
{
    std::string out;
    size_t keep = 0;
    for (int c = 0; c < cols_; ++c) {
        out += cell(row, c).glyph;
        if (cell(row, c).glyph != " ")
            keep = out.size();
    }
    out.resize(keep);
    return out;
}

int Screen::width(int row) const
{
    int width = 0;
    for (int c = 0; c < cols_; ++c)
        if (cell(row, c).written)
            width = c + 1;
    return width;
}

std::string Screen::shown(int row, int col, int count) const
{
    const int end = count < 0 ? width(row) : std::min(col + count, cols_);
    std::string out;
    for (int c = col; c < end; ++c)
        out += cell(row, c).glyph;
    return out;
}

std::string Screen::text() const
{
    std::string out;
    for (int r = 0; r < rows_; ++r)
        out += line(r) + "\n";
    return out;
}

void Screen::violation(std::string what)
{
    violations_.push_back(std::move(what));
}

void Screen::lineFeed()
{
    if (row_ + 1 < rows_) {
        ++row_;
        return;
    }
    ++scrolls_;
    cells_.erase(cells_.begin(), cells_.begin() + cols_);
    cells_.resize(static_cast<size_t>(rows_ * cols_));
}

void Screen::put(const std::string& glyph)
{
    if (pendingWrap_) {
        pendingWrap_ = false;
        col_ = 0;
        lineFeed();
    }
    if (atEdge_)
        violation("overwrote the last column");
    Cell& c = cells_[static_cast<size_t>(row_ * cols_ + col_)];
    c.glyph = glyph;
    c.fg = fg_;
    c.bg = bg_;
    c.written = true;
    atEdge_ = !autowrap_ && col_ + 1 == cols_;
    if (col_ + 1 < cols_)
        ++col_;
    else
        pendingWrap_ = autowrap_;  // without autowrap the last column is written over
}

void Screen::control(unsigned char byte)
{
    const bool fromTerminal = bytes_ == Bytes::FROM_TERMINAL;
    if (byte == '\n') {
        if (!fromTerminal)
            col_ = 0;
        lineFeed();
    } else if (byte == '\r' && fromTerminal) {
        col_ = 0;
    } else if (byte == '\b' && fromTerminal) {
        col_ = std::max(col_ - 1, 0);
    } else {
        char name[16];
        std::snprintf(name, sizeof name, "C0 0x%02x", byte);
        violation(name);
        return;
    }
    pendingWrap_ = false;
    atEdge_ = false;
}

void Screen::finishCsi(char final)
{
    if (sequence_ == "?7" && (final == 'h' || final == 'l')) {
        autowrap_ = final == 'h';
        return;
    }
    if (sequence_ == "?1" && (final == 'h' || final == 'l')) {
        cursorKeys_ = final == 'h';
        return;
    }
    const bool plainParams = sequence_.find_first_not_of("0123456789;") == std::string::npos;
    if (!plainParams) {
        violation("CSI " + sequence_ + final);
        return;
    }
    std::vector<int> params;
    std::istringstream in(sequence_);
    for (std::string part; std::getline(in, part, ';');)
        params.push_back(part.empty() ? 0 : std::stoi(part));
    switch (final) {
    case 'H':
        row_ = params.size() > 0 && params[0] > 0 ? params[0] - 1 : 0;
        col_ = params.size() > 1 && params[1] > 0 ? params[1] - 1 : 0;
        pendingWrap_ = false;
        atEdge_ = false;
        break;
    case 'J':
        if (params.empty() || params[0] == 0) {
            ++clears_;
            for (int r = row_; r < rows_; ++r)
                for (int c = (r == row_ ? col_ : 0); c < cols_; ++c)
                    cells_[static_cast<size_t>(r * cols_ + c)] = Cell{" ", fg_, bg_};
        } else {
            violation("CSI " + sequence_ + "J");
        }
        break;
    case 'm':
        if (params.empty())
            params.push_back(0);
        for (const int p : params) {
            if (p == 0) {
                fg_ = 0;
                bg_ = 0;
            } else if ((p >= 30 && p <= 37) || (p >= 90 && p <= 97)) {
                fg_ = p;
            } else if ((p >= 40 && p <= 47) || (p >= 100 && p <= 107)) {
                bg_ = p;
            } else {
                violation("SGR " + std::to_string(p));
            }
        }
        break;
    default:
        violation("CSI " + sequence_ + final);
    }
}

void Screen::feed(std::string_view bytes)
{
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        switch (state_) {
        case State::Ground:
            if (b == 0x1b) {
                state_ = State::Escape;
            } else if (b < 0x20 || b == 0x7f) {
                control(b);
            } else if (b < 0x80) {
                put(std::string(1, ch));
            } else {
                utf8Left_ = b >= 0xc2 && b <= 0xdf ? 1 : b >= 0xe0 && b <= 0xef ? 2 : b >= 0xf0 && b <= 0xf4 ? 3 : 0;
                if (utf8Left_ == 0) {
                    violation("invalid UTF-8 lead byte");
                    put("\xef\xbf\xbd");
                } else {
                    sequence_.assign(1, ch);
                    state_ = State::Utf8;
                }
            }
            break;
        case State::Escape:
            if (ch == '[') {
                sequence_.clear();
                state_ = State::Csi;
            } else if (ch == '=' || ch == '>') {
                keypad_ = ch == '=';
                state_ = State::Ground;
            } else {
                violation(std::string("ESC ") + ch);
                state_ = State::Ground;
            }
            break;
        case State::Csi:
            if (b >= 0x40 && b <= 0x7e) {
                finishCsi(ch);
                state_ = State::Ground;
            } else if (b >= 0x20 && b < 0x40) {
                sequence_ += ch;
            } else {
                violation("broken CSI");
                state_ = State::Ground;
            }
            break;
        case State::Utf8:
            if (b < 0x80 || b > 0xbf) {
                violation("broken UTF-8");
                state_ = State::Ground;
                break;
            }
            sequence_ += ch;
            if (--utf8Left_ == 0) {
                // C1 controls encoded as UTF-8 (U+0080..U+009F) act as controls too.
                if (sequence_.size() == 2 && static_cast<unsigned char>(sequence_[0]) == 0xc2 &&
                    static_cast<unsigned char>(sequence_[1]) < 0xa0)
                    violation("C1 control in UTF-8");
                put(sequence_);
                state_ = State::Ground;
            }
            break;
        }
    }
}
