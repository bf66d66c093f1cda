#pragma once
// Walks from a block, in whole blocks, to the nearest one whose first byte reads.

#include <cstdint>
#include <functional>
#include <optional>

#include "common/block.h"
#include "probe/memory_map.h"

// Toward lower addresses for direction -1, higher for +1. The candidates are
// start, start ± 240, start ± 480, ... wrapping round the address space; the
// answer is the first whose first byte reads.
Address scanForReadable(Address start, int direction);

// The same walk without its message, with the map from `first` on (each map
// that fails gives way to the next). Nothing when the walk had no map and gave
// up.
std::optional<Address> scanWith(Address start, int direction, MapSource first);

// Whether the first byte of a candidate reads; it may change what reads next
// (a read grows a stack, or lifts a guard).
using Readable = std::function<bool(Address)>;

// That walk's answer, found with `lookup`: candidates the map proves unreadable
// are passed over unprobed, and `readable` probes the rest; `readsElsewhere`
// probes where a stack's growth must not stay. Returns `start` when nothing
// anywhere reads; nothing when the map failed.
std::optional<Address> walkOverMap(const MapLookup& lookup, Address start, int direction, const Readable& readable,
                                   const Readable& readsElsewhere);
// The same over a whole map, every probe made by `readable`.
Address walkOverMap(const MemoryMap& map, Address start, int direction, const Readable& readable);

// The walk itself, one guarded read per candidate, for when there is no map. Gives up
// after `maxCandidates` faulting candidates and returns `start`.
Address walkBlockByBlock(Address start, int direction, std::uint64_t maxCandidates);
