// The scan over layouts of real memory this test builds, judged by the literal
// walk: one-page islands of every kind of protection, a file mapped past its
// end, a walk through the top of the address space, hundreds of mappings.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "scan_support.h"
#include "support/prompt_texts.h"

namespace {

// The scan from `start` must land where the literal walk does, within `end`,
// whichever map it starts from: the kernel's answers, the listing, or none.
void expectLiteralAnswer(Address start, int direction, Address end)
{
    const std::optional<Address> expected = literalWalk(start, direction, candidatesTo(start, end, direction));
    ASSERT_TRUE(expected) << std::hex << "from " << start;
    EXPECT_EQ(scan(start, direction), *expected) << std::hex << "from " << start << (direction > 0 ? " up" : " down");
    for (const MapSource source : {MapSource::MAPS_FILE, MapSource::NONE})
        EXPECT_EQ(scanWith(start, direction, source), expected)
            << std::hex << "from " << start << (direction > 0 ? " up" : " down") << " map " << static_cast<int>(source);
}

TEST(ScanLayout, MessageIsShownAndFlushedAndAReadableStartStays)
{
    const Address here = reinterpret_cast<Address>(&PAGE);
    CapturedOutput out;
    EXPECT_EQ(scanForReadable(here, +1), here);
    EXPECT_EQ(scanForReadable(here, -1), here);
    EXPECT_EQ(out.text(), SCAN_MESSAGE + SCAN_MESSAGE);
    EXPECT_EQ(out.flushed(), out.text());
}

TEST(ScanLayout, OnePageIslandsOfEveryProtectionInEveryPhase)
{
    // Reads succeed on the read-only and read-write islands, and on this
    // processor perhaps on the write-only and execute-only ones: the literal
    // walk decides.
    Reservation r(64);
    r.protect(5, PROT_READ);
    r.protect(20, PROT_WRITE);
    r.protect(33, PROT_EXEC);
    r.protect(47, PROT_READ | PROT_WRITE);
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 7) {
        for (Address from : std::initializer_list<Address>{0, 6, 19, 21, 34, 46})
            expectLiteralAnswer(r.page(from) + phase, +1, r.page(48) - 1);
        for (Address from : std::initializer_list<Address>{63, 47, 34, 21, 19, 6})
            expectLiteralAnswer(r.page(from) + PAGE - 1 - phase, -1, r.page(5));
    }
}

TEST(ScanLayout, FileMappedPastItsEndIsPassedPageByPage)
{
    // Twelve pages of a file one page and 100 bytes long: two pages read, the
    // other ten raise SIGBUS although the map calls them readable.
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(::ftruncate(::fileno(file), static_cast<off_t>(PAGE + 100)), 0);
    Reservation r(32);
    r.protect(1, PROT_READ);
    r.protect(24, PROT_READ);
    ASSERT_NE(::mmap(r.pointer(4), 12 * PAGE, PROT_READ, MAP_SHARED | MAP_FIXED, ::fileno(file), 0), MAP_FAILED);
    std::fclose(file);
    ASSERT_FALSE(readByteGuarded(r.page(6)));
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 5) {
        for (Address from : std::initializer_list<Address>{6, 10, 15})
            expectLiteralAnswer(r.page(from) + phase, +1, r.page(25) - 1);
        for (Address from : std::initializer_list<Address>{30, 15, 8})
            expectLiteralAnswer(r.page(from) + PAGE - 1 - phase, -1, r.page(1));
        expectLiteralAnswer(r.page(5) + PAGE - 1 - phase, -1, r.page(5));
    }
}

TEST(ScanLayout, UpwardWalkWrapsThroughTheTopToTheLowestMapping)
{
    // A page just above the lowest address a mapping may have, with nothing
    // below it: a walk up from near the top wraps through 0 and lands in it.
    const Address low = 0x10000;
    void* at = ::mmap(reinterpret_cast<void*>(low), PAGE, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE,
                      -1, 0);
    if (at == MAP_FAILED)
        GTEST_SKIP() << "cannot map a page at " << std::hex << low;
    MemoryMap map{};
    ASSERT_TRUE(readMemoryMap(map));
    ASSERT_EQ(map.ranges.front().last, low - 1) << "something is mapped below the page";
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 11) {
        expectLiteralAnswer(TOP - 3 * BLOCK_BYTES - phase, +1, low + PAGE - 1);
        expectLiteralAnswer(TOP - phase, +1, low + PAGE - 1);
        expectLiteralAnswer(phase, +1, low + PAGE - 1);
    }
    ::munmap(at, PAGE);
}

TEST(ScanLayout, HundredsOfMappingsAreAllRead)
{
    // Every other page readable with its own protection: 800 mappings, more
    // than the room the map reader starts with.
    Reservation r(1600);
    for (Address n = 1; n < 1600; n += 2)
        r.protect(n, n % 4 == 1 ? PROT_READ : PROT_READ | PROT_WRITE);
    r.protect(1001, PROT_NONE, 6);  // pages 1001..1006: three islands taken away
    MemoryMap map{};
    ASSERT_TRUE(readMemoryMap(map));
    EXPECT_GT(map.ranges.size(), 800u);
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 17) {
        expectLiteralAnswer(r.page(1000) + phase, +1, r.page(1008) - 1);
        expectLiteralAnswer(r.page(1006) + PAGE - 1 - phase, -1, r.page(999));
    }
}

TEST(ScanLayout, MapCoversTheWholeSpaceAndNamesOurOwnRanges)
{
    Reservation r(16);
    r.protect(3, PROT_READ);
    // The kernel's answers and its listing say the same, once nothing else
    // (an allocator under a sanitizer) changes the map between the two.
    MemoryMap listed{};
    MemoryMap map{};
    const auto same = [&] {
        return std::equal(map.ranges.begin(), map.ranges.end(), listed.ranges.begin(), listed.ranges.end(),
                          [](const MapRange& x, const MapRange& y) { return x.first == y.first && x.access == y.access; });
    };
    for (int tries = 0; tries < 3 && (map.ranges.empty() || !same()); ++tries) {
        ASSERT_TRUE(readMemoryMap(listed, MapSource::MAPS_FILE));
        ASSERT_TRUE(readMemoryMap(map));
    }
    EXPECT_TRUE(same());
    EXPECT_FALSE(readMemoryMap(listed, MapSource::NONE));
    ASSERT_FALSE(map.ranges.empty());
    EXPECT_EQ(map.pageSize, PAGE);
    EXPECT_EQ(map.ranges.front().first, 0u);
    EXPECT_EQ(map.ranges.back().last, TOP);
    for (std::size_t i = 1; i < map.ranges.size(); ++i)
        EXPECT_EQ(map.ranges[i].first, map.ranges[i - 1].last + 1);
    const auto accessAt = [&map](Address a) {
        for (const MapRange& range : map.ranges)
            if (a >= range.first && a <= range.last)
                return range.access;
        return MapAccess::GROWABLE;
    };
    EXPECT_EQ(accessAt(r.page(2)), MapAccess::UNREADABLE);
    EXPECT_EQ(accessAt(r.page(3)), MapAccess::READABLE);
    EXPECT_EQ(accessAt(r.page(4) - 1), MapAccess::READABLE);
    EXPECT_EQ(accessAt(r.page(4)), MapAccess::UNREADABLE);
}

TEST(ScanLayout, EachScanSeesTheMapAsItIsThenInAForkedChildToo)
{
    // What one scan learnt of the map does not outlive it, nor does the
    // parent's map stand for a child's.
    Reservation r(16);
    r.protect(12, PROT_READ);
    const Address start = r.page(2) + 100;
    expectLiteralAnswer(start, +1, r.page(13) - 1);
    r.protect(6, PROT_READ);
    expectLiteralAnswer(start, +1, r.page(13) - 1);
    r.protect(6, PROT_NONE);
    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        r.protect(8, PROT_READ);
        const std::optional<Address> expected = literalWalk(start, +1, candidatesTo(start, r.page(13) - 1, +1));
        std::_Exit(expected && scan(start, +1) == *expected && *expected < r.page(9) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST(ScanLayout, BlockByBlockWalkFindsWithinItsBoundAndGivesUpBeyond)
{
    Reservation r(48);
    r.protect(40, PROT_READ);
    for (Address phase = 0; phase < BLOCK_BYTES; phase += 23) {
        const Address start = r.page(2) + phase;
        const std::uint64_t needed = candidatesTo(start, r.page(41) - 1, +1);
        const std::optional<Address> expected = literalWalk(start, +1, needed);
        ASSERT_TRUE(expected);
        EXPECT_EQ(walkBlockByBlock(start, +1, needed), *expected);
        EXPECT_EQ(walkBlockByBlock(start, +1, 100), start);
    }
}

#if defined(__aarch64__)
// The processor ignores an address's top byte, so each of the 256 windows it
// selects reads as the untagged one, and the scan from a tagged start must
// walk that window's copy of the map.
TEST(ScanTagged, EveryTopByteWindowIsWalkedAsTheUntaggedOne)
{
    Reservation r(64);
    r.protect(5, PROT_READ);
    r.protect(20, PROT_READ | PROT_WRITE);
    r.protect(47, PROT_READ);
    for (const Address tag : {Address{0x01}, Address{0x5a}, Address{0xff}}) {
        const Address window = tag << 56;
        for (Address phase = 0; phase < BLOCK_BYTES; phase += 41) {
            for (Address from : std::initializer_list<Address>{0, 5, 6, 21})
                expectLiteralAnswer(window + r.page(from) + phase, +1, window + r.page(48) - 1);
            for (Address from : std::initializer_list<Address>{63, 47, 21, 19})
                expectLiteralAnswer(window + r.page(from) + PAGE - 1 - phase, -1, window + r.page(5));
        }
    }
}
#endif

}  // namespace
