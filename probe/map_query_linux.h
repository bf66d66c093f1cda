#pragma once
// Between the Linux map's files: the kernel's PROCMAP_QUERY question about one
// address, and its answers kept for the rest of a scan.

#include <array>
#include <cstddef>

#include "probe/map_ranges.h"

// Pages the kernel lists but keeps outside the process's mappings, so the
// question does not find them. Above the user's part of the space, nothing
// grows down to them.
#if defined(__x86_64__) && !defined(__ILP32__)
constexpr MapEntry OUTSIDE = {0xffff'ffff'ff60'0000, 0xffff'ffff'ff60'0fff, true, ENTRY_EXEC};  // [vsyscall]
constexpr bool HAS_OUTSIDE = true;
#else
constexpr MapEntry OUTSIDE = {0, 0, false, 0};
constexpr bool HAS_OUTSIDE = false;
#endif

// The kernel's answers during one scan, each for the addresses [from, to]:
// the map stays as it is while the walk goes on (the reads that change it, by
// growing a stack, are made only in the range the walk ends in), so an answer
// holds for every address it covers. A scan starts with none.
struct KeptAnswers {
    struct Answer {
        Address from;
        Address to;
        Found found;
        MapEntry m;
    };
    std::array<Answer, 8> held;
    std::size_t count;
    std::size_t next;
};

// The mapping that holds `a`, else the lowest one above it, as the question
// on the open /proc/self/maps `fd` answers, or as it answered already. FAILED
// (errno set) when the kernel refused.
Found askOrRecall(KeptAnswers& answers, int fd, Address a, MapEntry& m);
