// The map-guided walk against the literal walk, over model memories: the test
// says which addresses read, and the map the walk is given. Only a model can
// put readable pages at the top of the address space or at address 0.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "probe/scan.h"

namespace {

constexpr Address TOP = std::numeric_limits<Address>::max();
constexpr Address PAGE = 4096;

struct Span {
    Address first;
    Address last;
};

// What reads in the model. A growth range reads from `growFrom` up; a read
// there grows the stack down to its page, as the kernel does.
struct Model {
    std::vector<Span> reads;
    Span growth{1, 0};
    Address growFrom = 0;
    Address grownTo = TOP;
    std::uint64_t probes = 0;
};

Model* model = nullptr;

bool modelReads(Address a)
{
    ++model->probes;
    for (const Span& s : model->reads)
        if (a >= s.first && a <= s.last)
            return true;
    if (a >= model->growth.first && a <= model->growth.last && a >= model->growFrom) {
        model->grownTo = std::min(model->grownTo, a & ~(PAGE - 1));
        return true;
    }
    return false;
}

// The walk exactly as the browser describes it, one probe per candidate.
std::optional<Address> literalWalk(Address start, int direction, std::uint64_t maxCandidates)
{
    Address p = start;
    for (std::uint64_t i = 0; i < maxCandidates; ++i) {
        if (modelReads(p))
            return p;
        p = direction > 0 ? p + BLOCK_BYTES : p - BLOCK_BYTES;
    }
    return std::nullopt;
}

// A map from the ranges the test names; everything between them is unreadable.
MemoryMap mapOf(std::vector<MapRange> named)
{
    MemoryMap map{{}, PAGE};
    Address next = 0;
    bool done = false;
    for (const MapRange& r : named) {
        if (r.first > next)
            map.ranges.push_back({next, r.first - 1, MapAccess::UNREADABLE});
        map.ranges.push_back(r);
        done = r.last == TOP;
        next = r.last + 1;
    }
    if (!done)
        map.ranges.push_back({next, TOP, MapAccess::UNREADABLE});
    return map;
}

// Runs both walks from fresh copies of `m` and checks they agree, on the answer
// and on how far the stack grew. Returns the map-guided walk's probe count.
std::uint64_t expectSameAnswer(const Model& m, const MemoryMap& map, Address start, int direction,
                               std::uint64_t maxCandidates = 1'000'000)
{
    Model literal = m;
    model = &literal;
    const std::optional<Address> expected = literalWalk(start, direction, maxCandidates);
    Model guided = m;
    model = &guided;
    const Address got = walkOverMap(map, start, direction, modelReads);
    model = nullptr;
    EXPECT_TRUE(expected.has_value()) << "the literal walk did not end: the layout is wrong";
    EXPECT_EQ(got, expected.value_or(start)) << std::hex << "start " << start << " direction " << direction;
    EXPECT_EQ(guided.grownTo, literal.grownTo) << std::hex << "start " << start;
    return guided.probes;
}

#if UINTPTR_MAX > 0xffff'ffffU
constexpr Address BASE = 0x5555'0000'0000;
#else
constexpr Address BASE = 0x5555'0000;
#endif

TEST(ScanModel, OnePageIslandsInEveryPhaseBothWays)
{
    Model m;
    m.reads = {{BASE + 3 * PAGE, BASE + 4 * PAGE - 1}, {BASE + 9 * PAGE, BASE + 10 * PAGE - 1}};
    const MemoryMap map = mapOf({{BASE + 3 * PAGE, BASE + 4 * PAGE - 1, MapAccess::READABLE},
                                 {BASE + 9 * PAGE, BASE + 10 * PAGE - 1, MapAccess::READABLE}});
    for (Address phase = 0; phase < BLOCK_BYTES; ++phase) {
        for (Address from : {BASE + 5 * PAGE, BASE + 4 * PAGE - 1, BASE + 8 * PAGE + 4000, BASE + 3 * PAGE + 77}) {
            EXPECT_LE(expectSameAnswer(m, map, from + phase, +1), 2u);
            EXPECT_LE(expectSameAnswer(m, map, from + phase, -1), 2u);
        }
    }
}

TEST(ScanModel, FaultingPagesOfAReadableMappingArePassedAPageAtATime)
{
    // Sixteen pages the map calls readable, of which only the first two read
    // (a file mapping past its file's end), and one page further on that reads.
    Model m;
    m.reads = {{BASE, BASE + 2 * PAGE - 1}, {BASE + 40 * PAGE, BASE + 41 * PAGE - 1}};
    const MemoryMap map = mapOf({{BASE, BASE + 16 * PAGE - 1, MapAccess::READABLE},
                                 {BASE + 40 * PAGE, BASE + 41 * PAGE - 1, MapAccess::READABLE}});
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 7) {
        EXPECT_LE(expectSameAnswer(m, map, BASE + 5 * PAGE + phase, +1), 12u);
        EXPECT_LE(expectSameAnswer(m, map, BASE + 15 * PAGE + phase, -1), 15u);
        EXPECT_LE(expectSameAnswer(m, map, BASE + 39 * PAGE + phase, -1), 15u);
        EXPECT_LE(expectSameAnswer(m, map, BASE + 2 * PAGE - 1 - phase, +1), 1u);
    }
}

TEST(ScanModel, WrapsAtTheTopAndAtZero)
{
    Model low;
    low.reads = {{0x3000, 0x3fff}};
    const MemoryMap lowMap = mapOf({{0x3000, 0x3fff, MapAccess::READABLE}});
    Model high;
    high.reads = {{TOP - PAGE + 1, TOP}};
    const MemoryMap highMap = mapOf({{TOP - PAGE + 1, TOP, MapAccess::READABLE}});
    for (Address phase = 0; phase < BLOCK_BYTES; ++phase) {
        EXPECT_LE(expectSameAnswer(low, lowMap, TOP - 3 * BLOCK_BYTES - phase, +1), 1u);
        EXPECT_LE(expectSameAnswer(low, lowMap, TOP - phase, +1), 1u);
        EXPECT_LE(expectSameAnswer(high, highMap, 0x500 + phase, -1), 1u);
        EXPECT_LE(expectSameAnswer(high, highMap, phase, -1), 1u);
    }
}

// Where a walk that goes all the way round first meets [first, last], the page
// just behind its start, by arithmetic on wider integers instead of walking.
Address firstHitAfterOneLap(Address start, int direction, Address first, Address last)
{
#if UINTPTR_MAX > 0xffff'ffffU
    __extension__ typedef unsigned __int128 Wide;
#else
    typedef std::uint64_t Wide;
#endif
    const Wide space = Wide{TOP} + 1;
    const Wide step = BLOCK_BYTES;
    if (direction > 0) {
        const Wide wrapped = start + (space - start + step - 1) / step * step - space;  // first candidate past 0
        return static_cast<Address>(wrapped + (first - wrapped + step - 1) / step * step);
    }
    const Wide below = Wide{start} + space;  // the same candidates, one lap higher
    const Wide wrapped = below - (below - (space - 1) + step - 1) / step * step;  // first candidate below the top
    return static_cast<Address>(wrapped - (wrapped - last + step - 1) / step * step);
}

TEST(ScanModel, GoesAllTheWayRoundWhenTheOnlyReadablePageIsJustBehind)
{
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 13) {
        Model m;
        m.reads = {{BASE, BASE + PAGE - 1}};
        const MemoryMap map = mapOf({{BASE, BASE + PAGE - 1, MapAccess::READABLE}});
        model = &m;
        const Address up = walkOverMap(map, BASE + PAGE + phase, +1, modelReads);
        EXPECT_EQ(up, firstHitAfterOneLap(BASE + PAGE + phase, +1, BASE, BASE + PAGE - 1));
        const Address down = walkOverMap(map, BASE - 1 - phase, -1, modelReads);
        EXPECT_EQ(down, firstHitAfterOneLap(BASE - 1 - phase, -1, BASE, BASE + PAGE - 1));
        EXPECT_LE(m.probes, 2u);
        model = nullptr;
    }
}

TEST(ScanModel, GrowthBelowAStackAgreesOnAnswerAndOnHowFarItGrew)
{
    const Address stackFirst = BASE + 2048 * PAGE;
    const Address stackLast = stackFirst + 32 * PAGE - 1;
    const Address zoneFirst = BASE;  // the stack limit allows growth this far down
    const Span floor{BASE - 64 * PAGE, BASE - 63 * PAGE - 1};
    const MemoryMap map = mapOf({{floor.first, floor.last, MapAccess::READABLE},
                                 {zoneFirst, stackFirst - 1, MapAccess::GROWABLE},
                                 {stackFirst, stackLast, MapAccess::READABLE}});
    // Where growth really stops: at the limit, above it (a guard gap), or nowhere.
    for (Address growFrom : {zoneFirst, zoneFirst + 256 * PAGE, stackFirst - PAGE, stackFirst}) {
        Model m;
        m.reads = {floor, {stackFirst, stackLast}};
        m.growth = {zoneFirst, stackFirst - 1};
        m.growFrom = growFrom;
        for (Address phase = 0; phase < BLOCK_BYTES; phase += 11) {
            EXPECT_LE(expectSameAnswer(m, map, zoneFirst - 5000 + phase, +1), 40u);
            EXPECT_LE(expectSameAnswer(m, map, zoneFirst + 300 * PAGE + phase, +1), 40u);
            EXPECT_LE(expectSameAnswer(m, map, stackFirst + 100 + phase, -1), 1u);
            EXPECT_LE(expectSameAnswer(m, map, stackFirst - 1 - phase, -1), 2u);
        }
    }
}

TEST(ScanModel, FaultsBelowTheGrowthRangeEndTheDownwardWalkThere)
{
    const Address stackFirst = BASE + 64 * PAGE;
    const MemoryMap map = mapOf({{BASE, BASE + PAGE - 1, MapAccess::READABLE},
                                 {BASE + 8 * PAGE, stackFirst - 1, MapAccess::GROWABLE},
                                 {stackFirst, stackFirst + PAGE - 1, MapAccess::READABLE}});
    Model m;
    m.reads = {{BASE, BASE + PAGE - 1}, {stackFirst, stackFirst + PAGE - 1}};
    m.growth = {BASE + 8 * PAGE, stackFirst - 1};
    m.growFrom = BASE + 40 * PAGE;
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 17)
        EXPECT_LE(expectSameAnswer(m, map, BASE + 30 * PAGE + phase, -1), 2u);
}

TEST(ScanModel, NothingReadableAnywhereGivesTheStartBack)
{
    Model m;
    m.reads = {};
    model = &m;
    EXPECT_EQ(walkOverMap(mapOf({}), BASE + 5, +1, modelReads), BASE + 5);
    const MemoryMap faulting = mapOf({{BASE, BASE + 4 * PAGE - 1, MapAccess::READABLE}});
    EXPECT_EQ(walkOverMap(faulting, BASE + 7, -1, modelReads), BASE + 7);
    EXPECT_LE(m.probes, 100u);
    model = nullptr;
}

}  // namespace
