#pragma once
// What the preloaded heap counter records, as the tests read it back.

#include <array>
#include <cstddef>

enum class HeapCall : std::size_t { MALLOC, CALLOC, REALLOC, FREE, ALIGNED, NEW, DELETE, KINDS };

struct HeapCounts {
    std::array<unsigned long long, static_cast<std::size_t>(HeapCall::KINDS)> calls{};
};
