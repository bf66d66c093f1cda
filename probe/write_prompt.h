#pragma once
// Asks for a decimal value and stores it in the selected byte.

#include "common/block.h"

void promptWrite(Address blockStart, unsigned row, unsigned col);
