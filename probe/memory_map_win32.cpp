// The memory map on Windows, from VirtualQuery. Only committed pages can be
// read: free and reserved memory cannot, nor pages without access, nor anything
// above the highest address a process can own. Guard pages are readable once
// their first touch has lifted the guard (or, on a thread's stack, grown it).
// The map is read whole into static storage, so the heap is not touched.

#include "probe/memory_map.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "probe/guard.h"

namespace {

// Far more regions than a process of this size has; a map that does not fit
// is not used, and the scan walks block by block.
constexpr std::size_t MAX_RANGES = 16384;
MapRange ranges[MAX_RANGES];
std::size_t rangeCount;

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

// False when the range did not fit.
bool add(Address first, Address last, MapAccess access)
{
    if (rangeCount > 0 && access == MapAccess::UNREADABLE && ranges[rangeCount - 1].access == access) {
        ranges[rangeCount - 1].last = last;
        return true;
    }
    if (rangeCount == MAX_RANGES)
        return false;
    ranges[rangeCount++] = {first, last, access};
    return true;
}

bool readAll(Address highest)
{
    rangeCount = 0;
    Address next = 0;  // the lowest address not yet covered
    while (next <= highest) {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(reinterpret_cast<const void*>(next), &region, sizeof region) == 0)
            break;
        const Address end = reinterpret_cast<Address>(region.BaseAddress) + region.RegionSize;
        if (end <= next)
            break;
        if (!add(next, end - 1, accessOf(region)))
            return false;
        next = end;
    }
    return add(next, TOP, MapAccess::UNREADABLE);
}

bool rangeInStorage(const void*, Address a, int, MapRange& range)
{
    return rangeAmong(ranges, ranges + rangeCount, a, range);
}

Address anyGrowth(const void*)
{
    return TOP;
}

}  // namespace

bool prepareMemoryMap()
{
    return false;
}

bool openMapLookup(MapLookup& lookup, MapSource first)
{
    if (first == MapSource::NONE)
        return false;
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    if (!readAll(reinterpret_cast<Address>(system.lpMaximumApplicationAddress)))
        return false;
    lookup = {rangeInStorage, nullptr, system.dwPageSize, anyGrowth};
    return true;
}

void closeMapLookup(MapLookup&) {}

bool readsElsewhere(Address address)
{
    return readByteGuarded(address).has_value();
}
