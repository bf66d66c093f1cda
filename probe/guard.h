#pragma once
// One-byte access to any address of this process, under a guard: a fault of
// the access becomes a result for the caller instead of ending the process.

#include <optional>

#include "common/block.h"

// The byte at `address`, or nothing when reading it faults.
std::optional<unsigned char> readByteGuarded(Address address);
// Stores `value` at `address`; false when the store faults (nothing is changed).
bool writeByteGuarded(Address address, unsigned char value);
