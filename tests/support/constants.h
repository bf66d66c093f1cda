#pragma once
// Constants of this machine's address space that many tests work in.

#include "common/block.h"

// The size of a page: what memory is mapped and protected in, and faults come in.
extern const Address PAGE;
