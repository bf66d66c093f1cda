// Insert and Delete as a user meets them: page from the home block past the
// end of its mapping (the heap) into memory nothing can read, then scan either
// way. Where Delete must land is worked out from the running program's own
// /proc/PID/maps.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/e2e_support.h"
#include "support/prompt_texts.h"

namespace {

using namespace xterm;
const Mapping* mappingAt(const std::vector<Mapping>& maps, unsigned long long a)
{
    for (const Mapping& m : maps)
        if (a >= m.start && a < m.end)
            return &m;
    return nullptr;
}

// The first candidate above `from`, 240 bytes apart, that lies in a mapping
// with any access at all: there the walk up must stop.
unsigned long long firstCandidateInAMappingAbove(const std::vector<Mapping>& maps, unsigned long long from)
{
    for (const Mapping& m : maps) {
        if (m.end <= from || m.perms.substr(0, 3) == "---")
            continue;
        return from + (m.start - from + 239) / 240 * 240;
    }
    return 0;
}

// How many of the program's descriptors are open on its own memory map.
int mapDescriptors(pid_t pid)
{
    const std::string own = "/proc/" + std::to_string(pid) + "/maps";
    int count = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        std::error_code error;
        count += std::filesystem::read_symlink(fd.path(), error) == own ? 1 : 0;
    }
    return count;
}

// Count of scan messages in everything the program wrote so far.
int messagesIn(const PtySession& s)
{
    return static_cast<int>(countOf(s.output(), SCAN_MESSAGE));
}

TEST(ScanKeys, DeleteLandsWhereTheMapSaysAndInsertGoesBackToHomesMapping)
{
    PtySession s(SessionOptions{});
    ASSERT_TRUE(s.nextFrame());
    // What the scan keeps open is there before the first key, and stays one.
    EXPECT_EQ(mapDescriptors(s.pid()), 1);
    const unsigned long long home = blockStartShown(s);
    const std::vector<Mapping> before = mappingsOf(s.pid());
    const Mapping* heap = mappingAt(before, home);  // under a sanitizer, its allocator's
    ASSERT_NE(heap, nullptr);
    ASSERT_LT(heap->end - home, 1'000'000U);

    // Page down to the first block that starts past the mapping's end.
    const int count = static_cast<int>((heap->end - home + 239) / 240);
    pageDown(s, static_cast<unsigned long long>(count));
    const unsigned long long outside = home + 240ULL * static_cast<unsigned long long>(count);
    ASSERT_EQ(blockStartShown(s), outside);
    const std::vector<Mapping> paged = mappingsOf(s.pid());
    const Mapping* after = mappingAt(paged, outside);
    ASSERT_TRUE(after == nullptr || after->perms.substr(0, 3) == "---") << "readable memory right after the heap";
    press(s, DOWN + DOWN + RIGHT, 3);  // the cursor must stay where it is

    // Insert: back to the last block paged through, the heap's.
    press(s, INSERT, 1);
    EXPECT_EQ(blockStartShown(s), outside - 240);
    EXPECT_EQ(selectedShown(s), outside - 240 + 33);
    EXPECT_EQ(messagesIn(s), 1);

    // Delete from the same place: on to the next mapping of the process.
    press(s, PAGE_DOWN, 1);
    ASSERT_EQ(blockStartShown(s), outside);
    const unsigned long long expected = firstCandidateInAMappingAbove(mappingsOf(s.pid()), outside);
    press(s, DELETE, 1);
    EXPECT_EQ(blockStartShown(s), expected) << std::hex << "from " << outside;
    EXPECT_EQ(selectedShown(s), expected + 33);
    EXPECT_EQ(messagesIn(s), 2);
    EXPECT_NE(mappingAt(mappingsOf(s.pid()), expected), nullptr);

    // One block lower is unmapped again: Delete comes back, Insert goes back down to the heap.
    press(s, PAGE_UP + DELETE, 2);
    EXPECT_EQ(blockStartShown(s), expected);
    press(s, PAGE_UP + INSERT, 2);
    EXPECT_EQ(blockStartShown(s), outside - 240) << std::hex << "from " << expected - 240;

    // Scanning from a readable block leaves it where it is.
    press(s, DELETE + INSERT, 2);
    EXPECT_EQ(blockStartShown(s), outside - 240);
    EXPECT_EQ(messagesIn(s), 6);
    EXPECT_EQ(mapDescriptors(s.pid()), 1);
    EXPECT_TRUE(s.screen().violations().empty());
    s.send("x");
    EXPECT_NE(s.waitExit(), -1);
}

}  // namespace
