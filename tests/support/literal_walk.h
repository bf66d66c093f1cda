#pragma once
// The walk exactly as the browser describes it, the judge of every faster one:
// candidates start, start ± 240, ..., one probe each, and the answer is the
// first that reads. Nothing when none of the first `maxCandidates` does.

#include <cstdint>
#include <optional>

#include "common/block.h"

template <typename Reads>
std::optional<Address> literalWalk(Address start, int direction, std::uint64_t maxCandidates, Reads reads)
{
    Address p = start;
    for (std::uint64_t i = 0; i < maxCandidates; ++i, p = direction > 0 ? p + BLOCK_BYTES : p - BLOCK_BYTES) {
        if (reads(p))
            return p;
    }
    return std::nullopt;
}
