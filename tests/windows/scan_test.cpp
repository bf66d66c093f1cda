// The scan on Windows over layouts built in this process with VirtualAlloc:
// what VirtualQuery says, and the map-guided scan against the literal walk,
// guard pages included. A layout is built twice, since the walks lift guards.
// Then the scan against the literal walk over this process's whole map.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <optional>
#include <sstream>
#include <vector>

#include "support/pages.h"
#include "probe/guard.h"
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

// This process's regions as VirtualQuery gives them: where it has memory
// (committed or reserved) and where it has none, and its guard pages.
struct WholeMap {
    struct Gap {
        Address first;
        Address last;
    };
    std::vector<Gap> none;  // free, and above the highest address a process can own
    std::vector<Address> guardPages;
    std::vector<std::pair<Address, Address>> regions;
};

WholeMap wholeMap()
{
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const auto highest = reinterpret_cast<Address>(system.lpMaximumApplicationAddress);
    WholeMap map;
    for (Address a = 0; a <= highest;) {
        MEMORY_BASIC_INFORMATION info{};
        if (VirtualQuery(reinterpret_cast<const void*>(a), &info, sizeof info) == 0)
            throw std::runtime_error("VirtualQuery failed");
        const Address last = reinterpret_cast<Address>(info.BaseAddress) + info.RegionSize - 1;
        map.regions.emplace_back(a, last);
        if (info.State == MEM_FREE && !map.none.empty() && map.none.back().last + 1 == a)
            map.none.back().last = last;
        else if (info.State == MEM_FREE)
            map.none.push_back({a, last});
        if (info.State == MEM_COMMIT && (info.Protect & PAGE_GUARD) != 0)
            for (Address page = a; page <= last && page >= a; page += PAGE)
                map.guardPages.push_back(page);
        a = last + 1;
        if (a == 0)
            break;
    }
    map.none.push_back({highest + 1, TOP});
    return map;
}

// The literal walk over the memory the process has: one guarded read per
// candidate. Where VirtualQuery says there is none, a read faults on Windows;
// under Wine it may find Wine's own memory, which no Windows process has (its
// loader, its heap and libraries), so those candidates are passed over unread.
std::optional<Address> literalWalkOver(const WholeMap& map, Address start, int direction)
{
    const std::uint64_t lap = std::uint64_t{TOP / BLOCK_BYTES} + 1;
    Address p = start;
    for (std::uint64_t passed = 0; passed < lap;) {
        const auto gap = std::find_if(map.none.begin(), map.none.end(),
                                      [p](const WholeMap::Gap& g) { return p >= g.first && p <= g.last; });
        if (gap == map.none.end()) {
            if (readByteGuarded(p))
                return p;
            p = direction > 0 ? p + BLOCK_BYTES : p - BLOCK_BYTES;
            ++passed;
            continue;
        }
        const Address count = (direction > 0 ? gap->last - p : p - gap->first) / BLOCK_BYTES + 1;
        p = direction > 0 ? p + count * BLOCK_BYTES : p - count * BLOCK_BYTES;
        passed += count;
    }
    return std::nullopt;
}

// The guard pages the walks have lifted, and their guards given back: each
// walk starts from the guards the process had.
std::vector<Address> liftedAndRestored(const WholeMap& map)
{
    std::vector<Address> lifted;
    for (const Address page : map.guardPages) {
        MEMORY_BASIC_INFORMATION info{};
        VirtualQuery(reinterpret_cast<const void*>(page), &info, sizeof info);
        DWORD old = 0;
        if ((info.Protect & PAGE_GUARD) == 0) {
            lifted.push_back(page);
            VirtualProtect(reinterpret_cast<void*>(page), PAGE, info.Protect | PAGE_GUARD, &old);
        }
    }
    return lifted;
}

bool underWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// From the first and the last byte of every region, and a phase into each,
// either way; and round the top both ways. The walk of the one that reaches a
// guard page first lifts it, and the other then reads there: compared from
// the same guards, each walk finds what the other does.
TEST(ScanWin32, GivesTheLiteralWalksAnswerOverTheWholeMap)
{
    // Windows itself grows the running thread's stack through its guard page,
    // which cannot be undone; Wine lifts that guard as it does any other.
    if (!underWine())
        GTEST_SKIP() << "the running thread's stack guard cannot be given back";
    const WholeMap map = wholeMap();
    std::vector<std::pair<Address, int>> starts = {{TOP - 100, +1}, {TOP, -1}, {0, -1}, {0x100, -1}, {0, +1}};
    for (const auto& [first, last] : map.regions) {
        for (const Address phase : {Address{0}, Address{131}}) {
            for (const int direction : {+1, -1}) {
                starts.emplace_back(first + std::min(phase, last - first), direction);
                starts.emplace_back(last - std::min(phase, last - first), direction);
            }
        }
    }
    int compared = 0;
    for (const auto& [start, direction] : starts) {
        liftedAndRestored(map);
        const std::optional<Address> scanned = scanWith(start, direction, MapSource::QUERY);
        const std::vector<Address> scanLifted = liftedAndRestored(map);
        const std::optional<Address> literal = literalWalkOver(map, start, direction);
        const std::vector<Address> literalLifted = liftedAndRestored(map);
        EXPECT_EQ(scanned, literal) << std::hex << "from " << start << (direction > 0 ? " up" : " down");
        EXPECT_EQ(scanLifted, literalLifted) << std::hex << "from " << start << (direction > 0 ? " up" : " down");
        ++compared;
    }
    std::cout << compared << " starts compared over " << map.regions.size() << " regions\n";
}

}  // namespace
