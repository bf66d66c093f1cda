// The browser lives in the memory it lets the user edit: after the first
// frame no key may call into the heap, no write into the heap may end the
// program, and a small stack is enough for every key.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/sanitizers.h"
#include "heap_counts.h"
#include "support/e2e_support.h"
#include "support/prompt_texts.h"
#include "support/stack_limit.h"

namespace {

using namespace xterm;

// Each kind of key, pressed after the first frame, as a user meets it.
struct KeyKind {
    const char* name;
    std::vector<std::string> args;
    std::function<void(PtySession&)> press;
};

void pressAndPause(PtySession& s, const std::string& keys)
{
    s.send(keys);
    ASSERT_TRUE(s.waitForText(PAUSE_LINE));
    press(s, " ");
}

const KeyKind PAGING{"paging", {}, [](PtySession& s) { press(s, PAGE_DOWN + PAGE_DOWN + PAGE_UP, 3); }};
const KeyKind MOVING{"moving", {}, [](PtySession& s) { press(s, DOWN + RIGHT + UP + LEFT + LEFT, 5); }};
const KeyKind HOME_KEY{"home", {}, [](PtySession& s) { press(s, PAGE_DOWN + RIGHT + HOME, 3); }};
const KeyKind SCANNING{"scanning", {}, [](PtySession& s) { press(s, DELETE + INSERT + INSERT, 3); }};
const KeyKind WRITING{"writing", {}, [](PtySession& s) { press(s, "w65\r"); }};
const KeyKind INVALID{"invalid entry and its pause", {}, [](PtySession& s) { pressAndPause(s, "w-1\r"); }};
// Past the stack's end: every byte faults, and the write fails and pauses.
const KeyKind UNREADABLE{"unreadable block and failed write", {"-mainframe"}, [](PtySession& s) {
                             const unsigned long long end = mappingEnd(s.pid(), "[stack]");
                             ASSERT_GT(end, blockStartShown(s));
                             pageDown(s, (end - blockStartShown(s) + 239) / 240);
                             ASSERT_EQ(s.line(PANEL_ROW), "Selected Byte: [?] HEX:3f Decimal: 63");
                             pressAndPause(s, "w65\r");
                         }};
const KeyKind RESIZE{"resize", {}, [](PtySession& s) {
                         s.resize(30, 101);
                         ASSERT_TRUE(s.nextFrame());
                     }};

// The first frame, the keys of `kind`, then X.
void play(PtySession& s, const KeyKind& kind)
{
    ASSERT_TRUE(s.nextFrame()) << s.screen().text();
    kind.press(s);
    quit(s);
}

// Every heap call of one whole run: start-up, the first frame, what `kind`
// does after it, X, and the way out. The preloaded counter records them.
HeapCounts countedRun(const KeyKind& kind)
{
    const std::string path = testing::TempDir() + "gleanhex-heap-" + std::to_string(::getpid());
    std::remove(path.c_str());
    ::setenv("LD_PRELOAD", GLEANHEX_HEAP_COUNTER, 1);
    ::setenv("GLEANHEX_HEAP_COUNTS", path.c_str(), 1);
    {
        PtySession s({kind.args});
        ::unsetenv("LD_PRELOAD");
        ::unsetenv("GLEANHEX_HEAP_COUNTS");
        play(s, kind);
    }
    HeapCounts counts;
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.read(reinterpret_cast<char*>(&counts), sizeof counts)) << "no counts in " << path;
    std::remove(path.c_str());
    return counts;
}

// The keys of `kind` call the heap no more than a run of X alone.
void expectNoHeapCalls(const KeyKind& kind)
{
    if (GLEANHEX_ASAN)
        GTEST_SKIP() << "the sanitizer's runtime must be the first library loaded";
    const HeapCounts baseline = countedRun({"X alone", kind.args, [](PtySession&) {}});
    EXPECT_GT(baseline.calls[static_cast<std::size_t>(HeapCall::NEW)], 0U) << "the counter counts nothing";
    EXPECT_EQ(countedRun(kind).calls, baseline.calls) << "malloc, calloc, realloc, free, aligned, new, delete";
}

TEST(NoHeapAfterStart, Paging) { expectNoHeapCalls(PAGING); }
TEST(NoHeapAfterStart, Moving) { expectNoHeapCalls(MOVING); }
TEST(NoHeapAfterStart, Home) { expectNoHeapCalls(HOME_KEY); }
TEST(NoHeapAfterStart, ScanningEitherWay) { expectNoHeapCalls(SCANNING); }
TEST(NoHeapAfterStart, WritingAValue) { expectNoHeapCalls(WRITING); }
TEST(NoHeapAfterStart, InvalidEntryAndItsPause) { expectNoHeapCalls(INVALID); }
TEST(NoHeapAfterStart, UnreadableBlockAndFailedWrite) { expectNoHeapCalls(UNREADABLE); }
TEST(NoHeapAfterStart, Resize) { expectNoHeapCalls(RESIZE); }

// No large buffer lives on the stack: every key works with 20 KiB of it. The
// dynamic loader alone takes 14 to 16 KiB before main (at 14 KiB it fails in
// about a third of starts, as it did before terminfo was linked), so a smaller
// limit would test the loader's luck with the stack's placement, not the program.
void expectWorksWithASmallStack(const KeyKind& kind)
{
    if (GLEANHEX_ASAN)
        GTEST_SKIP() << "the sanitizer's own frames are larger";
    SCOPED_TRACE(kind.name);
    std::unique_ptr<PtySession> s;
    {
        const StackLimit limit(20 * 1024);
        ASSERT_TRUE(limit.set());
        s = std::make_unique<PtySession>(SessionOptions{kind.args});
    }
    play(*s, kind);
}

TEST(SmallStack, EveryKey)
{
    for (const KeyKind* kind : {&PAGING, &MOVING, &HOME_KEY, &SCANNING, &WRITING, &INVALID, &UNREADABLE, &RESIZE})
        expectWorksWithASmallStack(*kind);
}

// Whatever the heap holds after the home block, the browser keeps going and
// ends as it should: each of 0 and 255 into each byte after home, in a run of
// its own, typed ahead with the X that follows.
TEST(HeapWrites, EveryByteAfterHomeTakesZeroAnd255)
{
    if (GLEANHEX_ASAN)
        GTEST_SKIP() << "the sanitizer's allocator lays out a heap of its own, ten times slower to start";
    if (GLEANHEX_COVERAGE)
        GTEST_SKIP() << "the coverage runtime allocates after the program ends, from the heap written over";
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
