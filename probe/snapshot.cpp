#include "probe/snapshot.h"

#include "probe/guard.h"

Snapshot snapshotBlock(Address blockStart)
{
    Snapshot chr{};
    // Increasing address order, each byte under its own guard: a fault costs
    // only the bytes that fault. The block wraps past the top of the space.
    for (unsigned i = 0; i < BLOCK_BYTES; ++i)
        chr[i / BLOCK_COLS][i % BLOCK_COLS] = readByteGuarded(blockStart + i).value_or(UNREADABLE_FILL);
    return chr;
}
