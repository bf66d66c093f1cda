// Guard pages against the literal walk, over a model memory: the first read of
// a guard page faults and lifts its guard, so the walk's answer through one is
// a later candidate of the same page. The map-guided walk must find the same
// answer and lift the same guards.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <vector>

#include "probe/scan.h"

namespace {

constexpr Address TOP = std::numeric_limits<Address>::max();
constexpr Address PAGE = 4096;
#if UINTPTR_MAX > 0xffff'ffffU
constexpr Address BASE = 0x7ff6'0000'0000;
#else
constexpr Address BASE = 0x7ff6'0000;
#endif

// Pages [first, end), numbered from BASE, that read or are guard pages; in
// increasing order. Every other page faults.
struct Span {
    Address first;
    Address end;
    bool guarded;
};

struct Model {
    std::vector<Span> spans;
    std::set<Address> lifted;  // guard pages already touched
};

Model* model = nullptr;

bool modelReads(Address a)
{
    const Address page = (a - BASE) / PAGE;
    for (const Span& s : model->spans) {
        if (a < BASE || page < s.first || page >= s.end)
            continue;
        return !s.guarded || !model->lifted.insert(page).second;  // a guard page faults on the first touch only
    }
    return false;
}

MemoryMap mapOf(const Model& m)
{
    MemoryMap map{{}, PAGE};
    Address next = 0;
    for (const Span& s : m.spans) {
        map.ranges.push_back({next, BASE + s.first * PAGE - 1, MapAccess::UNREADABLE});
        map.ranges.push_back({BASE + s.first * PAGE, BASE + s.end * PAGE - 1,
                              s.guarded ? MapAccess::GUARDED : MapAccess::READABLE});
        next = BASE + s.end * PAGE;
    }
    map.ranges.push_back({next, TOP, MapAccess::UNREADABLE});
    return map;
}

std::optional<Address> literalWalk(Address start, int direction)
{
    Address p = start;
    for (int i = 0; i < 1'000'000; ++i, p = direction > 0 ? p + BLOCK_BYTES : p - BLOCK_BYTES)
        if (modelReads(p))
            return p;
    return std::nullopt;
}

void expectSameWalk(const Model& m, Address start, int direction)
{
    Model literal = m;
    model = &literal;
    const std::optional<Address> expected = literalWalk(start, direction);
    Model guided = m;
    model = &guided;
    const Address got = walkOverMap(mapOf(m), start, direction, modelReads);
    model = nullptr;
    ASSERT_TRUE(expected.has_value()) << "the literal walk did not end: the layout is wrong";
    EXPECT_EQ(got, *expected) << std::hex << "start " << start << " direction " << direction;
    EXPECT_EQ(guided.lifted, literal.lifted) << std::hex << "start " << start << " direction " << direction;
}

TEST(ScanGuarded, AnswerInsideTheFirstGuardPageReached)
{
    const Model m{{{1, 2, false}, {10, 13, true}, {30, 31, false}}, {}};
    for (Address phase = 0; phase < BLOCK_BYTES; ++phase) {
        expectSameWalk(m, BASE + 2 * PAGE + phase, +1);
        expectSameWalk(m, BASE + 20 * PAGE + phase, -1);
    }
}

TEST(ScanGuarded, StartingInsideAGuardPage)
{
    const Model m{{{1, 2, false}, {10, 13, true}, {30, 31, false}}, {}};
    for (Address offset = 0; offset < PAGE; offset += 13) {
        expectSameWalk(m, BASE + 10 * PAGE + offset, +1);
        expectSameWalk(m, BASE + 12 * PAGE + offset, +1);
        expectSameWalk(m, BASE + 10 * PAGE + offset, -1);
        expectSameWalk(m, BASE + 12 * PAGE + offset, -1);
    }
}

TEST(ScanGuarded, LiftedGuardPagesReadAtOnce)
{
    const Model m{{{1, 2, false}, {10, 13, true}, {30, 31, false}}, {10, 11}};
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 5) {
        expectSameWalk(m, BASE + 2 * PAGE + phase, +1);
        expectSameWalk(m, BASE + 20 * PAGE + phase, -1);
    }
}

TEST(ScanGuarded, GuardPagesBetweenReadableOnes)
{
    const Model m{{{1, 2, false}, {10, 12, false}, {30, 32, true}, {50, 51, false}}, {}};
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 3) {
        expectSameWalk(m, BASE + 2 * PAGE + phase, +1);
        expectSameWalk(m, BASE + 20 * PAGE + phase, -1);
        expectSameWalk(m, BASE + 40 * PAGE + phase, -1);
        expectSameWalk(m, BASE + 20 * PAGE + phase, +1);
    }
}

}  // namespace
