#pragma once
// What the command line and the keys do to the browser's state.
// The state itself lives in main; these only change what they are handed.

#include "common/block.h"

// Where browsing starts: `defaultHome`, or `mainframe` when "-mainframe" is
// given. "-?" shows the usage and pauses, as often as it comes before that.
Address startAddress(int argc, const char* const argv[], Address defaultHome, Address mainframe);

// Acts on one key from readKey: the cursor, paging, scanning, Home and W.
// Every other key does nothing (X is the loop's own).
void applyKey(int key, Address& blockStart, Address home, unsigned& row, unsigned& col);
