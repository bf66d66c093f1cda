#pragma once
// Layouts of real memory built by the scan tests, and the literal walk that
// judges the scan over them.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "probe/guard.h"
#include "probe/scan.h"
#include "support/captured_output.h"
#include "support/constants.h"
#include "support/literal_walk.h"
#include "support/pages.h"

// The literal walk over this process's memory, one guarded read per candidate.
inline std::optional<Address> literalWalk(Address start, int direction, std::uint64_t maxCandidates)
{
    return literalWalk(start, direction, maxCandidates, [](Address a) { return readByteGuarded(a).has_value(); });
}

// Candidates from `start` to `end`, either way: the literal walk's bound when
// its answer must lie no further than `end`.
inline std::uint64_t candidatesTo(Address start, Address end, int direction)
{
    return (direction > 0 ? end - start : start - end) / BLOCK_BYTES + 1;
}

// The scan as Insert and Delete call it, its message kept off the test's output.
inline Address scan(Address start, int direction)
{
    CapturedOutput out;
    return scanForReadable(start, direction);
}

// A range of address space held PROT_NONE, so nothing else lands in it; the
// test then maps and protects pages inside it.
class Reservation {
public:
    explicit Reservation(Address pages) : pages_(pages, PageAccess::none), count_(pages) {}

    Address page(Address n) const { return pages_.address(n * pageBytes()); }
    void* pointer(Address n) const { return pages_.page(n); }
    void protect(Address n, int prot, Address count = 1) const { pages_.protect(n, prot, count); }
    // Every page inaccessible again, and back in one piece.
    void clear() const { pages_.restore(0, count_); }

private:
    Pages pages_;
    Address count_;
};
