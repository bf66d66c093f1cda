// The memory map on Windows, from VirtualQuery, asked only about the regions a
// walk reaches. Only committed pages can be read: free and reserved memory
// cannot, nor pages without access, nor anything above the highest address a
// process can own. Guard pages are readable once their first touch has lifted
// the guard (or, on a thread's stack, grown it). VirtualQuery answers for an
// address and the rest of its region above it, never below: going down through
// memory that cannot be read, where that memory begins is found going up from
// a place where a region begins. Nothing here allocates.

#include "probe/memory_map.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// The module functions kernel32 itself holds.
#define PSAPI_VERSION 2
#include <psapi.h>

#include <algorithm>
#include <array>

#include "probe/guard.h"

namespace {

// One of VirtualQuery's answers: from the page asked about to its region's end.
struct Region {
    Address first;
    Address last;
    MapAccess access;
};

// Its answers during one scan: the map stays as it is while the walk goes on
// but for guards the walk lifts, and the walk reads a guard page's range to
// its end, or passes it for good.
constexpr std::size_t REGIONS_KEPT = 16;

// Places where regions begin, in increasing order: 0, the page the system
// shares with every process, the process heap, this thread's stack, and the
// start and the end of every module loaded when the map was prepared.
constexpr std::size_t MODULES = 64;
constexpr std::size_t HINTS = 4 + 2 * MODULES;
constexpr Address SHARED_USER_DATA = 0x7ffe'0000;

// The one scan's map: there is one thread, and a scan does not nest.
struct WindowsMap {
    bool prepared = false;
    Address pageSize = 0;
    Address highest = 0;  // the highest address a process can own
    std::array<Address, HINTS> hints{};
    std::size_t hintCount = 0;
    std::array<Region, REGIONS_KEPT> regions{};
    std::size_t regionCount = 0;
    std::size_t nextRegion = 0;
};
WindowsMap current;

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

// The region that holds `a`, at most the highest address, from a's page up at
// least; false when VirtualQuery fails.
bool regionAt(Address a, Region& r)
{
    for (std::size_t i = 0; i < current.regionCount; ++i) {
        if (a >= current.regions[i].first && a <= current.regions[i].last) {
            r = current.regions[i];
            return true;
        }
    }
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(a), &info, sizeof info) == 0)
        return false;
    const auto base = reinterpret_cast<Address>(info.BaseAddress);
    const Address last = base + (info.RegionSize - 1);
    if (base > a || last < a)
        return false;
    r = {base, last, accessOf(info)};
    current.regions[current.nextRegion] = r;
    current.nextRegion = (current.nextRegion + 1) % REGIONS_KEPT;
    current.regionCount = std::min(current.regionCount + 1, REGIONS_KEPT);
    return true;
}

// Where the memory that cannot be read and holds `a` begins, or an address
// at or below a's page from which on it is known not to be read: up from the
// highest hint at or below `a`, region by region, past each that can.
Address unreadableFrom(Address a, const Region& holding)
{
    const Address* const hints = current.hints.data();
    const Address* const after = std::upper_bound(hints, hints + current.hintCount, a);
    Address first = *(after - 1) & ~(current.pageSize - 1);  // 0 is a hint: there is one at or below
    for (Address q = first;;) {
        Region r{};
        if (!regionAt(q, r))
            return holding.first;
        if (r.access != MapAccess::UNREADABLE)
            first = r.last + 1;
        if (r.last >= a)
            return first;
        q = r.last + 1;
    }
}

bool rangeAtCurrent(const void*, Address a, int direction, MapRange& range)
{
    if (a > current.highest) {
        range = {current.highest + 1, TOP, MapAccess::UNREADABLE};
        return true;
    }
    Region r{};
    if (!regionAt(a, r))
        return false;
    range = {r.first, r.last, r.access};
    if (direction < 0 && r.access == MapAccess::UNREADABLE)
        range.first = unreadableFrom(a, r);
    return true;
}

Address anyGrowth(const void*)
{
    return TOP;
}

Address allocationOf(const void* p)
{
    MEMORY_BASIC_INFORMATION info{};
    return VirtualQuery(p, &info, sizeof info) == 0 ? 0 : reinterpret_cast<Address>(info.AllocationBase);
}

}  // namespace

bool prepareMemoryMap()
{
    if (current.prepared)
        return true;
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    current.pageSize = system.dwPageSize;
    current.highest = reinterpret_cast<Address>(system.lpMaximumApplicationAddress);
    const char here = 0;
    std::size_t n = 0;
    current.hints[n++] = 0;
    current.hints[n++] = SHARED_USER_DATA;
    current.hints[n++] = reinterpret_cast<Address>(GetProcessHeap());
    current.hints[n++] = allocationOf(&here);
    HMODULE modules[MODULES];
    DWORD size = 0;
    if (K32EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &size)) {
        for (std::size_t i = 0; i < std::min<std::size_t>(size / sizeof(HMODULE), MODULES); ++i) {
            MODULEINFO module{};
            if (!K32GetModuleInformation(GetCurrentProcess(), modules[i], &module, sizeof module))
                continue;
            current.hints[n++] = reinterpret_cast<Address>(module.lpBaseOfDll);
            current.hints[n++] = reinterpret_cast<Address>(module.lpBaseOfDll) + module.SizeOfImage;
        }
    }
    current.hintCount = n;
    std::sort(current.hints.begin(), current.hints.begin() + static_cast<std::ptrdiff_t>(n));
    current.prepared = true;
    return true;
}

bool openMapLookup(MapLookup& lookup, MapSource first)
{
    if (first == MapSource::NONE || !prepareMemoryMap())
        return false;
    current.regionCount = 0;
    current.nextRegion = 0;
    lookup = {rangeAtCurrent, &current, current.pageSize, anyGrowth};
    return true;
}

void closeMapLookup(MapLookup&) {}

bool readsElsewhere(Address address)
{
    return readByteGuarded(address).has_value();
}
