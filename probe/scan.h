#pragma once
// Walks from a block, in whole blocks, to the nearest one whose first byte reads.

#include "common/block.h"

// Toward lower addresses for direction -1, higher for +1.
Address scanForReadable(Address start, int direction);
