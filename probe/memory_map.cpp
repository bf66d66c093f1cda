// The parts of the memory map every platform shares: a whole map held in
// memory, and reading one whole through a lookup.

#include "probe/memory_map.h"

#include <algorithm>

namespace {

bool rangeInMap(const void* context, Address a, int, MapRange& range)
{
    const auto& ranges = static_cast<const MemoryMap*>(context)->ranges;
    return rangeAmong(ranges.data(), ranges.data() + ranges.size(), a, range);
}

Address anyGrowth(const void*)
{
    return TOP;
}

}  // namespace

bool rangeAmong(const MapRange* begin, const MapRange* end, Address a, MapRange& range)
{
    const MapRange* const after =
        std::upper_bound(begin, end, a, [](Address x, const MapRange& r) { return x < r.first; });
    if (after == begin)
        return false;
    range = *(after - 1);
    return a <= range.last;
}

MapLookup lookupIn(const MemoryMap& map)
{
    return {rangeInMap, &map, map.pageSize, anyGrowth};
}

bool readMemoryMap(MemoryMap& map, MapSource first)
{
    // Room first, then the map again: the allocation may itself have changed
    // it. Each reading from a lookup of its own, which takes the map to stay.
    for (std::size_t room = map.ranges.capacity();; room = map.ranges.capacity()) {
        MapLookup lookup{};
        if (!openMapLookup(lookup, first))
            return false;
        map.pageSize = lookup.pageSize;
        map.ranges.clear();
        bool ok = true;
        for (Address a = 0;;) {
            MapRange r{};
            ok = lookup.rangeAt(lookup.context, a, +1, r) && r.first <= a && r.last >= a;
            if (!ok)
                break;
            if (!map.ranges.empty() && map.ranges.back().access == r.access && r.access == MapAccess::UNREADABLE)
                map.ranges.back().last = r.last;
            else
                map.ranges.push_back({a, r.last, r.access});
            if (r.last == TOP)
                break;
            a = r.last + 1;
        }
        closeMapLookup(lookup);
        if (!ok || map.ranges.capacity() == room)
            return ok;
    }
}
