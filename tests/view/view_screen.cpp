#include "view_screen.h"

#include <iostream>
#include <sstream>

#include "support/captured_frame.h"
#include "view/view.h"

namespace {

// SGR numbers its colours red=1 green=2 blue=4; the console's bits are blue=1 green=2 red=4.
int consoleColour(int sgr) { return ((sgr & 1) << 2) | (sgr & 2) | ((sgr & 4) >> 2); }

// A foreground (base 30) or background (base 40) SGR colour as the console's four bits.
int consoleColour(int sgr, int base)
{
    if (sgr >= base && sgr <= base + 7)
        return consoleColour(sgr - base);
    if (sgr >= base + 60 && sgr <= base + 67)
        return 8 | consoleColour(sgr - base - 60);
    return -1;
}

}  // namespace

int attributeOf(int fg, int bg)
{
    const int f = consoleColour(fg, 30);
    const int b = consoleColour(bg, 40);
    return f < 0 || b < 0 ? -1 : f | b << 4;
}

Drawn drawn(Address blockStart, Address home, unsigned row, unsigned col)
{
    std::string raw;
    {
        const auto flags = std::cout.flags();
        const char fill = std::cout.fill();
        CapturedFrame out(FRAME_ROWS, 100);
        drawBlock(blockStart, home, row, col);
        raw = out.presented();
        std::cout.flags(flags);
        std::cout.fill(fill);
    }
    Screen screen(FRAME_ROWS, 100, Bytes::FROM_PROGRAM);
    screen.feed(raw);
    return {raw, screen};
}

std::vector<std::string> linesOf(const Screen& screen)
{
    std::vector<std::string> lines;
    for (int row = 0; row < screen.rows(); ++row)
        lines.push_back(screen.shown(row));
    return lines;
}

std::string hex(Address a)
{
    std::ostringstream s;
    s << std::hex << a;
    return s.str();
}
