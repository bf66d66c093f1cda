#pragma once
// What the process's memory map says about where a read can succeed. The scan
// uses it to pass over ranges no read can succeed in without probing each
// block; every answer is still confirmed by a real guarded read.

#include <vector>

#include "common/block.h"

enum class MapAccess {
    // No read anywhere in the range can succeed: unmapped, or mapped without access.
    UNREADABLE,
    // The map allows some access, yet a page may still fault (a file mapping
    // past its file's end, write-only pages, some kernel pages). A fault holds
    // for its whole page.
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
    // GROWABLE only: the mapping above is known to grow down, so a read near
    // it is likely to succeed.
    bool knownToGrow = false;
};

// Where the map comes from, in the order the scan tries them: each that fails
// gives way to the next.
enum class MapSource {
    QUERY,      // the kernel answers about one address at a time
    MAPS_FILE,  // the whole map, read in one pass into storage sized once
    NONE,       // no map: the scan probes block by block
};

// How the scan asks the map. Nothing here allocates: what a lookup needs is
// sized once, before the browser's first frame.
struct MapLookup {
    // The range that holds `a`: all of it, or at least its part from `a` on in
    // `direction`. False when the map cannot be read after all.
    bool (*rangeAt)(const void* context, Address a, int direction, MapRange& range);
    const void* context;
    // Faults come per page of this size.
    Address pageSize;
    // A stack grows by at most this much in one step without the kernel asking
    // whether memory is left for it; further growth can succeed in small steps
    // where one step would fail, so it is tried where its effects do not stay.
    // Asked only where a walk goes up into a stack's growth: it may cost a
    // system call.
    Address (*growthStep)(const void* context);
};

// Makes ready what the map keeps for the whole run (on Linux, its open
// descriptor; on Windows, where its searches start), so that the first scan
// finds it. Called before the browser's first frame; a lookup opened without
// it does the same itself. False when there is no map to ready, or it could
// not be: the scan then does without.
bool prepareMemoryMap();

// The lookup from `first` on; false when no map can be read. A lookup that
// succeeds must be closed. The map is taken to stay as it is while the lookup
// is open, but for what the walk's own reads change.
bool openMapLookup(MapLookup& lookup, MapSource first);
void closeMapLookup(MapLookup& lookup);

// A read at `address` whose effects (a grown stack) do not stay in the
// process: made in a copy of it. Where no copy can be made, the read is made
// here.
bool readsElsewhere(Address address);

// The whole map at once, from address 0 to the top: for tests and benchmarks,
// which may allocate.
struct MemoryMap {
    std::vector<MapRange> ranges;  // in increasing order, without gaps or overlaps
    Address pageSize;
};
bool readMemoryMap(MemoryMap& map, MapSource first = MapSource::QUERY);

// A lookup over a whole map held in memory; it lives as long as `map`.
MapLookup lookupIn(const MemoryMap& map);
// The range of [begin, end), in increasing order, that holds `a`; false when none does.
bool rangeAmong(const MapRange* begin, const MapRange* end, Address a, MapRange& range);
