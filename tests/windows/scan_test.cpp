// The scan on Windows over layouts built in this process with VirtualAlloc:
// what VirtualQuery says, and the map-guided scan against the literal walk,
// guard pages included. A layout is built twice, since the walks lift guards.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <vector>

#include "support/pages.h"
#include "probe/memory_map.h"
#include "probe/scan.h"
#include "support/constants.h"
#include "support/prompt_texts.h"

namespace {

constexpr std::size_t LAYOUT_PAGES = 48;

// Reserved address space with some pages committed, each with one protection.
class Layout {
public:
    struct Committed {
        std::size_t page;
        DWORD protection;
    };

    explicit Layout(const std::vector<Committed>& pages)
        : base_(static_cast<unsigned char*>(VirtualAlloc(nullptr, LAYOUT_PAGES * PAGE, MEM_RESERVE, PAGE_NOACCESS)))
    {
        if (base_ == nullptr)
            throw std::runtime_error("VirtualAlloc failed");
        for (const Committed& c : pages)
            if (VirtualAlloc(base_ + c.page * PAGE, PAGE, MEM_COMMIT, c.protection) == nullptr)
                throw std::runtime_error("commit failed");
    }
    ~Layout() { VirtualFree(base_, 0, MEM_RELEASE); }
    Layout(const Layout&) = delete;
    Layout& operator=(const Layout&) = delete;

    Address at(std::size_t page, std::size_t offset = 0) const { return reinterpret_cast<Address>(base_ + page * PAGE + offset); }
    Address offsetOf(Address address) const { return address - at(0); }
    bool guarded(std::size_t page) const
    {
        MEMORY_BASIC_INFORMATION info{};
        VirtualQuery(base_ + page * PAGE, &info, sizeof info);
        return (info.Protect & PAGE_GUARD) != 0;
    }

private:
    unsigned char* base_;
};

const MapRange& rangeAt(const MemoryMap& map, Address a)
{
    for (const MapRange& r : map.ranges)
        if (a >= r.first && a <= r.last)
            return r;
    throw std::runtime_error("address not covered");
}

TEST(MemoryMapWin32, CoversTheAddressSpaceAndTellsPagesApart)
{
    const Layout layout({{2, PAGE_READWRITE}, {3, PAGE_NOACCESS}, {4, PAGE_READONLY | PAGE_GUARD},
                         {5, PAGE_EXECUTE_READ}, {6, PAGE_READONLY}});
    MemoryMap map{};
    ASSERT_TRUE(readMemoryMap(map));
    EXPECT_EQ(map.pageSize, PAGE);
    ASSERT_FALSE(map.ranges.empty());
    EXPECT_EQ(map.ranges.front().first, 0u);
    EXPECT_EQ(map.ranges.back().last, TOP);
    for (std::size_t i = 1; i < map.ranges.size(); ++i)
        ASSERT_EQ(map.ranges[i].first, map.ranges[i - 1].last + 1) << "range " << i;

    EXPECT_EQ(rangeAt(map, 0).access, MapAccess::UNREADABLE);
    EXPECT_EQ(rangeAt(map, TOP).access, MapAccess::UNREADABLE);
#if UINTPTR_MAX > 0xffff'ffffU
    EXPECT_EQ(rangeAt(map, 0x8000'0000'0000).access, MapAccess::UNREADABLE);
#endif
    EXPECT_EQ(rangeAt(map, layout.at(0)).access, MapAccess::UNREADABLE) << "reserved only";
    EXPECT_EQ(rangeAt(map, layout.at(2, 100)).access, MapAccess::READABLE);
    EXPECT_EQ(rangeAt(map, layout.at(3, 100)).access, MapAccess::UNREADABLE);
    EXPECT_EQ(rangeAt(map, layout.at(4, 100)).access, MapAccess::GUARDED);
    EXPECT_EQ(rangeAt(map, layout.at(5, 100)).access, MapAccess::READABLE);
    EXPECT_EQ(rangeAt(map, layout.at(6, 100)).access, MapAccess::READABLE);
    EXPECT_EQ(rangeAt(map, reinterpret_cast<Address>(&map)).access, MapAccess::READABLE) << "the stack";
}

// Runs the scan on one copy of the layout and the literal walk on another, and
// checks that both end at the same place and leave the same guards behind.
void expectSameWalk(const std::vector<Layout::Committed>& pages, std::size_t startPage, std::size_t offset,
                    int direction)
{
    const Layout scanned(pages);
    const Layout walked(pages);
    std::ostringstream message;
    std::streambuf* const savedCout = std::cout.rdbuf(message.rdbuf());
    const Address found = scanForReadable(scanned.at(startPage, offset), direction);
    std::cout.rdbuf(savedCout);
    const Address literal = walkBlockByBlock(walked.at(startPage, offset), direction, LAYOUT_PAGES * PAGE / BLOCK_BYTES);
    SCOPED_TRACE(testing::Message() << "from page " << startPage << " + " << offset << ", direction " << direction);
    ASSERT_NE(literal, walked.at(startPage, offset)) << "the literal walk found nothing: the layout is wrong";
    EXPECT_EQ(scanned.offsetOf(found), walked.offsetOf(literal));
    for (const Layout::Committed& c : pages)
        EXPECT_EQ(scanned.guarded(c.page), walked.guarded(c.page)) << "page " << c.page;
}

TEST(ScanWin32, PassesReservedAndNoAccessPagesBothWays)
{
    const std::vector<Layout::Committed> pages{{1, PAGE_READONLY}, {10, PAGE_NOACCESS}, {11, PAGE_NOACCESS},
                                               {20, PAGE_READWRITE}, {40, PAGE_EXECUTE_READ}};
    for (const std::size_t offset : {0u, 7u, 239u, 4000u}) {
        expectSameWalk(pages, 3, offset, +1);
        expectSameWalk(pages, 15, offset, -1);
        expectSameWalk(pages, 30, offset, +1);
        expectSameWalk(pages, 44, offset, -1);
    }
}

TEST(ScanWin32, GuardPagesGiveTheWalksAnswerAndLoseTheSameGuards)
{
    const std::vector<Layout::Committed> pages{{1, PAGE_READONLY}, {10, PAGE_READWRITE | PAGE_GUARD},
                                               {11, PAGE_READWRITE | PAGE_GUARD}, {30, PAGE_READONLY}};
    for (const std::size_t offset : {0u, 100u, 239u}) {
        expectSameWalk(pages, 3, offset, +1);
        expectSameWalk(pages, 20, offset, -1);
    }
    for (const std::size_t offset : {0u, 5u, 4090u}) {
        expectSameWalk(pages, 10, offset, +1);
        expectSameWalk(pages, 11, offset, -1);
    }
}

TEST(ScanWin32, ReadableStartStaysAndShowsTheMessage)
{
    const Layout layout({{5, PAGE_READONLY}});
    std::ostringstream message;
    std::streambuf* const savedCout = std::cout.rdbuf(message.rdbuf());
    const Address found = scanForReadable(layout.at(5, 77), -1);
    std::cout.rdbuf(savedCout);
    EXPECT_EQ(found, layout.at(5, 77));
    EXPECT_EQ(message.str(), SCAN_MESSAGE);
}

}  // namespace
