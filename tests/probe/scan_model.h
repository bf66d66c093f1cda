#pragma once
// A model memory for the map-guided walk: the test says which addresses read
// and what a read does there, and gives the walk a map of it. Only a model can
// put readable pages at the top of the address space or at address 0.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "probe/scan.h"
#include "support/constants.h"
#include "support/literal_walk.h"

constexpr Address MODEL_PAGE = 4096;

// An address in the user's part of the space, at this build's width.
constexpr Address userAddress(std::uint64_t wide, std::uint32_t narrow)
{
    return sizeof(Address) > 4 ? static_cast<Address>(wide) : Address{narrow};
}

struct ModelMemory {
    struct Span {
        Address first;
        Address last;
        // Guard pages: the first read of each page faults and lifts its guard.
        bool guarded = false;
    };
    std::vector<Span> reads;
    // A growth range reads from `growFrom` up; a read there grows the stack
    // down to its page, as the kernel does.
    Span growth{1, 0};
    Address growFrom = 0;
    Address grownTo = TOP;
    std::set<Address> lifted;  // guard pages read so far
    std::uint64_t probes = 0;

    bool read(Address a)
    {
        ++probes;
        const Address page = a & ~(MODEL_PAGE - 1);
        for (const Span& s : reads) {
            if (a >= s.first && a <= s.last)
                return !s.guarded || !lifted.insert(page).second;
        }
        if (a >= growth.first && a <= growth.last && a >= growFrom) {
            grownTo = std::min(grownTo, page);
            return true;
        }
        return false;
    }
};

// A map from the ranges the test names, in increasing order; everything between
// them is unreadable.
inline MemoryMap mapOf(const std::vector<MapRange>& named)
{
    MemoryMap map{{}, MODEL_PAGE};
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

// Runs the literal walk and the map-guided walk from fresh copies of `m` and
// checks they agree: on the answer, how far the stack grew and which guards
// went. Returns the map-guided walk's probe count.
inline std::uint64_t expectSameWalk(const ModelMemory& m, const MemoryMap& map, Address start, int direction,
                                    std::uint64_t maxCandidates = 1'000'000)
{
    ModelMemory literal = m;
    const std::optional<Address> expected =
        literalWalk(start, direction, maxCandidates, [&literal](Address a) { return literal.read(a); });
    ModelMemory guided = m;
    const Address got = walkOverMap(map, start, direction, [&guided](Address a) { return guided.read(a); });
    EXPECT_TRUE(expected.has_value()) << "the literal walk did not end: the layout is wrong";
    EXPECT_EQ(got, expected.value_or(start)) << std::hex << "start " << start << " direction " << direction;
    EXPECT_EQ(guided.grownTo, literal.grownTo) << std::hex << "start " << start;
    EXPECT_EQ(guided.lifted, literal.lifted) << std::hex << "start " << start << " direction " << direction;
    return guided.probes;
}
