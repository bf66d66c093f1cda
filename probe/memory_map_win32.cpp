// The memory map on Windows, from VirtualQuery. Only committed pages can be
// read: free and reserved memory cannot, nor pages without access, nor anything
// above the highest address a process can own. Guard pages are readable once
// their first touch has lifted the guard (or, on a thread's stack, grown it).
// Reading uses the ranges' reserved room only, so the heap does not move while
// the map is read.

#include "probe/memory_map.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <limits>

namespace {

constexpr Address TOP = std::numeric_limits<Address>::max();

MapAccess accessOf(const MEMORY_BASIC_INFORMATION& region)
{
    if (region.State != MEM_COMMIT || region.Protect == 0 || (region.Protect & PAGE_NOACCESS) != 0)
        return MapAccess::UNREADABLE;
    if ((region.Protect & PAGE_GUARD) != 0)
        return MapAccess::GUARDED;
    // Execute-only pages included: where the processor cannot refuse the read
    // they read, and where it can the probe finds out, page by page.
    return MapAccess::READABLE;
}

// False when the range did not fit in the reserved room.
bool add(std::vector<MapRange>& ranges, Address first, Address last, MapAccess access)
{
    if (!ranges.empty() && access == MapAccess::UNREADABLE && ranges.back().access == access) {
        ranges.back().last = last;
        return true;
    }
    if (ranges.size() == ranges.capacity())
        return false;
    ranges.push_back({first, last, access});
    return true;
}

bool readInto(std::vector<MapRange>& ranges, Address highest)
{
    ranges.clear();
    Address next = 0;  // the lowest address not yet covered
    while (next <= highest) {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(reinterpret_cast<const void*>(next), &region, sizeof region) == 0)
            break;
        const Address end = reinterpret_cast<Address>(region.BaseAddress) + region.RegionSize;
        if (end <= next)
            break;
        if (!add(ranges, next, end - 1, accessOf(region)))
            return false;
        next = end;
    }
    return add(ranges, next, TOP, MapAccess::UNREADABLE);
}

}  // namespace

bool readMemoryMap(MemoryMap& map)
{
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    map.pageSize = system.dwPageSize;
    const Address highest = reinterpret_cast<Address>(system.lpMaximumApplicationAddress);
    if (map.ranges.capacity() < 256)
        map.ranges.reserve(256);
    while (!readInto(map.ranges, highest)) {
        // Room first, then the map again: the allocation may itself have changed it.
        map.ranges.reserve(map.ranges.capacity() * 2);
    }
    return true;
}
