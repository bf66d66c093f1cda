// On a 32-bit process the literal walk is affordable over the whole address
// space: about 18 million candidates. The scan as Insert and Delete run it
// must give exactly its answers, from starts below, in and above the stack's
// growth range, in the widest unmapped range, and across the wrap at the top.
//   GLEANHEX_WHOLE_SPACE=full   every start; otherwise the growth range only.

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "scan_support.h"

namespace {

struct Start {
    const char* what;
    Address at;
    int direction;
};

// The starts, found from the map as it is now.
std::vector<Start> startsFrom(const MemoryMap& map, bool full)
{
    const MapRange* growth = nullptr;
    const MapRange* widestGap = nullptr;
    Address lowest = TOP;
    for (const MapRange& r : map.ranges) {
        if (r.access == MapAccess::GROWABLE)
            growth = &r;
        if (r.access != MapAccess::UNREADABLE && r.first < lowest)
            lowest = r.first;
        if (r.access == MapAccess::UNREADABLE &&
            (widestGap == nullptr || r.last - r.first > widestGap->last - widestGap->first))
            widestGap = &r;
    }
    std::vector<Start> starts;
    if (growth != nullptr) {
        const Address middle = growth->first + (growth->last - growth->first) / 2;
        starts.push_back({"below the growth range", growth->first - 10 * BLOCK_BYTES - 7, +1});
        starts.push_back({"below the growth range", growth->first - 10 * BLOCK_BYTES - 7, -1});
        starts.push_back({"growth range, bottom", growth->first + 3, +1});
        starts.push_back({"growth range, middle", middle, +1});
        starts.push_back({"growth range, middle", middle, -1});
    }
    if (!full)
        return starts;
    starts.push_back({"top of the space, across the wrap", TOP - 100, +1});
    starts.push_back({"below the lowest mapping, across the wrap", lowest - 1, -1});
    if (widestGap != nullptr) {
        starts.push_back({"bottom of the widest gap", widestGap->first, +1});
        starts.push_back({"top of the widest gap", widestGap->last, -1});
    }
    starts.push_back({"half way", Address{1} << 31, +1});
    starts.push_back({"half way", Address{1} << 31, -1});
    return starts;
}

double secondsSince(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// The scan first: where both grow the stack, the literal walk then shows
// whether the scan grew it further than its answer.
bool compare(const Start& s)
{
    const std::uint64_t wholeSpace = (std::uint64_t{TOP} + 1) / BLOCK_BYTES + 1;
    auto t = std::chrono::steady_clock::now();
    const Address guided = scan(s.at, s.direction);
    const double guidedSeconds = secondsSince(t);
    t = std::chrono::steady_clock::now();
    const std::optional<Address> literal = literalWalk(s.at, s.direction, wholeSpace);
    const double literalSeconds = secondsSince(t);
    const bool same = literal && guided == *literal;
    const Address answer = literal.value_or(s.at);
    std::printf("%-41s %08lx %s scan %08lx, walk %08lx, %8llu candidates; scan %.4f s, walk %6.2f s%s\n", s.what,
                static_cast<unsigned long>(s.at), s.direction > 0 ? "up:  " : "down:", static_cast<unsigned long>(guided),
                static_cast<unsigned long>(answer),
                static_cast<unsigned long long>(candidatesTo(s.at, answer, s.direction)), guidedSeconds,
                literalSeconds, same ? "" : "  DIFFERENT");
    std::fflush(stdout);
    return same;
}

TEST(ScanWholeSpace, MapGuidedScanGivesTheLiteralWalksAnswerEverywhere)
{
    const char* mode = std::getenv("GLEANHEX_WHOLE_SPACE");
    MemoryMap map{};
    ASSERT_TRUE(readMemoryMap(map));
    const std::vector<Start> starts = startsFrom(map, mode != nullptr && std::strcmp(mode, "full") == 0);
    ASSERT_FALSE(starts.empty());
    for (const Start& s : starts) {
        // Each start in a process of its own, forked from this one, so that no
        // walk finds the stack grown by an earlier one.
        std::fflush(stdout);
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0)
            std::_Exit(compare(s) ? 0 : 1);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << std::hex << s.what << ": from " << s.at;
    }
}

}  // namespace
