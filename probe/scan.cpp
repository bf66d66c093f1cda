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

// The walk through a range the map calls readable: the first candidate of each
// page is probed, and a fault passes over the rest of its page.
bool walkReadable(Address pageSize, const MapRange& r, Address& p, int direction, const Readable& readable,
                  std::uint64_t& passed)
{
    const Address pageMask = pageSize - 1;
    for (Address left = candidatesIn(p, r.first, r.last, direction); left > 0;) {
        if (readable(p))
            return true;
        const Address pageFirst = std::max(p & ~pageMask, r.first);
        const Address pageLast = std::min(p | pageMask, r.last);
        const Address inPage = candidatesIn(p, pageFirst, pageLast, direction);
        p = advance(p, inPage, direction);
        left -= inPage;
        passed += inPage;
    }
    return false;
}

// The walk through a gap below a mapping, where a stack may grow. Reads there
// succeed from some address up to the mapping and fault below it, so the
// range's first candidate is the literal walk's own first read: going down it
// is the only one that may read, and going up it reads where the stack's limit
// ends the range, as it most often does, so a range below a known stack tries
// it first. Else, going up, a fault at the top candidate ends the range, and a
// read there leaves the lowest readable candidate to be found by halving.
// Every success grows the stack no further than the literal walk would: down
// to the answer. Growth larger than `growthStep` may fail in one step where
// smaller steps succeed, so there the probes after the first are made
// elsewhere and only the answer is read here.
bool walkGrowable(const MapLookup& lookup, const MapRange& r, Address& p, int direction, const Readable& readable,
                  const Readable& readsElsewhere, std::uint64_t& passed)
{
    const Address count = candidatesIn(p, r.first, r.last, direction);
    const bool firstTried = direction < 0 || r.knownToGrow || count == 1;
    if (firstTried && readable(p))
        return true;
    if (direction > 0 && count > 1) {
        const bool elsewhere = r.last - p >= lookup.growthStep(lookup.context);
        const auto probe = [&](Address a) { return elsewhere ? readsElsewhere(a) : readable(a); };
        if (probe(advance(p, count - 1, direction))) {
            Address low = firstTried ? 1 : 0;
            Address high = count - 1;  // the lowest readable candidate's index lies in [low, high]
            while (low < high) {
                const Address mid = low + (high - low) / 2;
                if (probe(advance(p, mid, direction)))
                    high = mid;
                else
                    low = mid + 1;
            }
            const Address answer = advance(p, low, direction);
            if (!elsewhere || readable(answer)) {
                p = answer;
                return true;
            }
        }
    }
    p = advance(p, count, direction);
    passed += count;
    return false;
}

// The walk through guard pages: a fault says nothing about the next read, so
// every candidate is probed, as the literal walk does. A page's second read
// succeeds, so this ends within the first page or two it touches.
bool walkEach(const MapRange& r, Address& p, int direction, const Readable& readable, std::uint64_t& passed)
{
    for (Address left = candidatesIn(p, r.first, r.last, direction); left > 0; --left) {
        if (readable(p))
            return true;
        p = advance(p, 1, direction);
        ++passed;
    }
    return false;
}

bool readsWithoutFault(Address address)
{
    return readByteGuarded(address).has_value();
}

}  // namespace

std::optional<Address> walkOverMap(const MapLookup& lookup, Address start, int direction, const Readable& readable,
                                   const Readable& readsElsewhere)
{
    // One lap of candidates probes every page at least once (a page is longer
    // than the step), so a walk that goes on for two finds nothing.
    const std::uint64_t lap = std::uint64_t{TOP / STEP} + 1;
    Address p = start;
    for (std::uint64_t passed = 0; passed < 2 * lap;) {
        MapRange r{};
        if (!lookup.rangeAt(lookup.context, p, direction, r) || p < r.first || p > r.last)
            return std::nullopt;
        bool found = false;
        switch (r.access) {
        case MapAccess::UNREADABLE: {
            const Address count = candidatesIn(p, r.first, r.last, direction);
            p = advance(p, count, direction);
            passed += count;
            break;
        }
        case MapAccess::READABLE: found = walkReadable(lookup.pageSize, r, p, direction, readable, passed); break;
        case MapAccess::GROWABLE: found = walkGrowable(lookup, r, p, direction, readable, readsElsewhere, passed); break;
        case MapAccess::GUARDED: found = walkEach(r, p, direction, readable, passed); break;
        }
        if (found)
            return p;
    }
    return start;
}

Address walkOverMap(const MemoryMap& map, Address start, int direction, const Readable& readable)
{
    return walkOverMap(lookupIn(map), start, direction, readable, readable).value_or(start);
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

std::optional<Address> scanWith(Address start, int direction, MapSource first)
{
    MapLookup lookup{};
    if (openMapLookup(lookup, first)) {
        const std::optional<Address> found = walkOverMap(lookup, start, direction, readsWithoutFault, readsElsewhere);
        closeMapLookup(lookup);
        if (found)
            return found;
    }
    const Address found = walkBlockByBlock(start, direction, BLOCK_BY_BLOCK_LIMIT);
    // The walk returns `start` both when it reads and when the walk gave up.
    if (found == start && !readsWithoutFault(start))
        return std::nullopt;
    return found;
}

Address scanForReadable(Address start, int direction)
{
    std::cout << "\nScanning for accessible memory, this may take... forever....." << std::flush;
    const std::optional<Address> found = scanWith(start, direction, MapSource::QUERY);
    if (!found) {
        std::cout << "\nNo readable block found; the view stays where it was.\n";
        pauseForKey();
    }
    return found.value_or(start);
}
