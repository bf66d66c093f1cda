#pragma once
// One-byte access to any address of this process, under a guard: a fault of
// the access becomes a result for the caller instead of ending the process.
//
// On POSIX the guard takes SIGSEGV and SIGBUS at the first access and hands
// every signal that is not its own access's fault to the handler it found there
// (or to the default action). A handler meant to see those signals (the
// console's, which gives the terminal back) must therefore be installed before
// the first guarded access: one installed later finds the guard and, like the
// console's, leaves it in place.

#include <optional>

#include "common/block.h"

// The byte at `address`, or nothing when reading it faults.
std::optional<unsigned char> readByteGuarded(Address address);
// Stores `value` at `address`; false when the store faults (nothing is changed).
bool writeByteGuarded(Address address, unsigned char value);
