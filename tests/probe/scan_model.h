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

#include "probe/map_ranges.h"
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
    // The kernel refuses one growth larger than this (all the memory there
    // is), though smaller ones may add up to more.
    Address maxStep = TOP;
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
        const Address bottom = std::min(grownTo, growth.last + 1);
        if (a >= growth.first && a <= growth.last && a >= growFrom && (page >= bottom || bottom - page <= maxStep)) {
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

// Mappings as the kernel lists them, answering as its question does: the one
// that holds an address, or else the next. Counts the questions.
struct ModelMappings {
    std::vector<MapEntry> list;
    mutable std::uint64_t questions = 0;
    // What the lookups made from these mappings say of stacks.
    mutable Address limit = TOP;
    mutable Address step = TOP;

    static Found from(const void* context, Address a, MapEntry& m)
    {
        const auto& self = *static_cast<const ModelMappings*>(context);
        ++self.questions;
        const auto at = std::lower_bound(self.list.begin(), self.list.end(), a,
                                         [](const MapEntry& x, Address y) { return x.last < y; });
        if (at == self.list.end())
            return Found::NONE;
        m = *at;
        return Found::YES;
    }
    // The listing's direct answer, where the question has none.
    static Found below(const void* context, Address a, MapEntry& m)
    {
        const auto& self = *static_cast<const ModelMappings*>(context);
        const auto at = std::lower_bound(self.list.begin(), self.list.end(), a,
                                         [](const MapEntry& x, Address y) { return x.last < y; });
        if (at == self.list.begin())
            return Found::NONE;
        m = *(at - 1);
        return Found::YES;
    }
    static Address stackLimit(const void* context) { return static_cast<const ModelMappings*>(context)->limit; }
    Mappings asked(Address stackLimit = TOP, Address ignoredBits = 0) const
    {
        limit = stackLimit;
        return {from, nullptr, this, MODEL_PAGE, ModelMappings::stackLimit, ignoredBits};
    }
    Mappings listed(Address stackLimit = TOP, Address ignoredBits = 0) const
    {
        limit = stackLimit;
        return {from, below, this, MODEL_PAGE, ModelMappings::stackLimit, ignoredBits};
    }
};

// A lookup over mappings asked of ModelMappings.
inline MapLookup lookupOf(const Mappings& mappings, Address growthStep = TOP)
{
    const auto rangeAt = [](const void* context, Address a, int direction, MapRange& range) {
        return rangeFromMappings(*static_cast<const Mappings*>(context), a, direction, range);
    };
    const auto step = [](const void* context) {
        return static_cast<const ModelMappings*>(static_cast<const Mappings*>(context)->context)->step;
    };
    static_cast<const ModelMappings*>(mappings.context)->step = growthStep;
    return {rangeAt, &mappings, MODEL_PAGE, step};
}

// Runs the literal walk and the map-guided walk from fresh copies of `m` and
// checks they agree: on the answer, how far the stack grew and which guards
// went. Probes elsewhere are made on a copy of the memory. Returns the
// map-guided walk's probe count.
inline std::uint64_t expectSameWalk(const ModelMemory& m, const MapLookup& lookup, Address start, int direction,
                                    std::uint64_t maxCandidates = 1'000'000)
{
    ModelMemory literal = m;
    const std::optional<Address> expected =
        literalWalk(start, direction, maxCandidates, [&literal](Address a) { return literal.read(a); });
    ModelMemory guided = m;
    const Address got = walkOverMap(
                            lookup, start, direction, [&guided](Address a) { return guided.read(a); },
                            [&guided](Address a) {
                                ModelMemory copy = guided;
                                ++guided.probes;
                                return copy.read(a);
                            })
                            .value_or(~start);
    EXPECT_TRUE(expected.has_value()) << "the literal walk did not end: the layout is wrong";
    EXPECT_EQ(got, expected.value_or(start)) << std::hex << "start " << start << " direction " << direction;
    EXPECT_EQ(guided.grownTo, literal.grownTo) << std::hex << "start " << start;
    EXPECT_EQ(guided.lifted, literal.lifted) << std::hex << "start " << start << " direction " << direction;
    return guided.probes;
}

inline std::uint64_t expectSameWalk(const ModelMemory& m, const MemoryMap& map, Address start, int direction,
                                    std::uint64_t maxCandidates = 1'000'000)
{
    return expectSameWalk(m, lookupIn(map), start, direction, maxCandidates);
}
