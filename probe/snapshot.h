#pragma once
// A fresh copy of one block, read byte by byte under the guard.

#include <array>

#include "common/block.h"

// Stands in for every byte whose read faulted; indistinguishable from a real 0x3f.
constexpr unsigned char UNREADABLE_FILL = 0x3f;

using Snapshot = std::array<std::array<unsigned char, BLOCK_COLS>, BLOCK_ROWS>;

Snapshot snapshotBlock(Address blockStart);
