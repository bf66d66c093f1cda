// Guard pages against the literal walk, over a model memory: the first read of
// a guard page faults and lifts its guard, so the walk's answer through one is
// a later candidate of the same page. The map-guided walk must find the same
// answer and lift the same guards.

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "scan_model.h"

namespace {

constexpr Address BASE = userAddress(0x7ff6'0000'0000, 0x7ff6'0000);

// Pages [first, end), numbered from BASE, that read or are guard pages; in
// increasing order. Every other page faults.
struct Pages {
    Address first;
    Address end;
    bool guarded;
};

struct Layout {
    ModelMemory memory;
    MemoryMap map;
};

// The memory and its map, with the guard pages numbered in `lifted` already read.
Layout layout(std::initializer_list<Pages> pages, std::initializer_list<Address> lifted = {})
{
    Layout l;
    std::vector<MapRange> ranges;
    for (const Pages& p : pages) {
        const Address first = BASE + p.first * MODEL_PAGE;
        const Address last = BASE + p.end * MODEL_PAGE - 1;
        l.memory.reads.push_back({first, last, p.guarded});
        ranges.push_back({first, last, p.guarded ? MapAccess::GUARDED : MapAccess::READABLE});
    }
    for (const Address page : lifted)
        l.memory.lifted.insert(BASE + page * MODEL_PAGE);
    l.map = mapOf(ranges);
    return l;
}

void expectSameWalk(const Layout& l, Address start, int direction)
{
    expectSameWalk(l.memory, l.map, start, direction);
}

TEST(ScanGuarded, AnswerInsideTheFirstGuardPageReached)
{
    const Layout m = layout({{1, 2, false}, {10, 13, true}, {30, 31, false}});
    for (Address phase = 0; phase < BLOCK_BYTES; ++phase) {
        expectSameWalk(m, BASE + 2 * MODEL_PAGE + phase, +1);
        expectSameWalk(m, BASE + 20 * MODEL_PAGE + phase, -1);
    }
}

TEST(ScanGuarded, StartingInsideAGuardPage)
{
    const Layout m = layout({{1, 2, false}, {10, 13, true}, {30, 31, false}});
    for (Address offset = 0; offset < MODEL_PAGE; offset += 13) {
        expectSameWalk(m, BASE + 10 * MODEL_PAGE + offset, +1);
        expectSameWalk(m, BASE + 12 * MODEL_PAGE + offset, +1);
        expectSameWalk(m, BASE + 10 * MODEL_PAGE + offset, -1);
        expectSameWalk(m, BASE + 12 * MODEL_PAGE + offset, -1);
    }
}

TEST(ScanGuarded, LiftedGuardPagesReadAtOnce)
{
    const Layout m = layout({{1, 2, false}, {10, 13, true}, {30, 31, false}}, {10, 11});
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 5) {
        expectSameWalk(m, BASE + 2 * MODEL_PAGE + phase, +1);
        expectSameWalk(m, BASE + 20 * MODEL_PAGE + phase, -1);
    }
}

TEST(ScanGuarded, GuardPagesBetweenReadableOnes)
{
    const Layout m = layout({{1, 2, false}, {10, 12, false}, {30, 32, true}, {50, 51, false}});
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 3) {
        expectSameWalk(m, BASE + 2 * MODEL_PAGE + phase, +1);
        expectSameWalk(m, BASE + 20 * MODEL_PAGE + phase, -1);
        expectSameWalk(m, BASE + 40 * MODEL_PAGE + phase, -1);
        expectSameWalk(m, BASE + 20 * MODEL_PAGE + phase, +1);
    }
}

}  // namespace
