#include "probe/map_ranges.h"

namespace {

// Questions in a row that follow the mappings up, one by one, before the
// search halves instead: a few go far among a handful of mappings, and halving
// bounds the search among thousands.
constexpr unsigned WALK_UP = 4;

// The highest mapping wholly below `a`, where `a` lies in a gap under `above`
// (or above every mapping). The kernel answers only with the mapping at an
// address or the next one up, so the search goes up: from the highest hint
// that has a mapping between it and `a` (or, with none, from down from `a` in
// growing steps), then from mapping to mapping, then halving between the
// highest one found and the lowest address known to have none up to `a`.
Found belowByQueries(const Mappings& ms, Address a, Found aboveFound, const MapEntry& above, MapEntry& out)
{
    const auto isAbove = [&](Found f, const MapEntry& m) {
        return f == aboveFound && (f == Found::NONE || m.first == above.first);
    };
    Address hi = a;  // no mapping ends in [hi, a]
    MapEntry m{};    // a mapping below `a`, once one is found
    bool found = false;
    for (std::size_t i = ms.hintCount; i > 0 && !found; --i) {
        const Address hint = ms.hints[i - 1];
        if (hint >= hi)
            continue;
        const Found f = ms.from(ms.context, hint, m);
        if (f == Found::FAILED)
            return f;
        if (isAbove(f, m))
            hi = hint;
        else
            found = true;
    }
    for (Address step = ms.pageSize; !found;) {
        const Address q = step <= hi ? hi - step : 0;
        const Found f = ms.from(ms.context, q, m);
        if (f == Found::FAILED)
            return f;
        if (!isAbove(f, m)) {
            found = true;
        } else {
            if (q == 0)
                return Found::NONE;
            hi = q;
            step = step > TOP / 8 ? TOP : 8 * step;
        }
    }
    // Just above a mapping found, the next question says whether it is the
    // highest; after a few, halving takes over, and each mapping it finds is
    // asked about once.
    for (unsigned walked = 0;;) {
        const Address lo = m.last + 1;
        if (lo >= hi)
            break;
        const bool halving = walked >= WALK_UP;
        const Address at = halving ? lo + (hi - lo) / 2 : lo;
        MapEntry n{};
        const Found f = ms.from(ms.context, at, n);
        if (f == Found::FAILED)
            return f;
        if (!isAbove(f, n)) {
            m = n;
            walked = halving ? WALK_UP - 1 : walked + 1;
        } else if (halving) {
            hi = at;
        } else {
            break;
        }
    }
    out = m;
    return Found::YES;
}

// The lowest page a mapping that grows down can reach: its size limit counts
// from its end.
Address growthLimit(const MapEntry& m, Address stackLimit, Address pageSize)
{
    if (stackLimit > m.last)
        return 0;
    const Address lowest = m.last - stackLimit + 1;
    return lowest + ((pageSize - lowest % pageSize) % pageSize);
}

}  // namespace

bool rangeFromMappings(const Mappings& ms, Address a, int direction, MapRange& range)
{
    const Address window = a & ms.ignoredBits;
    const Address inWindow = ~ms.ignoredBits;
    const Address x = a & inWindow;
    MapEntry above{};
    const Found aboveFound = ms.from(ms.context, x, above);
    if (aboveFound == Found::FAILED)
        return false;
    if (aboveFound == Found::YES && above.first <= x) {
        range = {window | above.first, window | above.last,
                 above.accessible ? MapAccess::READABLE : MapAccess::UNREADABLE};
        return true;
    }
    const Address gapLast = aboveFound == Found::YES ? above.first - 1 : inWindow;
    GrowsDown grows = GrowsDown::NO;
    if (aboveFound == Found::YES && above.accessible)
        grows = ms.growsDown != nullptr ? ms.growsDown(ms.context, above) : GrowsDown::PERHAPS;
    const Address lowest =
        grows != GrowsDown::NO ? growthLimit(above, ms.stackLimit(ms.context), ms.pageSize) : above.first;
    Address gapFirst = x;  // going up, the gap's lower part does not matter
    if (direction < 0) {
        // Within a stack's reach, one question tells whether the gap ends
        // below the reach; finding where it does takes many.
        MapEntry below{};
        bool known = false;
        if (aboveFound == Found::YES && x >= lowest && lowest < above.first) {
            const Found f = ms.from(ms.context, lowest, below);
            if (f == Found::FAILED)
                return false;
            known = f == Found::YES && below.first == above.first;
            gapFirst = lowest;
        }
        if (!known) {
            const Found f = ms.below != nullptr ? ms.below(ms.context, x, below)
                                                : belowByQueries(ms, x, aboveFound, above, below);
            if (f == Found::FAILED)
                return false;
            gapFirst = f == Found::YES ? below.last + 1 : 0;
        }
    }
    const Address growFrom = lowest > gapFirst ? lowest : gapFirst;
    if (aboveFound == Found::NONE || growFrom > gapLast)
        range = {gapFirst, gapLast, MapAccess::UNREADABLE};
    else if (x >= growFrom)
        range = {growFrom, gapLast, MapAccess::GROWABLE, grows == GrowsDown::YES};
    else
        range = {gapFirst, growFrom - 1, MapAccess::UNREADABLE};
    range.first |= window;
    range.last |= window;
    return true;
}
