// The map-guided walk against the literal walk, over model memories of
// readable, faulting and growing ranges.

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "probe/maps_file.h"
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
    // Whether or not the map knows the mapping above grows, and where growth
    // really stops: at the limit, above it (a guard gap), or nowhere.
    for (const bool known : {false, true}) {
        for (Address growFrom : {zoneFirst, zoneFirst + 256 * MODEL_PAGE, stackFirst - MODEL_PAGE, stackFirst}) {
            const MemoryMap map = mapOf({{floor.first, floor.last, MapAccess::READABLE},
                                         {zoneFirst, stackFirst - 1, MapAccess::GROWABLE, known},
                                         {stackFirst, stackLast, MapAccess::READABLE}});
            ModelMemory m;
            m.reads = {floor, {stackFirst, stackLast, false}};
            m.growth = {zoneFirst, stackFirst - 1, false};
            m.growFrom = growFrom;
            // Below a known stack that reaches its limit, the first read is the answer.
            const std::uint64_t upward = known && growFrom == zoneFirst ? 1 : 40;
            for (Address phase = 0; phase < BLOCK_BYTES; phase += 11) {
                EXPECT_LE(expectSameWalk(m, map, zoneFirst - 5000 + phase, +1), upward);
                EXPECT_LE(expectSameWalk(m, map, zoneFirst + 300 * MODEL_PAGE + phase, +1), 40u);
                EXPECT_LE(expectSameWalk(m, map, stackFirst + 100 + phase, -1), 1u);
                EXPECT_LE(expectSameWalk(m, map, stackFirst - 1 - phase, -1), 2u);
            }
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

namespace {

// Mappings as a busy process has them: `count` of them, of every size from one
// page up, inaccessible ones among them, with gaps of every size between.
ModelMappings busyProcess(std::size_t count)
{
    ModelMappings ms;
    Address next = BASE;
    const std::size_t spread = sizeof(Address) > 4 ? 20 : 8;  // the whole layout fits in 32 bits
    for (std::size_t i = 0; i < count; ++i) {
        const Address pages = 1 + (i * 7) % 13;
        const Address gap = i % 5 == 0 ? 0 : (i % 3 == 0 ? (Address{1} << (i % spread)) : 1);
        next += gap * MODEL_PAGE;
        ms.list.push_back({next, next + pages * MODEL_PAGE - 1, i % 4 != 3});
        next += pages * MODEL_PAGE;
    }
    EXPECT_GT(next, BASE) << "the layout wrapped round the address space";
    return ms;
}

TEST(ScanModel, TheQuestionFindsWhatTheListingSaysInFewQuestions)
{
    const ModelMappings ms = busyProcess(10'000);
    const Mappings listed = ms.listed(64 * MODEL_PAGE);
    // Without hints, and with hints in a mapping, at one's end, in a gap and above them all.
    const Mappings plain = ms.asked(64 * MODEL_PAGE);
    Mappings hinted = plain;
    const std::vector<Address> hints = {0, ms.list[100].last, ms.list[4000].first + 5, ms.list[7001].last + 1,
                                        ms.list.back().last + 9 * MODEL_PAGE};
    hinted.hints = hints.data();
    hinted.hintCount = hints.size();
    std::vector<Address> at = {0, 1, BASE - 1, TOP, TOP - 5, ms.list.back().last + 1};
    for (std::size_t i = 0; i < ms.list.size(); i += 37) {
        const MapEntry& m = ms.list[i];
        for (const Address a : {m.first - 1, m.first, m.last, m.last + 1, m.first - 200 * MODEL_PAGE, m.first - 3})
            at.push_back(a);
    }
    std::uint64_t most = 0;
    const auto questions = [&ms] { return ms.questions; };  // the lookups count them
    for (const Mappings* asked : std::initializer_list<const Mappings*>{&plain, &hinted}) {
        for (const Address a : at) {
            for (const int direction : {+1, -1}) {
                MapRange got{};
                MapRange expected{};
                const std::uint64_t before = questions();
                ASSERT_TRUE(rangeFromMappings(*asked, a, direction, got));
                most = std::max(most, questions() - before);
                ASSERT_TRUE(rangeFromMappings(listed, a, direction, expected));
                EXPECT_EQ(got.first, expected.first) << std::hex << a << " direction " << direction;
                EXPECT_EQ(got.last, expected.last) << std::hex << a << " direction " << direction;
                EXPECT_EQ(got.access, expected.access) << std::hex << a << " direction " << direction;
                EXPECT_TRUE(got.first <= a && a <= got.last) << std::hex << a;
            }
        }
    }
    EXPECT_LE(most, 2 * sizeof(Address) * 8);
}

TEST(ScanModel, GapsBelowAccessibleMappingsMayGrowAsFarAsTheStackLimit)
{
    ModelMappings ms;
    ms.list = {{BASE, BASE + MODEL_PAGE - 1, true},
               {BASE + 100 * MODEL_PAGE, BASE + 103 * MODEL_PAGE - 1, true},
               {BASE + 200 * MODEL_PAGE, BASE + 201 * MODEL_PAGE - 1, false},
               {BASE + 300 * MODEL_PAGE, BASE + 301 * MODEL_PAGE - 1, true}};
    const Mappings mappings = ms.asked(10 * MODEL_PAGE);
    const auto rangeAt = [&mappings](Address a, int direction) {
        MapRange r{};
        EXPECT_TRUE(rangeFromMappings(mappings, a, direction, r));
        return r;
    };
    // The mapping of three pages may grow seven more; the inaccessible one not at all.
    EXPECT_EQ(rangeAt(BASE + 95 * MODEL_PAGE, -1).first, BASE + 93 * MODEL_PAGE);
    EXPECT_EQ(rangeAt(BASE + 95 * MODEL_PAGE, -1).access, MapAccess::GROWABLE);
    EXPECT_EQ(rangeAt(BASE + 92 * MODEL_PAGE, -1).first, BASE + MODEL_PAGE);
    EXPECT_EQ(rangeAt(BASE + 150 * MODEL_PAGE, -1).access, MapAccess::UNREADABLE);

    // Only the gap below the stack grows; every other one is probed once and passed.
    ModelMemory m;
    m.reads = {{BASE, BASE + MODEL_PAGE - 1}, {BASE + 100 * MODEL_PAGE, BASE + 103 * MODEL_PAGE - 1},
               {BASE + 300 * MODEL_PAGE, BASE + 301 * MODEL_PAGE - 1}};
    m.growth = {BASE + 93 * MODEL_PAGE, BASE + 100 * MODEL_PAGE - 1};
    m.growFrom = BASE + 96 * MODEL_PAGE;
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 19) {
        EXPECT_LE(expectSameWalk(m, lookupOf(mappings), BASE + 2 * MODEL_PAGE + phase, +1), 9u);
        EXPECT_LE(expectSameWalk(m, lookupOf(mappings), BASE + 98 * MODEL_PAGE + phase, -1), 1u);
        EXPECT_LE(expectSameWalk(m, lookupOf(mappings), BASE + 95 * MODEL_PAGE + phase, -1), 2u);
        EXPECT_LE(expectSameWalk(m, lookupOf(mappings), BASE + 250 * MODEL_PAGE + phase, +1), 2u);
        EXPECT_LE(expectSameWalk(m, lookupOf(mappings), BASE + 250 * MODEL_PAGE + phase, -1), 2u);
    }
}

TEST(ScanModel, GrowthTheKernelChecksStepByStepEndsWhereTheLiteralWalksDoes)
{
    // No stack limit: only the size of each single growth is checked. Probes
    // that stayed would let the stack grow step by step far below the literal
    // walk's one step.
    const Address stackFirst = BASE + 4096 * MODEL_PAGE;
    ModelMappings ms;
    ms.list = {{BASE, BASE + MODEL_PAGE - 1, true}, {stackFirst, stackFirst + 8 * MODEL_PAGE - 1, true}};
    ModelMemory m;
    m.reads = {{BASE, BASE + MODEL_PAGE - 1}, {stackFirst, stackFirst + 8 * MODEL_PAGE - 1}};
    m.growth = {BASE + MODEL_PAGE, stackFirst - 1};
    m.growFrom = BASE + 256 * MODEL_PAGE;  // the guard gap above the mapping below
    m.maxStep = 100 * MODEL_PAGE;
    const Mappings mappings = ms.asked();
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 23) {
        for (const Address growthStep : {m.maxStep, 40 * MODEL_PAGE}) {
            EXPECT_LE(expectSameWalk(m, lookupOf(mappings, growthStep), BASE + 2 * MODEL_PAGE + phase, +1), 80u);
            EXPECT_LE(expectSameWalk(m, lookupOf(mappings, growthStep), BASE + 3000 * MODEL_PAGE + phase, +1), 80u);
            expectSameWalk(m, lookupOf(mappings, growthStep), BASE + 4000 * MODEL_PAGE + phase, -1);
            expectSameWalk(m, lookupOf(mappings, growthStep), BASE + 3900 * MODEL_PAGE + phase, -1);
        }
    }
}

#if UINTPTR_MAX > 0xffff'ffffU
TEST(ScanModel, EveryTopByteWindowHoldsTheSameMap)
{
    // The processor ignores the top byte: each window reads as the one at 0.
    constexpr Address IGNORED = Address{0xff} << 56;
    constexpr Address WINDOW_TOP = ~IGNORED;
    ModelMappings ms;
    ms.list = {{0x1000, 0x1fff, true}, {BASE, BASE + MODEL_PAGE - 1, true},
               {WINDOW_TOP - 2 * MODEL_PAGE + 1, WINDOW_TOP - MODEL_PAGE, true}};
    const Mappings mappings = ms.asked(TOP, IGNORED);
    for (const Address tag : {Address{0}, Address{1}, Address{0x5a}, Address{0xff}}) {
        const Address window = tag << 56;
        ModelMemory m;
        for (Address t = 0; t < 256; ++t)
            for (const MapEntry& x : ms.list)
                m.reads.push_back({t << 56 | x.first, t << 56 | x.last});
        for (Address phase = 0; phase < BLOCK_BYTES; phase += 29) {
            EXPECT_LE(expectSameWalk(m, lookupOf(mappings), window + BASE + phase, +1), 2u);
            EXPECT_LE(expectSameWalk(m, lookupOf(mappings), window + BASE - 5 * BLOCK_BYTES - phase, +1), 2u);
            EXPECT_LE(expectSameWalk(m, lookupOf(mappings), window + BASE + 9 * BLOCK_BYTES + phase, -1), 2u);
            // Across a window's top into the next one's bottom, and back.
            EXPECT_LE(expectSameWalk(m, lookupOf(mappings), window + WINDOW_TOP - 40 * BLOCK_BYTES + phase, +1), 2u);
            EXPECT_LE(expectSameWalk(m, lookupOf(mappings), window + 0x3000 + phase, -1), 2u);
        }
    }
}
#endif

}  // namespace
