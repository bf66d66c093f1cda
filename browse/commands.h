#pragma once
// What the command line and the cursor-block keys do to the browser's state.
// The state itself lives in main; these only change what they are handed.

#include "common/block.h"

// Where browsing starts: `defaultHome`, or `mainframe` when "-mainframe" is
// given. "-?" shows the usage and pauses, as often as it comes before that.
Address startAddress(int argc, const char* const argv[], Address defaultHome, Address mainframe);

// Acts on the code that followed an extended-key lead byte.
void applyExtendedKey(int code, Address& blockStart, Address home, unsigned& row, unsigned& col);
