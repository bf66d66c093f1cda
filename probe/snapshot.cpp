#include "probe/snapshot.h"

#include <algorithm>

#include "probe/guard.h"

Snapshot snapshotBlock(Address blockStart)
{
    Snapshot chr{};
    const Address page = pageBytes();
    // Increasing address order, each byte under its own guard: a fault costs
    // only the bytes it is known to reach. One that holds for its whole page
    // fills the rest of that page without touching it. The block wraps past
    // the top of the space, where a page ends too.
    for (unsigned i = 0; i < BLOCK_BYTES;) {
        const Address at = blockStart + i;
        FaultReach reach{};
        const std::optional<unsigned char> byte = readByteGuarded(at, reach);
        unsigned count = 1;
        if (!byte && reach == FaultReach::WHOLE_PAGE)
            count = static_cast<unsigned>(std::min<Address>(page - (at & (page - 1)), BLOCK_BYTES - i));
        for (const unsigned end = i + count; i < end; ++i)
            chr[i / BLOCK_COLS][i % BLOCK_COLS] = byte.value_or(UNREADABLE_FILL);
    }
    return chr;
}
