#pragma once
// The kernel's text listing of a process's mappings, one per line:
// "first-end perms offset device inode path", addresses in hexadecimal, `end`
// one past the last byte. Read in one pass, a chunk at a time, into storage the
// caller sized once; nothing is allocated.

#include <cstddef>
#include <optional>
#include <span>

#include "probe/map_ranges.h"

// Reads as read(2) does: up to `size` bytes, 0 at the end, -1 with errno set.
using ReadSome = long (*)(void* context, char* buffer, std::size_t size);

// The number of mappings stored in `out`, in increasing order; nothing when the
// listing could not be read whole: a read failed (an interrupted one is made
// again), the mappings did not fit, or they were out of order. A line whose
// addresses do not fit an Address is left out: no walk reaches it.
std::optional<std::size_t> readMapsListing(ReadSome read, void* context, std::span<char> chunk,
                                           std::span<MapEntry> out);
