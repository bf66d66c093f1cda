#pragma once
// Layouts of real memory built by the scan tests, and the literal walk that
// judges the scan over them.

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "probe/guard.h"
#include "probe/scan.h"
#include "support/captured_output.h"
#include "support/constants.h"
#include "support/literal_walk.h"

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
    explicit Reservation(Address pages) : size_(pages * PAGE)
    {
        void* at = ::mmap(nullptr, size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        EXPECT_NE(at, MAP_FAILED);
        base_ = reinterpret_cast<Address>(at);
    }
    ~Reservation() { ::munmap(reinterpret_cast<void*>(base_), size_); }
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;

    Address page(Address n) const { return base_ + n * PAGE; }
    void* pointer(Address n) const { return reinterpret_cast<void*>(page(n)); }
    void protect(Address n, int prot, Address count = 1) const
    {
        EXPECT_EQ(::mprotect(pointer(n), count * PAGE, prot), 0);
    }
    // Every page inaccessible again, and back in one piece.
    void clear() const
    {
        EXPECT_NE(::mmap(pointer(0), size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0),
                  MAP_FAILED);
    }

private:
    Address size_;
    Address base_ = 0;
};
