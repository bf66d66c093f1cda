#pragma once
// The bytes real terminals send for each key, from their terminfo entries.

#include <string>
#include <vector>

struct TerminalKey {
    std::string terminal;
    std::string mode;  // "keypad" (application mode) or "normal"
    std::string key;   // "Up", "PageDown", "F1", ...
    std::string bytes;
};

// Every row of the table; empty when the table cannot be read.
const std::vector<TerminalKey>& terminalKeys();
