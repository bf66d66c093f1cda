// Reads below a mapping that grows down succeed, and grow it, as far as the
// stack limit and the guard gap let them. The scan must land where the
// literal walk does and leave the mapping grown exactly as far.

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

#include "scan_support.h"
#include "support/proc_maps.h"

namespace {

constexpr Address MIB = Address{1} << 20;

// The soft stack limit set to `bytes` while it lives.
class StackLimit {
public:
    explicit StackLimit(Address bytes)
    {
        ::getrlimit(RLIMIT_STACK, &saved_);
        rlimit wanted = saved_;
        wanted.rlim_cur = bytes;
        set_ = (saved_.rlim_max == RLIM_INFINITY || saved_.rlim_max >= bytes) && ::setrlimit(RLIMIT_STACK, &wanted) == 0;
    }
    ~StackLimit() { ::setrlimit(RLIMIT_STACK, &saved_); }
    StackLimit(const StackLimit&) = delete;
    StackLimit& operator=(const StackLimit&) = delete;
    bool set() const { return set_; }

private:
    rlimit saved_{};
    bool set_ = false;
};

Address mappingStartAt(Address a)
{
    for (const Mapping& m : mappingsOf(::getpid()))
        if (a >= m.start && a < m.end)
            return static_cast<Address>(m.start);
    return 0;
}

// A readable floor page, then a 6 MiB gap, then two pages that grow down.
// The floor is what the guard gap keeps growth away from.
class GrowsDownLayout {
public:
    GrowsDownLayout() : r_(12 * MIB / PAGE) {}

    Address floor() const { return r_.page(0); }
    Address stack() const { return r_.page(0) + 6 * MIB; }

    void build() const
    {
        r_.clear();
        r_.protect(0, PROT_READ);
        ASSERT_EQ(::munmap(r_.pointer(1), 6 * MIB - PAGE), 0);
        ASSERT_NE(::mmap(reinterpret_cast<void*>(stack()), 2 * PAGE, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_GROWSDOWN, -1, 0),
                  MAP_FAILED);
    }

private:
    Reservation r_;
};

TEST(ScanGrowth, BelowAGrowsDownMappingWithinTheStackLimitAndGuardGap)
{
    GrowsDownLayout layout;
    // 4 MiB: growth stops 2 MiB above the floor. 8 MiB: only the guard gap
    // above the floor stops it.
    for (Address limit : {4 * MIB, 8 * MIB}) {
        StackLimit stackLimit(limit);
        if (!stackLimit.set())
            GTEST_SKIP() << "cannot set the stack limit";
        struct Walk {
            Address fromFloor;
            int direction;
        };
        for (const Walk walk : {Walk{PAGE, +1}, Walk{MIB / 2, +1}, Walk{3 * MIB, +1}, Walk{6 * MIB - 1, -1},
                                Walk{3 * MIB, -1}, Walk{3 * MIB / 2, -1}, Walk{MIB / 2, -1}}) {
            for (Address phase : {Address{0}, Address{131}}) {
                const Address start = layout.floor() + walk.fromFloor + (walk.direction > 0 ? phase : -phase);
                const std::uint64_t bound = candidatesTo(start, walk.direction > 0 ? layout.stack() : layout.floor(),
                                                   walk.direction);
                layout.build();
                const Address got = scan(start, walk.direction);
                const Address grownTo = mappingStartAt(layout.stack());
                layout.build();
                const std::optional<Address> expected = literalWalk(start, walk.direction, bound);
                ASSERT_TRUE(expected);
                EXPECT_EQ(got, *expected) << std::hex << "limit " << limit << " from " << start;
                EXPECT_EQ(grownTo, mappingStartAt(layout.stack())) << std::hex << "limit " << limit << " from " << start;
            }
        }
    }
}

TEST(ScanGrowth, BelowTheMainStackAsFarAsTheStackLimit)
{
    StackLimit stackLimit(8 * MIB);
    if (!stackLimit.set())
        GTEST_SKIP() << "cannot set the stack limit";
    const std::vector<Mapping> lines = mappingsOf(::getpid());
    std::size_t i = 0;
    while (i < lines.size() && lines[i].name != "[stack]")
        ++i;
    ASSERT_LT(i, lines.size());
    ASSERT_GT(i, 0u);
    const auto end = static_cast<Address>(lines[i].end);
    if (lines[i - 1].end + 2 * MIB > end - 9 * MIB)
        GTEST_SKIP() << "a mapping lies close below the stack";
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 37) {
        // 9 MiB below the top the stack cannot reach; the walk up meets the
        // first candidate it can, 8 MiB below the top.
        const Address from = end - 9 * MIB + phase;
        const Address got = scan(from, +1);
        EXPECT_EQ(got, literalWalk(from, +1, candidatesTo(from, end, +1)).value_or(~got)) << std::hex << from;
        EXPECT_GE(got, end - 8 * MIB);
        EXPECT_LT(got, end - 8 * MIB + BLOCK_BYTES);
        // 7 MiB below, the stack reaches: the scan stays.
        EXPECT_EQ(scan(end - 7 * MIB - phase, -1), end - 7 * MIB - phase);
    }
}

}  // namespace
