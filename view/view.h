#pragma once
// The whole screen for one block: header, grid, key help and the panel that
// describes the selected byte.

#include <array>

#include "common/block.h"

// Names of the byte values 7..13, indexed by value - 7.
extern const std::array<const char*, 7> controlNames;

// How far the selected byte lies from home, either way round the address space.
Address distanceFromHome(Address selected, Address home);

// Draws the block with the cursor at (row, col), row below 15 and col below 16.
void drawBlock(Address blockStart, Address home, unsigned row, unsigned col);
