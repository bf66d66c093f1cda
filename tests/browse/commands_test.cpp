// The command line and the cursor-block keys: where browsing starts, and what
// each key does to the browser's state, wraps included.

#include "browse/commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "support/captured_output.h"
#include "support/prompt_texts.h"
#include "support/stdin_from.h"

namespace {

constexpr Address DEFAULT_HOME = 0x5000;
constexpr Address MAINFRAME = 0x7ffc1230;

struct Start {
    Address address;
    std::string output;  // what went to standard output
    std::string unread;  // keys left on standard input
};

Start start(std::vector<const char*> args, const std::string& keys = "!")
{
    args.insert(args.begin(), "gleanhex");
    StdinFrom stdinFrom(keys);
    CapturedOutput out;
    Start result{};
    result.address = startAddress(static_cast<int>(args.size()), args.data(), DEFAULT_HOME, MAINFRAME);
    result.output = out.text();
    result.unread = StdinFrom::rest();
    return result;
}

TEST(StartAddress, DefaultHomeWithoutArguments)
{
    const Start s = start({});
    EXPECT_EQ(s.address, DEFAULT_HOME);
    EXPECT_EQ(s.output, "");
}

TEST(StartAddress, MainframeMustMatchExactly)
{
    EXPECT_EQ(start({"-mainframe"}).address, MAINFRAME);
    EXPECT_EQ(start({"extra", "--mainframe", "-mainframe", "more"}).address, MAINFRAME);
    for (const char* lookalike : {"--mainframe", "-MainFrame", "-Mainframe", "-MAINFRAME", "mainframe", "-mainframe ",
                                  " -mainframe", "-mainframes", "-main", "-", "", "-??", "?", "/?", "-? "}) {
        SCOPED_TRACE(std::string("argument \"") + lookalike + "\"");
        const Start s = start({lookalike});
        EXPECT_EQ(s.address, DEFAULT_HOME);
        EXPECT_EQ(s.output, "") << "ignored without a message";
        EXPECT_EQ(s.unread, "!") << "and without a pause";
    }
}

TEST(StartAddress, UsageAndOnePauseForEachQuestionMarkBeforeMainframe)
{
    Start s = start({"-?", "-mainframe"}, "k!");
    EXPECT_EQ(s.address, MAINFRAME);
    EXPECT_EQ(s.output, USAGE + PAUSE);
    EXPECT_EQ(s.unread, "!") << "the pause waits for exactly one key";

    // A whole escape sequence is one key.
    s = start({"-?", "ignored", "-?"}, "\x1b[A" "q!");
    EXPECT_EQ(s.address, DEFAULT_HOME);
    EXPECT_EQ(s.output, USAGE + PAUSE + USAGE + PAUSE);
    EXPECT_EQ(s.unread, "!");
}

TEST(StartAddress, NothingAfterMainframeIsLookedAt)
{
    const Start s = start({"-mainframe", "-?"}, "k!");
    EXPECT_EQ(s.address, MAINFRAME);
    EXPECT_EQ(s.output, "");
    EXPECT_EQ(s.unread, "k!");
}

// Runs in a process of its own: end of input sticks for the rest of a process.
[[noreturn]] void startWithInputAtItsEnd()
{
    ::alarm(5);  // a pause that waits or spins dies of SIGALRM instead
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, STDIN_FILENO);
    std::ostringstream text;
    std::cout.rdbuf(text.rdbuf());
    const char* const argv[] = {"gleanhex", "-?", "-?", "-mainframe"};
    const Address a = startAddress(4, argv, DEFAULT_HOME, MAINFRAME);
    std::cerr << text.str();
    std::_Exit(a == MAINFRAME && text.str() == USAGE + PAUSE + USAGE + PAUSE ? 0 : 1);
}

TEST(StartAddressDeathTest, PauseAtEndOfInputReturnsAtOnce)
{
    EXPECT_EXIT(startWithInputAtItsEnd(), ::testing::ExitedWithCode(0), "");
}

struct State {
    Address blockStart;
    unsigned row;
    unsigned col;
    bool operator==(const State&) const = default;
};

std::ostream& operator<<(std::ostream& os, const State& s)
{
    return os << std::hex << "{block " << s.blockStart << std::dec << ", row " << s.row << ", col " << s.col << "}";
}

constexpr Address HOME = 0x10000;

State press(int code, State s)
{
    applyKey(code, s.blockStart, HOME, s.row, s.col);
    return s;
}

TEST(ExtendedKeys, ArrowsMoveTheCursorAndWrapAtEveryEdge)
{
    const Address b = 0x12340;
    EXPECT_EQ(press(KEY_UP, {b, 0, 5}), (State{b, 14, 5}));
    EXPECT_EQ(press(KEY_UP, {b, 14, 5}), (State{b, 13, 5}));
    EXPECT_EQ(press(KEY_DOWN, {b, 14, 5}), (State{b, 0, 5}));
    EXPECT_EQ(press(KEY_DOWN, {b, 0, 5}), (State{b, 1, 5}));
    EXPECT_EQ(press(KEY_LEFT, {b, 3, 0}), (State{b, 3, 15}));
    EXPECT_EQ(press(KEY_LEFT, {b, 3, 15}), (State{b, 3, 14}));
    EXPECT_EQ(press(KEY_RIGHT, {b, 3, 15}), (State{b, 3, 0}));
    EXPECT_EQ(press(KEY_RIGHT, {b, 3, 0}), (State{b, 3, 1}));

    // A full lap in each direction comes back to where it began, through every cell.
    for (const auto& [key, lap] : {std::pair{KEY_UP, 15}, {KEY_DOWN, 15}, {KEY_LEFT, 16}, {KEY_RIGHT, 16}}) {
        State s{b, 6, 9};
        for (int i = 0; i < lap; ++i) {
            s = press(key, s);
            ASSERT_LT(s.row, 15U);
            ASSERT_LT(s.col, 16U);
            if (i + 1 < lap) {
                EXPECT_NE(s, (State{b, 6, 9})) << "key " << key << " step " << i;
            }
        }
        EXPECT_EQ(s, (State{b, 6, 9})) << "key " << key;
    }
}

TEST(ExtendedKeys, PagingMovesTheBlockAndWrapsRoundTheAddressSpace)
{
    EXPECT_EQ(press(KEY_PAGE_DOWN, {0x1000, 4, 7}), (State{0x1000 + 240, 4, 7}));
    EXPECT_EQ(press(KEY_PAGE_UP, {0x1000, 4, 7}), (State{0x1000 - 240, 4, 7}));
    EXPECT_EQ(press(KEY_PAGE_UP, {100, 2, 3}), (State{TOP - 139, 2, 3}));
    EXPECT_EQ(press(KEY_PAGE_UP, {0, 0, 0}), (State{TOP - 239, 0, 0}));
    EXPECT_EQ(press(KEY_PAGE_DOWN, {TOP - 99, 2, 3}), (State{140, 2, 3}));
    EXPECT_EQ(press(KEY_PAGE_DOWN, {TOP - 239, 0, 0}), (State{0, 0, 0}));
    EXPECT_EQ(press(KEY_PAGE_DOWN, press(KEY_PAGE_UP, {50, 1, 1})), (State{50, 1, 1}));
}

TEST(ExtendedKeys, HomeReturnsToTheStartWithTheCursorAtTheTopLeft)
{
    State s{HOME, 0, 0};
    for (const int key : {KEY_PAGE_DOWN, KEY_PAGE_DOWN, KEY_DOWN, KEY_RIGHT, KEY_RIGHT, KEY_PAGE_UP, KEY_PAGE_UP,
                          KEY_PAGE_UP, KEY_LEFT, KEY_LEFT, KEY_LEFT, KEY_UP, KEY_UP})
        s = press(key, s);
    EXPECT_EQ(s, (State{HOME - 240, 14, 15}));
    EXPECT_EQ(press(KEY_HOME, s), (State{HOME, 0, 0}));
    EXPECT_EQ(press(KEY_HOME, {TOP - 5, 9, 9}), (State{HOME, 0, 0}));
}

TEST(ExtendedKeys, EveryOtherKeyDoesNothing)
{
    // Every plain byte but W, and every named key that is not the cursor block's.
    const std::vector<int> known = {KEY_HOME, KEY_UP, KEY_PAGE_UP, KEY_LEFT, KEY_RIGHT, KEY_DOWN,
                                    KEY_PAGE_DOWN, KEY_INSERT, KEY_DELETE, 'w', 'W'};
    CapturedOutput out;
    for (int code = 0; code <= KEY_OTHER; ++code) {
        if (std::find(known.begin(), known.end(), code) != known.end())
            continue;
        const State s{0x4a4a0, 7, 11};
        EXPECT_EQ(press(code, s), s) << "code " << code;
    }
    EXPECT_EQ(out.text(), "");
}

}  // namespace
