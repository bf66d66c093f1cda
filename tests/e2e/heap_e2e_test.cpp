// The browser lives in the heap it lets the user edit: after the first frame
// no key may call into the heap, and no write into the heap may end the program.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "common/sanitizers.h"
#include "heap_counts.h"
#include "support/e2e_support.h"
#include "support/prompt_texts.h"

namespace {

using namespace xterm;

// Every heap call of one whole run: start-up, the first frame, what `keys`
// does after it, X, and the way out. The preloaded counter records them.
HeapCounts countedRun(const std::vector<std::string>& args, const std::function<void(PtySession&)>& keys)
{
    const std::string path = testing::TempDir() + "gleanhex-heap-" + std::to_string(::getpid());
    std::remove(path.c_str());
    ::setenv("LD_PRELOAD", GLEANHEX_HEAP_COUNTER, 1);
    ::setenv("GLEANHEX_HEAP_COUNTS", path.c_str(), 1);
    {
        PtySession s({args});
        ::unsetenv("LD_PRELOAD");
        ::unsetenv("GLEANHEX_HEAP_COUNTS");
        EXPECT_TRUE(s.nextFrame()) << s.screen().text();
        keys(s);
        quit(s);
    }
    HeapCounts counts;
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.read(reinterpret_cast<char*>(&counts), sizeof counts)) << "no counts in " << path;
    std::remove(path.c_str());
    return counts;
}

// `keys` call the heap no more than a run of X alone.
void expectNoHeapCalls(const std::function<void(PtySession&)>& keys, const std::vector<std::string>& args = {})
{
    if (GLEANHEX_ASAN)
        GTEST_SKIP() << "the sanitizer's allocator must come first";
    const HeapCounts baseline = countedRun(args, [](PtySession&) {});
    EXPECT_GT(baseline.calls[static_cast<std::size_t>(HeapCall::NEW)], 0U) << "the counter counts nothing";
    EXPECT_EQ(countedRun(args, keys).calls, baseline.calls)
        << "malloc, calloc, realloc, free, aligned, new, delete";
}

TEST(NoHeapAfterStart, Paging)
{
    expectNoHeapCalls([](PtySession& s) { press(s, PAGE_DOWN + PAGE_DOWN + PAGE_UP, 3); });
}

TEST(NoHeapAfterStart, Moving)
{
    expectNoHeapCalls([](PtySession& s) { press(s, DOWN + RIGHT + UP + LEFT + LEFT, 5); });
}

TEST(NoHeapAfterStart, Home)
{
    expectNoHeapCalls([](PtySession& s) { press(s, PAGE_DOWN + RIGHT + HOME, 3); });
}

// Waits for the scan's own files to stop allocating.
TEST(NoHeapAfterStart, DISABLED_ScanningEitherWay)
{
    expectNoHeapCalls([](PtySession& s) { press(s, DELETE + INSERT + INSERT, 3); });
}

TEST(NoHeapAfterStart, WritingAValue)
{
    expectNoHeapCalls([](PtySession& s) { press(s, "w65\r"); });
}

TEST(NoHeapAfterStart, InvalidEntryAndItsPause)
{
    expectNoHeapCalls([](PtySession& s) {
        s.send("w-1\r");
        ASSERT_TRUE(s.waitForText(PAUSE_LINE));
        press(s, " ");
    });
}

// Past the stack's end: every byte faults, and the write fails and pauses.
TEST(NoHeapAfterStart, UnreadableBlockAndFailedWrite)
{
    expectNoHeapCalls(
        [](PtySession& s) {
            const unsigned long long end = mappingEnd(s.pid(), "[stack]");
            ASSERT_GT(end, blockStartShown(s));
            pageDown(s, (end - blockStartShown(s) + 239) / 240);
            ASSERT_EQ(s.line(PANEL_ROW), "Selected Byte: [?] HEX:3f Decimal: 63");
            s.send("w65\r");
            ASSERT_TRUE(s.waitForText(PAUSE_LINE));
            press(s, " ");
        },
        {"-mainframe"});
}

TEST(NoHeapAfterStart, Resize)
{
    expectNoHeapCalls([](PtySession& s) {
        s.resize(30, 101);
        ASSERT_TRUE(s.nextFrame());
    });
}

// Whatever the heap holds after the home block, the browser keeps going and
// ends as it should: each of 0 and 255 into each byte after home, in a run of
// its own, typed ahead with the X that follows.
TEST(HeapWrites, EveryByteAfterHomeTakesZeroAnd255)
{
    for (unsigned i = 1; i < 240; ++i) {
        for (const char* value : {"0", "255"}) {
            SCOPED_TRACE(testing::Message() << "byte " << i << ", value " << value);
            PtySession s({});
            s.send(repeated(DOWN, i / 16) + repeated(RIGHT, i % 16) + "w" + value + "\rx");
            expectEndedCleanly(s);
            EXPECT_EQ(s.line(ADDRESS_ROW + 1), "Goodbye");
            if (HasFailure())
                return;
        }
    }
}

}  // namespace
