#pragma once
// One-byte access to any address of this process, under a guard: a fault of
// the access becomes a result for the caller instead of ending the process.
//
// The guard's handler is installed once, by installGuard, before the first
// guarded access. On POSIX it takes SIGSEGV and SIGBUS and hands every signal
// that is not its own access's fault to the handler it found there (or to the
// default action): a handler meant to see those signals (the console's, which
// gives the terminal back) must be installed before it. One installed later
// finds the guard and, like the console's, leaves it in place.

#include <optional>

#include "common/block.h"

// Installs the fault handler; false when the system refused it, and then no
// guarded access may be made. Calling it again while it is in place changes
// nothing.
bool installGuard();

// How far a fault reaches beyond the byte that raised it.
enum class FaultReach : unsigned char {
    // Every byte of its page faults alike: nothing is mapped there, the page
    // forbids the access or its protection key does, or a file ends before it.
    WHOLE_PAGE,
    // Only this byte is known to fault: a memory tag that does not match, a
    // guard page that fires once, an I/O error behind the page, any other cause.
    ONE_BYTE,
};

// The byte at `address`, or nothing when reading it faults.
std::optional<unsigned char> readByteGuarded(Address address);
// The same, and after a fault, how far it reaches.
std::optional<unsigned char> readByteGuarded(Address address, FaultReach& reach);
// Stores `value` at `address`; false when the store faults (nothing is changed).
bool writeByteGuarded(Address address, unsigned char value);

// The size of the pages that memory is mapped and protected in.
Address pageBytes();
