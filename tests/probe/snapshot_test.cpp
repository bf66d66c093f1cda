// The block snapshot over every kind of memory a user can page into: what
// reads is copied, what faults is the fill, and a fault that holds for its
// page ends the reading of that page, not of the block.

#include "probe/snapshot.h"

#include <gtest/gtest.h>

#include <cstddef>

#include "probe/guard.h"
#include "support/pages.h"

namespace {

TEST(Snapshot, UnmappedBlockIsAllFill)
{
    const Pages none(1, PageAccess::none);
    Snapshot want;
    for (auto& row : want)
        row.fill(UNREADABLE_FILL);
    EXPECT_EQ(snapshotBlock(none.address(8)), want);
    EXPECT_EQ(snapshotBlock(0), want);
}

TEST(Snapshot, BlockStraddlingTheTopOfTheSpaceWrapsToZero)
{
    // First row from the top of the space, the rest from address 0 upward;
    // neither end can be mapped by a process, so all of it reads as the fill.
    Snapshot want;
    for (auto& row : want)
        row.fill(UNREADABLE_FILL);
    EXPECT_EQ(snapshotBlock(TOP - 15), want);
    EXPECT_EQ(snapshotBlock(TOP), want);
}

TEST(Snapshot, BlockRunningIntoAnUnreadablePageStopsAtTheBoundary)
{
    Pages pages(2);
    for (std::size_t i = 0; i < pageBytes(); ++i)
        pages.at(i)[0] = static_cast<unsigned char>(0x80 + i % 61);  // never 0x3f
    pages.protect(1, PageAccess::none);
    const std::size_t readable = 100;
    const Snapshot chr = snapshotBlock(pages.address(pageBytes() - readable));
    for (std::size_t i = 0; i < BLOCK_BYTES; ++i) {
        const unsigned char want = i < readable ? pages.at(pageBytes() - readable + i)[0] : UNREADABLE_FILL;
        EXPECT_EQ(chr[i / BLOCK_COLS][i % BLOCK_COLS], want) << "byte " << i;
    }
}

TEST(Snapshot, UnreadablePageIsFilledUpToTheReadablePageAfterIt)
{
    Pages pages(3);
    for (std::size_t i = 0; i < pageBytes(); ++i)
        pages.at(pageBytes() + i)[0] = static_cast<unsigned char>(0x80 + i % 61);  // never 0x3f
    pages.protect(0, PageAccess::none);
    pages.protect(2, PageAccess::none);
    for (const std::size_t unreadable : {std::size_t{1}, std::size_t{100}, std::size_t{239}}) {
        const Snapshot chr = snapshotBlock(pages.address(pageBytes() - unreadable));
        for (std::size_t i = 0; i < BLOCK_BYTES; ++i) {
            const unsigned char want = i < unreadable ? UNREADABLE_FILL : pages.at(pageBytes() - unreadable + i)[0];
            ASSERT_EQ(chr[i / BLOCK_COLS][i % BLOCK_COLS], want) << unreadable << " unreadable, byte " << i;
        }
    }
    // Readable, then a whole unreadable page, on both sides of a readable page.
    const Snapshot chr = snapshotBlock(pages.address(2 * pageBytes() - 120));
    for (std::size_t i = 0; i < BLOCK_BYTES; ++i)
        ASSERT_EQ(chr[i / BLOCK_COLS][i % BLOCK_COLS], i < 120 ? pages.at(2 * pageBytes() - 120 + i)[0] : UNREADABLE_FILL);
}

}  // namespace
