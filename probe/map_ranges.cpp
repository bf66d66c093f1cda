#include "probe/map_ranges.h"

namespace {

// The highest mapping wholly below `a`, where `a` lies in a gap under `above`
// (or above every mapping). There is no question for it, so: down from `a` in
// growing steps until a lower mapping answers, then halving between the two.
Found belowByQueries(const Mappings& ms, Address a, Found aboveFound, const MapEntry& above, MapEntry& out)
{
    const auto isAbove = [&](Found f, const MapEntry& m) {
        return f == aboveFound && (f == Found::NONE || m.first == above.first);
    };
    Address hi = a;  // from(hi) answers with `above`
    Address step = ms.pageSize;
    MapEntry m{};
    for (;;) {
        const Address q = step <= a ? a - step : 0;
        const Found f = ms.from(ms.context, q, m);
        if (f == Found::FAILED)
            return f;
        if (!isAbove(f, m))
            break;
        if (q == 0)
            return Found::NONE;
        hi = q;
        step = step > TOP / 8 ? TOP : 8 * step;
    }
    // `m` lies below `a`; no mapping ends in [hi, a]. A mapping found by
    // halving may be the highest: the next question asks just above it.
    for (bool atLow = true;;) {
        const Address lo = m.last + 1;
        if (lo >= hi)
            break;
        MapEntry n{};
        const Address at = atLow ? lo : lo + (hi - lo) / 2;
        const Found f = ms.from(ms.context, at, n);
        if (f == Found::FAILED)
            return f;
        if (!isAbove(f, n)) {
            m = n;
            atLow = !atLow;
        } else if (atLow) {
            break;
        } else {
            hi = at;
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
    const Address lowest = aboveFound == Found::YES && above.accessible
                               ? growthLimit(above, ms.stackLimit, ms.pageSize)
                               : above.first;
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
        range = {growFrom, gapLast, MapAccess::GROWABLE};
    else
        range = {gapFirst, growFrom - 1, MapAccess::UNREADABLE};
    range.first |= window;
    range.last |= window;
    return true;
}
