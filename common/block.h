#pragma once
// Addresses and block geometry shared by every part of the browser.

#include <cstdint>

// A byte of this process's own address space. Arithmetic on it wraps, which is
// exactly how paging past either end of the space behaves.
using Address = std::uintptr_t;
// The last byte of the address space.
constexpr Address TOP = ~Address{0};

constexpr unsigned BLOCK_ROWS = 15;
constexpr unsigned BLOCK_COLS = 16;
constexpr unsigned BLOCK_BYTES = BLOCK_ROWS * BLOCK_COLS;  // 240: the paging step too

// The byte the cursor (row, col) selects; the view highlights it and W writes it.
constexpr Address selectedAddress(Address blockStart, unsigned row, unsigned col)
{
    return blockStart + Address{row} * BLOCK_COLS + col;
}
