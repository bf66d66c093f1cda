// The map-guided walk against the literal walk, over model memories of
// readable, faulting and growing ranges.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "scan_model.h"

namespace {

constexpr Address BASE = userAddress(0x5555'0000'0000, 0x5555'0000);

TEST(ScanModel, OnePageIslandsInEveryPhaseBothWays)
{
    ModelMemory m;
    m.reads = {{BASE + 3 * MODEL_PAGE, BASE + 4 * MODEL_PAGE - 1}, {BASE + 9 * MODEL_PAGE, BASE + 10 * MODEL_PAGE - 1}};
    const MemoryMap map = mapOf({{BASE + 3 * MODEL_PAGE, BASE + 4 * MODEL_PAGE - 1, MapAccess::READABLE},
                                 {BASE + 9 * MODEL_PAGE, BASE + 10 * MODEL_PAGE - 1, MapAccess::READABLE}});
    for (Address phase = 0; phase < BLOCK_BYTES; ++phase) {
        for (Address from : {BASE + 5 * MODEL_PAGE, BASE + 4 * MODEL_PAGE - 1, BASE + 8 * MODEL_PAGE + 4000, BASE + 3 * MODEL_PAGE + 77}) {
            EXPECT_LE(expectSameWalk(m, map, from + phase, +1), 2u);
            EXPECT_LE(expectSameWalk(m, map, from + phase, -1), 2u);
        }
    }
}

TEST(ScanModel, FaultingPagesOfAReadableMappingArePassedAPageAtATime)
{
    // Sixteen pages the map calls readable, of which only the first two read
    // (a file mapping past its file's end), and one page further on that reads.
    ModelMemory m;
    m.reads = {{BASE, BASE + 2 * MODEL_PAGE - 1}, {BASE + 40 * MODEL_PAGE, BASE + 41 * MODEL_PAGE - 1}};
    const MemoryMap map = mapOf({{BASE, BASE + 16 * MODEL_PAGE - 1, MapAccess::READABLE},
                                 {BASE + 40 * MODEL_PAGE, BASE + 41 * MODEL_PAGE - 1, MapAccess::READABLE}});
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 7) {
        EXPECT_LE(expectSameWalk(m, map, BASE + 5 * MODEL_PAGE + phase, +1), 12u);
        EXPECT_LE(expectSameWalk(m, map, BASE + 15 * MODEL_PAGE + phase, -1), 15u);
        EXPECT_LE(expectSameWalk(m, map, BASE + 39 * MODEL_PAGE + phase, -1), 15u);
        EXPECT_LE(expectSameWalk(m, map, BASE + 2 * MODEL_PAGE - 1 - phase, +1), 1u);
    }
}

TEST(ScanModel, WrapsAtTheTopAndAtZero)
{
    ModelMemory low;
    low.reads = {{0x3000, 0x3fff}};
    const MemoryMap lowMap = mapOf({{0x3000, 0x3fff, MapAccess::READABLE}});
    ModelMemory high;
    high.reads = {{TOP - MODEL_PAGE + 1, TOP}};
    const MemoryMap highMap = mapOf({{TOP - MODEL_PAGE + 1, TOP, MapAccess::READABLE}});
    for (Address phase = 0; phase < BLOCK_BYTES; ++phase) {
        EXPECT_LE(expectSameWalk(low, lowMap, TOP - 3 * BLOCK_BYTES - phase, +1), 1u);
        EXPECT_LE(expectSameWalk(low, lowMap, TOP - phase, +1), 1u);
        EXPECT_LE(expectSameWalk(high, highMap, 0x500 + phase, -1), 1u);
        EXPECT_LE(expectSameWalk(high, highMap, phase, -1), 1u);
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
        ModelMemory m;
        m.reads = {{BASE, BASE + MODEL_PAGE - 1}};
        const MemoryMap map = mapOf({{BASE, BASE + MODEL_PAGE - 1, MapAccess::READABLE}});
        const auto read = [&m](Address a) { return m.read(a); };
        const Address up = walkOverMap(map, BASE + MODEL_PAGE + phase, +1, read);
        EXPECT_EQ(up, firstHitAfterOneLap(BASE + MODEL_PAGE + phase, +1, BASE, BASE + MODEL_PAGE - 1));
        const Address down = walkOverMap(map, BASE - 1 - phase, -1, read);
        EXPECT_EQ(down, firstHitAfterOneLap(BASE - 1 - phase, -1, BASE, BASE + MODEL_PAGE - 1));
        EXPECT_LE(m.probes, 2u);
    }
}

TEST(ScanModel, GrowthBelowAStackAgreesOnAnswerAndOnHowFarItGrew)
{
    const Address stackFirst = BASE + 2048 * MODEL_PAGE;
    const Address stackLast = stackFirst + 32 * MODEL_PAGE - 1;
    const Address zoneFirst = BASE;  // the stack limit allows growth this far down
    const ModelMemory::Span floor{BASE - 64 * MODEL_PAGE, BASE - 63 * MODEL_PAGE - 1};
    const MemoryMap map = mapOf({{floor.first, floor.last, MapAccess::READABLE},
                                 {zoneFirst, stackFirst - 1, MapAccess::GROWABLE},
                                 {stackFirst, stackLast, MapAccess::READABLE}});
    // Where growth really stops: at the limit, above it (a guard gap), or nowhere.
    for (Address growFrom : {zoneFirst, zoneFirst + 256 * MODEL_PAGE, stackFirst - MODEL_PAGE, stackFirst}) {
        ModelMemory m;
        m.reads = {floor, {stackFirst, stackLast, false}};
        m.growth = {zoneFirst, stackFirst - 1, false};
        m.growFrom = growFrom;
        for (Address phase = 0; phase < BLOCK_BYTES; phase += 11) {
            EXPECT_LE(expectSameWalk(m, map, zoneFirst - 5000 + phase, +1), 40u);
            EXPECT_LE(expectSameWalk(m, map, zoneFirst + 300 * MODEL_PAGE + phase, +1), 40u);
            EXPECT_LE(expectSameWalk(m, map, stackFirst + 100 + phase, -1), 1u);
            EXPECT_LE(expectSameWalk(m, map, stackFirst - 1 - phase, -1), 2u);
        }
    }
}

TEST(ScanModel, FaultsBelowTheGrowthRangeEndTheDownwardWalkThere)
{
    const Address stackFirst = BASE + 64 * MODEL_PAGE;
    const MemoryMap map = mapOf({{BASE, BASE + MODEL_PAGE - 1, MapAccess::READABLE},
                                 {BASE + 8 * MODEL_PAGE, stackFirst - 1, MapAccess::GROWABLE},
                                 {stackFirst, stackFirst + MODEL_PAGE - 1, MapAccess::READABLE}});
    ModelMemory m;
    m.reads = {{BASE, BASE + MODEL_PAGE - 1}, {stackFirst, stackFirst + MODEL_PAGE - 1}};
    m.growth = {BASE + 8 * MODEL_PAGE, stackFirst - 1, false};
    m.growFrom = BASE + 40 * MODEL_PAGE;
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 17)
        EXPECT_LE(expectSameWalk(m, map, BASE + 30 * MODEL_PAGE + phase, -1), 2u);
}

TEST(ScanModel, NothingReadableAnywhereGivesTheStartBack)
{
    ModelMemory m;
    const auto read = [&m](Address a) { return m.read(a); };
    EXPECT_EQ(walkOverMap(mapOf({}), BASE + 5, +1, read), BASE + 5);
    const MemoryMap faulting = mapOf({{BASE, BASE + 4 * MODEL_PAGE - 1, MapAccess::READABLE}});
    EXPECT_EQ(walkOverMap(faulting, BASE + 7, -1, read), BASE + 7);
    EXPECT_LE(m.probes, 100u);
}

}  // namespace
