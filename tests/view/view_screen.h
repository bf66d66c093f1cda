#pragma once
// One drawn screen, as a terminal would take it: the text of each line and the
// console attribute every character is shown in, decoded from the SGR
// sequences in the stream.

#include <string>
#include <vector>

#include "common/block.h"

struct Screen {
    std::string raw;                      // every byte drawBlock wrote
    std::vector<std::string> lines;       // text, UTF-8, without the console's own sequences
    std::vector<std::u32string> chars;    // the same, one code point per character
    std::vector<std::vector<int>> attrs;  // console attribute of each character, -1 unknown
    int finalAttr = -1;                   // attribute left set at the end
    int clears = 0;                       // erase-display sequences seen
    std::vector<std::string> foreign;     // escape sequences the console itself never writes
    bool validUtf8 = true;
};

Screen decodeScreen(const std::string& raw);

// drawBlock's output, captured from std::cout, whose formatting it leaves as it found it.
Screen drawn(Address blockStart, Address home, unsigned row, unsigned col);

// Characters that would act on a terminal rather than show: C0, DEL and C1.
bool isControl(char32_t c);

std::string toUtf8(const std::u32string& text);

// Lowercase hex without prefix or padding, as the screen shows addresses.
std::string hex(Address a);
