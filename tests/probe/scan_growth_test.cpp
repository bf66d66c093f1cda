// Reads below a mapping that grows down succeed, and grow it, as far as the
// stack limit and the guard gap let them. The scan must land where the
// literal walk does and leave the mapping grown exactly as far.

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include <vector>

#include "scan_support.h"
#include "support/proc_maps.h"
#include "support/stack_limit.h"

namespace {

constexpr Address MIB = Address{1} << 20;

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

// With no stack limit the kernel checks only each growth's own size, against
// all the memory there is: probes that grew the stack in steps would take it
// far below where the literal walk's one growth can reach. The layout is made
// when the program starts, so the test runs itself afresh without the limit.
TEST(ScanGrowth, WithoutAStackLimitTheAnswerAndTheStackAreTheLiteralWalks)
{
    if (std::getenv("GLEANHEX_UNLIMITED_STACK") == nullptr) {
        rlimit limit{};
        ASSERT_EQ(::getrlimit(RLIMIT_STACK, &limit), 0);
        if (limit.rlim_max != RLIM_INFINITY)
            GTEST_SKIP() << "the stack limit cannot be lifted";
        const pid_t child = ::fork();
        if (child == 0) {
            limit.rlim_cur = RLIM_INFINITY;
            ::setrlimit(RLIMIT_STACK, &limit);
            ::setenv("GLEANHEX_UNLIMITED_STACK", "1", 1);
            ::execl("/proc/self/exe", "probe_test", "--gtest_brief=1",
                    "--gtest_filter=ScanGrowth.WithoutAStackLimit*", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        return;
    }
    struct sysinfo info {};
    ASSERT_EQ(::sysinfo(&info), 0);
    const auto memory = static_cast<Address>((std::uint64_t{info.totalram} + info.totalswap) * info.mem_unit);
    const std::vector<Mapping> lines = mappingsOf(::getpid());
    std::size_t i = 0;
    while (i < lines.size() && lines[i].name != "[stack]")
        ++i;
    ASSERT_LT(i, lines.size());
    const auto stackFirst = static_cast<Address>(lines[i].start);
    // Just below where one growth is refused: the literal walk's answer lies
    // 8 MiB up from here.
    const Address start = stackFirst - memory - 8 * MIB - 77;
    if (i > 0 && lines[i - 1].end + 2 * MIB > start)
        GTEST_SKIP() << "a mapping lies close below the stack";
    const std::uint64_t bound = candidatesTo(start, stackFirst, +1);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t walker = ::fork();
    if (walker == 0) {
        const Address walked[2] = {literalWalk(start, +1, bound).value_or(0), mappingStartAt(stackFirst)};
        ::_exit(::write(out[1], walked, sizeof walked) == sizeof walked ? 0 : 1);
    }
    Address walked[2] = {};
    ASSERT_EQ(::read(out[0], walked, sizeof walked), static_cast<ssize_t>(sizeof walked));
    ::waitpid(walker, nullptr, 0);
    ::close(out[0]);
    ::close(out[1]);
    ASSERT_NE(walked[0], 0u) << "the literal walk found nothing";
    EXPECT_GT(walked[0], start + 4 * MIB) << "one growth of all the memory there is succeeded";
    EXPECT_EQ(scan(start, +1), walked[0]) << std::hex << "from " << start;
    EXPECT_EQ(mappingStartAt(stackFirst), walked[1]);
}

}  // namespace
