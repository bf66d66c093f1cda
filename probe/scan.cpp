#include "probe/scan.h"

#include <algorithm>
#include <iostream>

#include "console/console.h"
#include "probe/guard.h"

namespace {

constexpr Address STEP = BLOCK_BYTES;

// With no map, the walk covers 240 MiB before giving up: seconds of faults.
constexpr std::uint64_t BLOCK_BY_BLOCK_LIMIT = std::uint64_t{1} << 20;

// How many of the candidates p, p ± STEP, ... lie in [first, last], which holds p.
Address candidatesIn(Address p, Address first, Address last, int direction)
{
    return (direction > 0 ? last - p : p - first) / STEP + 1;
}

// `count` candidates further on; wraps round the address space as the walk does.
Address advance(Address p, Address count, int direction)
{
    const Address distance = count * STEP;
    return direction > 0 ? p + distance : p - distance;
}

const MapRange& rangeAt(const MemoryMap& map, Address p)
{
    const auto after = std::upper_bound(map.ranges.begin(), map.ranges.end(), p,
                                        [](Address a, const MapRange& r) { return a < r.first; });
    return *(after - 1);
}

// The walk through a range the map calls readable: the first candidate of each
// page is probed, and a fault passes over the rest of its page.
bool walkReadable(const MemoryMap& map, const MapRange& r, Address& p, int direction, const Readable& readable)
{
    const Address pageMask = map.pageSize - 1;
    for (Address left = candidatesIn(p, r.first, r.last, direction); left > 0;) {
        if (readable(p))
            return true;
        const Address pageFirst = std::max(p & ~pageMask, r.first);
        const Address pageLast = std::min(p | pageMask, r.last);
        const Address inPage = candidatesIn(p, pageFirst, pageLast, direction);
        p = advance(p, inPage, direction);
        left -= inPage;
    }
    return false;
}

// The walk through the growth range below a stack. Reads there succeed from
// some address up to the stack and fault below it, so walking down the first
// fault ends the range, and walking up the lowest readable candidate is found
// by halving. Every success grows the stack only as far as the literal walk
// would end up growing it: down to the answer.
bool walkGrowable(const MapRange& r, Address& p, int direction, const Readable& readable)
{
    const Address count = candidatesIn(p, r.first, r.last, direction);
    if (direction < 0) {
        if (readable(p))
            return true;
    } else {
        Address low = 0;
        Address high = count;  // the lowest readable candidate's index lies in [low, high]
        while (low < high) {
            const Address mid = low + (high - low) / 2;
            if (readable(advance(p, mid, direction)))
                high = mid;
            else
                low = mid + 1;
        }
        if (low < count) {
            p = advance(p, low, direction);
            return true;
        }
    }
    p = advance(p, count, direction);
    return false;
}

// The walk through guard pages: a fault says nothing about the next read, so
// every candidate is probed, as the literal walk does. A page's second read
// succeeds, so this ends within the first page or two it touches.
bool walkEach(const MapRange& r, Address& p, int direction, const Readable& readable)
{
    for (Address left = candidatesIn(p, r.first, r.last, direction); left > 0; --left) {
        if (readable(p))
            return true;
        p = advance(p, 1, direction);
    }
    return false;
}

bool readsWithoutFault(Address address)
{
    return readByteGuarded(address).has_value();
}

}  // namespace

Address walkOverMap(const MemoryMap& map, Address start, int direction, const Readable& readable)
{
    // One partial lap and one whole lap probe every page at least once (a page
    // is longer than the step), so a walk that goes on longer finds nothing.
    const std::size_t maxRanges = 3 * map.ranges.size() + 3;
    Address p = start;
    for (std::size_t visited = 0; visited < maxRanges; ++visited) {
        const MapRange& r = rangeAt(map, p);
        switch (r.access) {
        case MapAccess::UNREADABLE:
            p = advance(p, candidatesIn(p, r.first, r.last, direction), direction);
            break;
        case MapAccess::READABLE:
            if (walkReadable(map, r, p, direction, readable))
                return p;
            break;
        case MapAccess::GROWABLE:
            if (walkGrowable(r, p, direction, readable))
                return p;
            break;
        case MapAccess::GUARDED:
            if (walkEach(r, p, direction, readable))
                return p;
            break;
        }
    }
    return start;
}

Address walkBlockByBlock(Address start, int direction, std::uint64_t maxCandidates)
{
    Address p = start;
    for (std::uint64_t i = 0; i < maxCandidates; ++i, p = advance(p, 1, direction)) {
        if (readsWithoutFault(p))
            return p;
    }
    return start;
}

Address scanForReadable(Address start, int direction)
{
    std::cout << "\nScanning for accessible memory, this may take... forever....." << std::flush;
    MemoryMap map{};
    if (!readMemoryMap(map)) {
        const Address found = walkBlockByBlock(start, direction, BLOCK_BY_BLOCK_LIMIT);
        // The walk returns `start` both when it reads and when the walk gave up.
        if (found == start && !readsWithoutFault(start)) {
            std::cout << "\nNo readable block found; the view stays where it was.\n";
            pauseForKey();
        }
        return found;
    }
    return walkOverMap(map, start, direction, readsWithoutFault);
}
