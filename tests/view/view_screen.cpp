#include "view_screen.h"

#include <iostream>
#include <sstream>
#include <string>

#include "view/view.h"

namespace {

// SGR numbers its colours red=1 green=2 blue=4; the console's bits are blue=1 green=2 red=4.
int consoleColour(int sgr) { return ((sgr & 1) << 2) | (sgr & 2) | ((sgr & 4) >> 2); }

struct Pen {
    int fg = -1;
    int bg = -1;
    int attr() const { return fg < 0 || bg < 0 ? -1 : fg | bg << 4; }
};

// Applies "0;93;40"; false for anything but colours and reset.
bool applySgr(Pen& pen, const std::string& params)
{
    for (std::size_t start = 0;;) {
        const std::size_t semi = params.find(';', start);
        const std::string item = params.substr(start, semi - start);
        const int n = item.empty() ? 0 : std::stoi(item);
        if (n == 0)
            pen = Pen{};
        else if (n >= 30 && n <= 37)
            pen.fg = consoleColour(n - 30);
        else if (n >= 90 && n <= 97)
            pen.fg = 8 | consoleColour(n - 90);
        else if (n >= 40 && n <= 47)
            pen.bg = consoleColour(n - 40);
        else if (n >= 100 && n <= 107)
            pen.bg = 8 | consoleColour(n - 100);
        else
            return false;
        if (semi == std::string::npos)
            return true;
        start = semi + 1;
    }
}

// Length of the UTF-8 sequence led by `b`, 0 if `b` cannot lead one.
std::size_t utf8Length(unsigned char b)
{
    if (b < 0x80)
        return 1;
    if (b >= 0xc2 && b <= 0xdf)
        return 2;
    if (b >= 0xe0 && b <= 0xef)
        return 3;
    if (b >= 0xf0 && b <= 0xf4)
        return 4;
    return 0;
}

}  // namespace

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7f && c <= 0x9f); }

std::string toUtf8(const std::u32string& text)
{
    std::string out;
    for (const char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xe0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return out;
}

std::string hex(Address a)
{
    std::ostringstream s;
    s << std::hex << a;
    return s.str();
}

Screen decodeScreen(const std::string& raw)
{
    Screen screen;
    screen.raw = raw;
    screen.chars.emplace_back();
    screen.attrs.emplace_back();
    Pen pen;
    for (std::size_t i = 0; i < raw.size();) {
        const auto b = static_cast<unsigned char>(raw[i]);
        if (b == 0x1b) {
            std::size_t end = i + 1;
            if (end < raw.size() && raw[end] == '[') {
                ++end;
                while (end < raw.size() && ((raw[end] >= '0' && raw[end] <= '9') || raw[end] == ';'))
                    ++end;
            }
            const std::string seq = raw.substr(i, end + 1 - i);
            const std::string params = seq.size() >= 3 ? seq.substr(2, seq.size() - 3) : "";
            const char final = end < raw.size() ? raw[end] : '\0';
            const bool colours = seq.size() >= 3 && final == 'm' && applySgr(pen, params);
            if (seq == "\x1b[J")
                ++screen.clears;
            else if (!colours && seq != "\x1b[H")
                screen.foreign.push_back(seq);
            i = end + 1;
            continue;
        }
        if (b == '\n') {
            screen.chars.emplace_back();
            screen.attrs.emplace_back();
            ++i;
            continue;
        }
        std::size_t n = utf8Length(b);
        char32_t c = n == 1 ? b : n == 2 ? b & 0x1fU : n == 3 ? b & 0x0fU : b & 0x07U;
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned follow = i + k < raw.size() ? static_cast<unsigned char>(raw[i + k]) : 0U;
            if ((follow & 0xc0) != 0x80)
                n = 0;
            c = c << 6 | (follow & 0x3fU);
        }
        if (n == 0) {
            screen.validUtf8 = false;
            c = b;
            n = 1;
        }
        screen.chars.back() += c;
        screen.attrs.back().push_back(pen.attr());
        i += n;
    }
    for (const auto& line : screen.chars)
        screen.lines.push_back(toUtf8(line));
    screen.finalAttr = pen.attr();
    return screen;
}

Screen drawn(Address blockStart, Address home, unsigned row, unsigned col)
{
    std::ostringstream out;
    const auto flags = std::cout.flags();
    const char fill = std::cout.fill();
    std::streambuf* const old = std::cout.rdbuf(out.rdbuf());
    drawBlock(blockStart, home, row, col);
    std::cout.rdbuf(old);
    std::cout.flags(flags);
    std::cout.fill(fill);
    return decodeScreen(out.str());
}
