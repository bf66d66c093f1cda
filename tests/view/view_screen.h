#pragma once
// One drawn screen, as a terminal would show it: drawBlock's output played
// onto the shared screen model, and the console attribute of each character.

#include <string>
#include <vector>

#include "common/block.h"
#include "support/screen.h"

struct Drawn {
    std::string raw;  // every byte that reached the terminal
    Screen screen;
};

// drawBlock's output as the console's frame presents it, and std::cout's
// formatting left as it found it.
Drawn drawn(Address blockStart, Address home, unsigned row, unsigned col);

// Every row of the frame, as written: trailing blanks too.
std::vector<std::string> linesOf(const Screen& screen);

// The console attribute a cell was written in, from its SGR colours; -1 for
// the terminal's defaults.
int attributeOf(int fg, int bg);
inline int attributeOf(const Cell& cell) { return attributeOf(cell.fg, cell.bg); }

// Lowercase hex without prefix or padding, as the screen shows addresses.
std::string hex(Address a);
