#pragma once
// What the process's memory map says about where a read can succeed. The scan
// uses it to pass over ranges no read can succeed in without probing each
// block; every answer is still confirmed by a real guarded read.

#include <vector>

#include "common/block.h"

enum class MapAccess {
    // No read anywhere in the range can succeed: unmapped, or mapped without access.
    UNREADABLE,
    // The map allows reading, yet a page may still fault (a file mapping past
    // its file's end, some kernel pages). A fault holds for its whole page.
    READABLE,
    // Unmapped, but a read may grow the mapping just above down to it (a stack).
    // When an address faults, so does every lower address of the range.
    GROWABLE,
    // Guard pages: the first read of each page may fault, and lifts the guard
    // (or grows the stack below it); the page reads from then on. A fault holds
    // for that one read only.
    GUARDED,
};

// `last` is inclusive, so a range can end at the top of the address space.
struct MapRange {
    Address first;
    Address last;
    MapAccess access;
};

struct MemoryMap {
    // The whole address space in increasing order, without gaps or overlaps.
    std::vector<MapRange> ranges;
    // Faults come per page of this size.
    Address pageSize;
};

// Reads the map afresh; false when it cannot be read. Nothing is allocated
// between reading the map and returning, so it still holds for the caller's
// probes as long as the caller allocates nothing either.
bool readMemoryMap(MemoryMap& map);
