// The browser as a user meets it: a pseudo-terminal, the bytes real terminals
// send, and what reaches the screen.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

#include "common/sanitizers.h"
#include "support/e2e_support.h"
#include "support/prompt_texts.h"
#include "support/terminal_keys.h"

namespace {

using namespace xterm;
using std::chrono::milliseconds;

// Terminal and mode -> key name -> bytes: the first form the table gives, the
// terminal's own description, where an emulator also sends others.
using KeyTable = std::map<std::string, std::map<std::string, std::string>>;

KeyTable loadKeys()
{
    KeyTable table;
    for (const TerminalKey& row : terminalKeys())
        table[row.terminal + "/" + row.mode].emplace(row.key, row.bytes);
    return table;
}

bool inMapping(pid_t pid, unsigned long long address, const std::string& name)
{
    for (const Mapping& m : mappingsOf(pid))
        if (address >= m.start && address < m.end)
            return m.name == name;
    return false;
}

TEST(BrowseScreen, MainframeStartsAtWelcomeHome)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    const unsigned long long start = blockStartShown(s);
    EXPECT_TRUE(inMapping(s.pid(), start, "[stack]"));
    EXPECT_EQ(s.line(0), "Block starting at address: " + (std::ostringstream() << std::hex << start).str() +
                             " (0 Bytes from home)");
    EXPECT_EQ(s.line(1), std::string(80, '-'));
    // Padded: the bytes after `s` may all show as blanks, which line() trims.
    const std::string row0 = s.line(FIRST_GRID_ROW) + std::string(16, ' ');
    const std::string expectedStart = (std::ostringstream() << std::hex << start).str() +
                                      " : 5b 57 65 6c 63 6f 6d 65 20 48 6f 6d 65 5d 00 ";
    EXPECT_EQ(row0.substr(0, expectedStart.size()), expectedStart);
    EXPECT_EQ(row0.substr(expectedStart.size() + 2, 18), " : [Welcome Home] ");
    for (int r = 1; r < 15; ++r)
        EXPECT_EQ(numberAfter(s, FIRST_GRID_ROW + r, ""), start + 16ULL * static_cast<unsigned>(r));
    EXPECT_EQ(s.line(18), "[Arrow Keys] select byte, [PG UP]/[PG DN] read previous/next block");
    EXPECT_EQ(s.line(19), "[INS]/[DEL] Scan up/down, [HOME] starting location, [X] exit, [W] write");
    EXPECT_EQ(s.line(PANEL_ROW), "Selected Byte: [[] HEX:5b Decimal: 91");
    EXPECT_EQ(selectedShown(s), start);
    // The cursor waits at the end of the "Address: " line.
    EXPECT_EQ(s.screen().cursorRow(), ADDRESS_ROW);
    EXPECT_EQ(s.screen().cursorCol(), static_cast<int>(s.line(ADDRESS_ROW).size()));
    EXPECT_TRUE(highlighted(s, FIRST_GRID_ROW, hexColumn(s, 0, 0)));
    EXPECT_TRUE(highlighted(s, FIRST_GRID_ROW, charColumn(s, 0, 0)));
    EXPECT_FALSE(highlighted(s, FIRST_GRID_ROW, hexColumn(s, 0, 1)));
    EXPECT_EQ(s.screen().cell(0, 0).fg, 93);  // frame colour
    EXPECT_EQ(s.screen().cell(FIRST_GRID_ROW + 3, 0).fg, 97);
    quit(s);
}

class IgnoredArguments : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(IgnoredArguments, StartAtTheHeapBlock)
{
    PtySession s({GetParam()});
    ASSERT_TRUE(s.nextFrame());
    // AddressSanitizer's allocator keeps its blocks in anonymous mappings of its own.
    EXPECT_TRUE(inMapping(s.pid(), blockStartShown(s), GLEANHEX_ASAN ? "" : "[heap]")) << s.line(0);
    EXPECT_EQ(distanceShown(s), 0U);
    EXPECT_EQ(s.output().find("Usage"), std::string::npos);
    s.send("X");
    expectEndedCleanly(s);
}

INSTANTIATE_TEST_SUITE_P(Browse, IgnoredArguments,
                         testing::Values(std::vector<std::string>{}, std::vector<std::string>{"-Mainframe"},
                                         std::vector<std::string>{"--mainframe"},
                                         std::vector<std::string>{"-mainframe ", "mainframe"},
                                         std::vector<std::string>{"/?", "-h", "-MAINFRAME"}));

TEST(BrowseScreen, UsageComesFirstThenMainframe)
{
    PtySession s({{"-?", "-mainframe"}});
    ASSERT_TRUE(s.waitForText(PAUSE_LINE));
    EXPECT_EQ(s.line(0), USAGE_LINES[0]);
    EXPECT_EQ(s.line(1), USAGE_LINES[1]);
    EXPECT_EQ(s.framesSeen(), 0);
    s.send(DOWN);  // a whole sequence is one key: nothing of it is left to act on
    ASSERT_TRUE(s.nextFrame());
    EXPECT_NE(s.line(FIRST_GRID_ROW).find("[Welcome Home]"), std::string::npos);
    EXPECT_EQ(selectedShown(s), blockStartShown(s));
    quit(s);
}

TEST(BrowseScreen, MainframeBeforeUsageSkipsIt)
{
    PtySession s({{"-mainframe", "-?"}});
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(s.output().find("Usage"), std::string::npos);
    EXPECT_NE(s.line(FIRST_GRID_ROW).find("[Welcome Home]"), std::string::npos);
    quit(s);
}

TEST(BrowseKeys, ArrowsWrapWithEveryTerminalsSequences)
{
    const KeyTable table = loadKeys();
    ASSERT_GE(table.size(), 9U);
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    const unsigned long long start = blockStartShown(s);
    for (const auto& [terminal, keys] : table) {
        SCOPED_TRACE(terminal);
        if (keys.count("Up") == 0)
            continue;
        press(s, keys.at("Up"));  // row 0 -> 14
        EXPECT_EQ(selectedShown(s), start + 224);
        EXPECT_TRUE(highlighted(s, FIRST_GRID_ROW + 14, hexColumn(s, 14, 0)));
        press(s, keys.at("Left"));  // col 0 -> 15
        EXPECT_EQ(selectedShown(s), start + 239);
        EXPECT_TRUE(highlighted(s, FIRST_GRID_ROW + 14, hexColumn(s, 14, 15)));
        EXPECT_TRUE(highlighted(s, FIRST_GRID_ROW + 14, charColumn(s, 14, 15)));
        EXPECT_EQ(distanceShown(s), 239U);
        press(s, keys.at("Down"));  // row 14 -> 0
        press(s, keys.at("Right"));  // col 15 -> 0
        EXPECT_EQ(selectedShown(s), start);
        EXPECT_EQ(blockStartShown(s), start);
    }
    quit(s);
}

TEST(BrowseKeys, PagingAndHomeWithEveryTerminalsSequences)
{
    const KeyTable table = loadKeys();
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    const unsigned long long start = blockStartShown(s);
    for (const auto& [terminal, keys] : table) {
        SCOPED_TRACE(terminal);
        if (keys.count("PageDown") == 0)
            continue;
        press(s, keys.at("PageDown") + keys.at("PageDown") + DOWN, 3);
        EXPECT_EQ(blockStartShown(s), start + 480);
        EXPECT_EQ(distanceShown(s), 496U);  // the selected byte's distance, not the block's
        press(s, keys.at("PageUp") + keys.at("PageUp") + keys.at("PageUp"), 3);
        EXPECT_EQ(blockStartShown(s), start - 240);
        EXPECT_EQ(distanceShown(s), 224U);  // below home, shown as a positive distance
        press(s, keys.count("Home") != 0 ? keys.at("Home") : HOME);
        EXPECT_EQ(blockStartShown(s), start);
        EXPECT_EQ(selectedShown(s), start);
        EXPECT_EQ(distanceShown(s), 0U);
    }
    quit(s);
}

TEST(BrowseScreen, UnreadableBytesPastTheStackShowAsFill)
{
    PtySession s({{"-mainframe"}});
    const auto [start, stackEnd] = stackHome(s);
    ASSERT_GT(stackEnd, start);
    // The last block that still starts inside the stack mapping.
    const unsigned long long count = (stackEnd - start - 1) / 240;
    pageDown(s, count);
    const unsigned long long block = blockStartShown(s);
    ASSERT_EQ(block, start + 240 * count);
    ASSERT_LT(block, stackEnd);
    for (unsigned r = 0; r < 15; ++r) {
        const std::string row = s.line(FIRST_GRID_ROW + static_cast<int>(r));
        const unsigned long long rowStart = block + 16 * r;
        if (rowStart >= stackEnd) {
            EXPECT_EQ(row.substr(row.find(" :")), " : 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f : ????????????????");
        }
    }
    expectCleanScreen(s);
    quit(s);
}

TEST(BrowseKeys, KeysThatMeanNothingOnlyRedraw)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    const std::string before = textOfOwnBytes(s, static_cast<unsigned>(WELCOME.size()));
    // Alt+x, Alt+w, Alt+X, an unknown CSI, a mouse-like private CSI, a non-ASCII
    // character, F1, and a lone Escape: each a turn.
    press(s, "\x1bx\x1bw\x1bX\x1b[99x\x1b[?1;2x\xc3\xa9", 6);
    press(s, "\x1bOP", 1);
    press(s, "\x1b", 1);
    press(s, "q");
    EXPECT_EQ(s.framesSeen(), 10);
    EXPECT_EQ(textOfOwnBytes(s, static_cast<unsigned>(WELCOME.size())), before);
    EXPECT_EQ(s.waitExit(milliseconds(100)), -1) << "ended by a key that should do nothing";
    quit(s);
}

TEST(BrowseScreen, ResizeWhileFramesAreWrittenRedrawsWithoutAKey)
{
    PtySession s(SessionOptions{});
    ASSERT_TRUE(s.nextFrame());
    // More frames than the terminal holds unread: the program is still writing
    // them when the resize comes, and no key follows to wake it afterwards.
    constexpr int KEYS = 100;
    s.send(repeated(DOWN, KEYS));
    s.resize(30, 101);
    for (int i = 0; i <= KEYS; ++i)
        ASSERT_TRUE(s.nextFrame()) << "frame " << i << " of " << KEYS + 1;
    EXPECT_FALSE(s.nextFrame(milliseconds(200))) << "one resize, one redraw";
    s.send("x");
    expectEndedCleanly(s);
}

TEST(BrowseScreen, WholeFrameStaysInPlaceAt80By24)
{
    PtySession s({.args = {"-mainframe"}, .rows = 24, .cols = 80});
    ASSERT_TRUE(s.nextFrame());
    EXPECT_FALSE(s.screen().autowrap()) << "rows wider than the terminal would wrap";
    press(s, DOWN + DOWN, 2);
    const unsigned long long start = blockStartShown(s);
    EXPECT_EQ(s.line(1), std::string(80, '-'));
    for (int r = 0; r < 15; ++r)
        EXPECT_EQ(numberAfter(s, FIRST_GRID_ROW + r, ""), start + 16ULL * static_cast<unsigned>(r));
    EXPECT_EQ(s.line(19), "[INS]/[DEL] Scan up/down, [HOME] starting location, [X] exit, [W] write");
    EXPECT_EQ(s.line(PANEL_ROW).rfind("Selected Byte: [", 0), 0U);
    EXPECT_EQ(selectedShown(s), start + 32);
    s.send("x");
    expectEndedCleanly(s);
    EXPECT_TRUE(s.screen().autowrap()) << "autowrap not given back";
}

TEST(BrowseKeys, BurstOfSequencesIsDecodedWhole)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    const unsigned long long start = blockStartShown(s);
    std::string burst;
    for (int i = 0; i < 20; ++i)
        burst += DOWN;
    for (int i = 0; i < 3; ++i)
        burst += "\x1bOC";
    press(s, burst, 23);
    EXPECT_EQ(selectedShown(s), start + 5 * 16 + 3);
    quit(s);
}

TEST(BrowseEnd, QuitKeysRestoreTheTerminal)
{
    for (const char* key : {"x", "X"}) {
        PtySession s(SessionOptions{});
        ASSERT_TRUE(s.nextFrame());
        const termios running = s.modes();
        EXPECT_TRUE(keyMode(running)) << "keys would echo during a redraw";
        EXPECT_TRUE(s.screen().keypad()) << "keys would send what keypad-transmit mode does not";
        s.send(key);
        expectEndedCleanly(s);
        EXPECT_FALSE(s.screen().keypad()) << "the keypad's mode not given back";
        EXPECT_NE(s.screen().text().find("Address: "), std::string::npos);
        EXPECT_EQ(s.screen().cursorCol(), 0);
        EXPECT_EQ(s.line(s.screen().cursorRow() - 1), "Goodbye");
        EXPECT_EQ(s.screen().fg(), 0) << "colours not given back";
        EXPECT_EQ(s.screen().bg(), 0);
    }
}

TEST(BrowseEnd, EndOfPipedKeysEndsLikeQuit)
{
    PtySession s({.args = {"-mainframe"}, .pipedKeys = true});
    ASSERT_TRUE(s.nextFrame());
    const unsigned long long start = blockStartShown(s);
    press(s, DOWN + RIGHT, 2);
    EXPECT_EQ(selectedShown(s), start + 17);
    s.closeKeys();
    expectEndedCleanly(s);
    EXPECT_NE(s.screen().text().find("Goodbye"), std::string::npos);
}

TEST(BrowseEnd, HangUpEndsLikeEndOfInput)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    ::kill(s.pid(), SIGHUP);
    expectEndedCleanly(s);
    EXPECT_NE(s.screen().text().find("Goodbye"), std::string::npos);
}

TEST(BrowseEnd, SignalsGiveTheTerminalBack)
{
    // Under AddressSanitizer, SIGSEGV belongs to the sanitizer's own handler.
    for (const int sig : {SIGTERM, SIGINT, SIGQUIT, GLEANHEX_ASAN ? SIGTERM : SIGSEGV, SIGABRT}) {
        SCOPED_TRACE(sig);
        // Ignored here, as in a test run in the background: the harness starts
        // the program with every signal at its default, as a terminal does, or
        // Ctrl-C would not end it (found by the soak).
        const auto previous = ::signal(SIGINT, SIG_IGN);
        PtySession s({{"-mainframe"}});
        ::signal(SIGINT, previous);
        ASSERT_TRUE(s.nextFrame());
        if (sig == SIGINT)
            s.send("\x03");  // Ctrl-C, through the terminal's own signal keys
        else
            ::kill(s.pid(), sig);
        const int status = s.waitExit();
        ASSERT_NE(status, -1);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
        EXPECT_TRUE(sameModes(s.modes(), s.modesAtStart()));
        EXPECT_EQ(s.screen().fg(), 0);
        expectCleanScreen(s);
    }
}

// With no guard there is no browsing: the program says so and ends before it
// touches any address, giving the terminal back.
TEST(BrowseEnd, RefusedFaultHandlerEndsBeforeTheFirstFrame)
{
    if (GLEANHEX_ASAN)
        GTEST_SKIP() << "the sanitizer's runtime must be the first library loaded";
    ::setenv("LD_PRELOAD", GLEANHEX_REFUSE_FAULT_HANDLERS, 1);
    PtySession s({{"-mainframe"}});
    ::unsetenv("LD_PRELOAD");
    const int status = s.waitExit();
    ASSERT_NE(status, -1) << "still running";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    EXPECT_EQ(s.framesSeen(), 0);
    EXPECT_EQ(s.line(0), "gleanhex: cannot install the handler that guards memory accesses");
    EXPECT_TRUE(sameModes(s.modes(), s.modesAtStart()));
    expectCleanScreen(s);
}

TEST(BrowseScreen, SmallWindowsShowTheFrameFromTheTopAndMessagesBelowIt)
{
    const std::string help2 = "[INS]/[DEL] Scan up/down, [HOME] starting location, [X] exit, [W] write";
    for (const auto& size : {std::pair{20, 60}, std::pair{22, 80}}) {
        const int rows = size.first;
        const int cols = size.second;
        SCOPED_TRACE(std::to_string(cols) + "x" + std::to_string(rows));
        PtySession s({.args = {"-mainframe"}, .rows = rows, .cols = cols});
        // The frame's top lines, as many as the window has.
        const std::string last = rows == 20 ? help2.substr(0, 60) : "Selected Byte: [[] HEX:5b Decimal: 91";
        ASSERT_TRUE(s.waitUntil([&] { return s.line(rows - 1) == last; })) << s.screen().text();
        EXPECT_EQ(s.line(HEADER_ROW).rfind("Block starting at address: ", 0), 0U);
        EXPECT_EQ(s.line(1), std::string(static_cast<size_t>(cols), '-'));
        EXPECT_EQ(s.line(FIRST_GRID_ROW).substr(static_cast<size_t>(hexColumn(s, 0, 0)), 14), "5b 57 65 6c 63");
        s.send("w");
        ASSERT_TRUE(s.waitForText(VALUE_LABEL)) << s.screen().text();
        EXPECT_EQ(s.line(rows - 2), PROMPT_LINE.substr(0, static_cast<size_t>(cols)));
        EXPECT_EQ(s.line(rows - 1), VALUE_LABEL);
        s.send("300\r");
        ASSERT_TRUE(s.waitForText(PAUSE_LINE)) << s.screen().text();
        EXPECT_EQ(s.line(rows - 2), INVALID_LINE);
        EXPECT_EQ(s.line(rows - 4), VALUE_LABEL + " 300");
        EXPECT_EQ(s.line(HEADER_ROW).rfind("Block starting at address: ", 0), 0U);
        s.send("q");
        ASSERT_TRUE(s.waitUntil([&] { return s.line(rows - 1) == last; }));
        EXPECT_EQ(s.screen().scrolls(), 0);
        expectCleanScreen(s);
        quit(s);
    }
}

TEST(BrowseOutput, OutputThatIsNoTerminalIsPlainText)
{
    const PipedRun piped = runPiped({"-mainframe"}, DOWN + "x", "", "xterm-256color");
    EXPECT_TRUE(WIFEXITED(piped.status) && WEXITSTATUS(piped.status) == 0) << "status " << piped.status;
    EXPECT_EQ(piped.output.find('\x1b'), std::string::npos);
    EXPECT_EQ(piped.output.rfind("Block starting at address: ", 0), 0U);
    // Frames follow one another, each from the start of a line.
    EXPECT_EQ(countOf(piped.output, "\nBlock starting at address: "), 1U);
    EXPECT_EQ(countOf(piped.output, "\nAddress: "), 2U);
    EXPECT_EQ(piped.output.substr(piped.output.size() - 9), "\nGoodbye\n");

    // A terminal without sequences: plain text, and still single keys.
    for (const std::string term : {"dumb", ""}) {
        SCOPED_TRACE("TERM=" + term);
        PtySession s({.args = {"-mainframe"}, .term = term});
        ASSERT_TRUE(s.waitForText("Address: "));
        EXPECT_TRUE(keyMode(s.modes()));
        s.send(DOWN);
        ASSERT_TRUE(s.waitUntil([&] { return countOf(s.output(), "\nAddress: ") == 2; }));
        s.send("x");
        EXPECT_EQ(s.waitExit(), 0);
        EXPECT_TRUE(sameModes(s.modes(), s.modesAtStart()));
        EXPECT_EQ(s.output().find('\x1b'), std::string::npos);
    }
}

// A terminal that erases in its own colours (no background-colour erase, as
// GNU screen has it) still shows the frame's black everywhere.
TEST(BrowseScreen, WithoutBackgroundColourEraseEveryCellIsPainted)
{
    PtySession s({.args = {"-mainframe"}, .rows = 30, .cols = 100, .term = "screen"});
    ASSERT_TRUE(s.nextFrame());
    ASSERT_TRUE(s.waitForText("Address: "));
    for (int row = 0; row < s.screen().rows(); ++row)
        for (int col = 0; col < s.screen().cols(); ++col) {
            ASSERT_TRUE(s.screen().cell(row, col).written) << "row " << row << " column " << col;
            const int bg = s.screen().cell(row, col).bg;
            ASSERT_TRUE(bg == 40 || bg == 42) << "row " << row << " column " << col;  // black, or the selection's green
        }
    expectCleanScreen(s);
    quit(s);
}

TEST(BrowseOutput, FailedOutputEndsWithStatusOneAndSaysWhy)
{
    const PipedRun full = runPiped({"-mainframe"}, "x", "/dev/full", "xterm-256color");
    EXPECT_TRUE(WIFEXITED(full.status) && WEXITSTATUS(full.status) == 1) << "status " << full.status;
    EXPECT_EQ(full.errors, "gleanhex: cannot write to standard output: " + std::string(std::strerror(ENOSPC)) + "\n");
}

TEST(BrowseJobs, BackgroundLeavesTheTerminalToTheShellUntilForeground)
{
    PtySession s({.args = {"-mainframe"}, .jobControl = true});
    ASSERT_TRUE(s.nextFrame());
    s.send("\x1a");  // Ctrl-Z
    ASSERT_TRUE(s.waitForText("Stopped"));
    EXPECT_FALSE(s.screen().keypad());
    const size_t stopped = s.output().size();
    s.send("bg\r");
    // Waiting for a key from the background stops it again, on SIGTTIN, with
    // nothing written and no mode changed.
    ASSERT_TRUE(s.waitUntil([&] { return countOf(s.output(), "Stopped", stopped) == 1; })) << s.screen().text();
    EXPECT_EQ(s.output().find('\x1b', stopped), std::string::npos) << "the background job wrote to the shell's terminal";
    EXPECT_TRUE(sameModes(s.modes(), s.modesAtStart()));
    EXPECT_TRUE(s.screen().autowrap());
    s.send("fg\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_TRUE(keyMode(s.modes()));
    EXPECT_FALSE(s.screen().autowrap());
    press(s, RIGHT);
    EXPECT_EQ(selectedShown(s), blockStartShown(s) + 1);

    // Stopped in the background, and killed there: it ends at once.
    s.send("\x1a");
    ASSERT_TRUE(s.waitUntil([&] { return countOf(s.output(), "Stopped", stopped) == 2; }));
    s.send("bg\r");
    ASSERT_TRUE(s.waitUntil([&] { return countOf(s.output(), "Stopped", stopped) == 3; }));
    s.send("kill\r");
    const int status = s.waitExit();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << "status " << status;
    EXPECT_TRUE(sameModes(s.modes(), s.modesAtStart()));
}

TEST(BrowseJobs, EveryStopThenForegroundTakesKeyModeBack)
{
    PtySession s({.args = {"-mainframe"}, .jobControl = true});
    ASSERT_TRUE(s.nextFrame());
    const unsigned long long start = blockStartShown(s);
    unsigned long long moved = 0;
    for (const int sig : {SIGSTOP, SIGTTIN, SIGTTOU}) {
        SCOPED_TRACE(sig);
        ::kill(s.job(), sig);
        ASSERT_TRUE(s.waitUntil([&] { return countOf(s.output(), "Stopped") == moved + 1; }));
        s.setModes(s.modesAtStart());  // the shell's own modes while it has the terminal
        s.send("fg\r");
        ASSERT_TRUE(s.nextFrame());
        EXPECT_TRUE(keyMode(s.modes()));
        press(s, RIGHT);
        EXPECT_EQ(selectedShown(s), start + ++moved);
    }
    quit(s);
}

TEST(BrowseJobs, AWrapperScriptStopsAndContinuesWithTheProgram)
{
    PtySession s({.args = {"-mainframe"}, .jobControl = true, .wrapper = true});
    ASSERT_TRUE(s.nextFrame());
    const unsigned long long start = blockStartShown(s);
    for (unsigned long long round = 1; round <= 15; ++round) {
        SCOPED_TRACE(round);
        s.send("\x1a");
        // The shell reports the script stopped, and takes the terminal, while
        // the program may still be giving it back. Typed "fg" comes later than
        // that, as a person types it: a continue sent within the same few
        // microseconds as the program's own stop can only lose to it.
        ASSERT_TRUE(s.waitUntil([&] { return countOf(s.output(), "Stopped") == round && s.programStopped(); }));
        s.send("fg\r");
        ASSERT_TRUE(s.nextFrame());
        EXPECT_TRUE(keyMode(s.modes()));
        press(s, RIGHT);
        EXPECT_EQ(selectedShown(s), start + round);
    }
    // Sent on in the background, the program stops for want of its terminal,
    // and the script with it: the shell sees the job stopped, and "fg" goes on.
    s.send("\x1a");
    ASSERT_TRUE(s.waitUntil([&] { return countOf(s.output(), "Stopped") == 16 && s.programStopped(); }));
    s.send("bg\r");
    ASSERT_TRUE(s.waitUntil([&] { return countOf(s.output(), "Stopped") == 17; }));
    s.send("fg\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_TRUE(keyMode(s.modes()));
    quit(s);
}

TEST(BrowseEnd, InterruptedTerminalCallsAreRetried)
{
    if (::access("/usr/bin/strace", X_OK) != 0)
        GTEST_SKIP() << "strace is not installed";
    if (GLEANHEX_ASAN)
        GTEST_SKIP() << "LeakSanitizer ends a traced program with status 1";
    // Every terminal call fails once with EINTR before it succeeds: the one
    // that gives the terminal back among them.
    PtySession s({.args = {"-mainframe"},
                  .prefix = {"/usr/bin/strace", "-o", "/dev/null", "-e", "trace=ioctl", "-e",
                             "inject=ioctl:error=EINTR:when=1+2"}});
    if (!s.nextFrame() && s.output().find("strace:") != std::string::npos)
        GTEST_SKIP() << "cannot trace here: " << s.output();
    EXPECT_TRUE(keyMode(s.modes()));
    press(s, RIGHT);
    quit(s);
    EXPECT_TRUE(s.screen().autowrap());
}

// System calls for `count` presses of `key` after the first frame, each
// pressed once the frame before is drawn, as strace counts them with the
// start and the end; -1 where it cannot trace here.
long systemCallsFor(const std::string& key, int count)
{
    const std::string counts = ::testing::TempDir() + "gleanhex-calls";
    PtySession s({.args = {"-mainframe"}, .prefix = {"/usr/bin/strace", "-c", "-o", counts}});
    if (!s.nextFrame())
        return -1;
    for (int i = 0; i < count; ++i)
        press(s, key);
    quit(s);
    std::ifstream summary(counts);
    std::string line;
    std::string last;
    while (std::getline(summary, line))
        if (!line.empty())
            last = line;
    // The total line: "100.00  seconds  usecs  calls  errors  total"
    std::istringstream total(last);
    std::string percent;
    double seconds = 0;
    long usecs = 0;
    long calls = -1;
    total >> percent >> seconds >> usecs >> calls;
    return calls;
}

TEST(BrowseKeys, AKeyAfterTheFirstFrameCostsAWaitAReadAndAWrite)
{
    if (::access("/usr/bin/strace", X_OK) != 0)
        GTEST_SKIP() << "strace is not installed";
    if (GLEANHEX_ASAN)
        GTEST_SKIP() << "the sanitizer's runtime makes calls of its own";
    const long none = systemCallsFor("q", 0);
    if (none < 0)
        GTEST_SKIP() << "cannot trace here";
    // What ten keys add to a run is what they cost.
    EXPECT_LE(systemCallsFor("q", 10) - none, 10 * 4) << "a key that changes nothing";
    EXPECT_LE(systemCallsFor(RIGHT, 10) - none, 10 * 4) << "an arrow";
}

// Real shells, each as a user has it, running the program through a script:
// Ctrl-Z stops the script's shell at once and the interactive shell takes the
// terminal and reads, whatever the program's stop is still doing. Each time
// the shell must get its terminal as it gave it (it reads a line and runs it,
// autowrap is on), and "fg" must bring the program back in key mode.
struct RealShell {
    const char* name;
    const char* stopped;  // what the shell says of a stopped job
    std::vector<std::string> command;
};

class RealShells : public ::testing::TestWithParam<RealShell> {};

TEST_P(RealShells, CtrlZOnAScriptThatRunsTheProgramGivesTheShellItsTerminal)
{
    const RealShell& shell = GetParam();
    SCOPED_TRACE(shell.name);
    const std::string& path = shell.command[shell.command[0] == "/usr/bin/env" ? 2 : 0];
    if (::access(path.c_str(), X_OK) != 0)
        GTEST_SKIP() << path << " is not installed";
    const std::string script = ::testing::TempDir() + "gleanhex-wrapper.sh";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\n'" << programPath() << "' \"$@\"\necho wrapped-rc=$?\n";
    }
    ::chmod(script.c_str(), 0755);
    PtySession s({.args = {}, .rows = 30, .cols = 100, .term = "screen", .command = shell.command});
    ASSERT_TRUE(s.waitUntil([&] { return s.output().find("$ ") != std::string::npos; })) << s.output();
    s.send(script + " -mainframe\r");
    ASSERT_TRUE(s.nextFrame()) << s.screen().text();
    const unsigned long long start = blockStartShown(s);
    for (int round = 1; round <= 10; ++round) {
        SCOPED_TRACE(round);
        s.send("\x1a");
        // The shell reads and runs a line: it has its terminal, and no end of file came.
        // Quoted as typed, so that only the command's output shows it whole.
        const std::string echoed = "ok-" + std::to_string(round);
        ASSERT_TRUE(s.waitUntil([&] { return countOf(s.output(), shell.stopped) == static_cast<size_t>(round); }))
            << s.screen().text();
        ::usleep(100000);  // the program's stop may still be giving the terminal back
        s.send("echo ok\"\"-" + std::to_string(round) + "\r");
        ASSERT_TRUE(s.waitForText(echoed)) << s.screen().text();
        EXPECT_EQ(s.waitExit(milliseconds(0)), -1) << "the shell ended";
        EXPECT_TRUE(s.screen().autowrap()) << "autowrap left off";
        s.send("fg\r");
        ASSERT_TRUE(s.nextFrame()) << s.screen().text();
        EXPECT_TRUE(keyMode(s.modes()));
        press(s, RIGHT);
        EXPECT_EQ(selectedShown(s), start + static_cast<unsigned long long>(round));
    }
    s.send("x");
    ASSERT_TRUE(s.waitForText("wrapped-rc=0"));

    // Started in the background, while the shell's line editor has the
    // terminal: brought to the front it still stops on Ctrl-Z, and gives back
    // the modes the shell gave it, not the editor's.
    const std::string modes = ::testing::TempDir() + "gleanhex-modes";
    const auto stops = [&](size_t n, milliseconds limit = milliseconds(5000)) {
        return s.waitUntil([&] { return countOf(s.output(), shell.stopped) == n; }, limit);
    };
    s.send("stty -a > " + modes + ".before; '" + programPath() + "' -mainframe &\r");
    // bash and dash report a job's stop only before their next prompt.
    for (int i = 0; i < 25 && !stops(11, milliseconds(200)); ++i)
        s.send("\r");
    ASSERT_TRUE(stops(11)) << "no stop for terminal input: " << s.screen().text();
    s.send("fg\r");
    ASSERT_TRUE(s.nextFrame()) << s.screen().text();
    s.send("\x1a");
    ASSERT_TRUE(stops(12)) << s.screen().text();
    s.send("fg\r");
    ASSERT_TRUE(s.nextFrame()) << s.screen().text();
    s.send("x");
    // Typed-ahead keys are the program's until it ends: the shell's prompt says when.
    ASSERT_TRUE(s.waitUntil([&] {
        const size_t end = s.output().rfind("Goodbye");
        return countOf(s.output(), "Goodbye") == 2 && s.output().find("$ ", end) != std::string::npos;
    }));
    s.send("stty -a > " + modes + ".after; cmp -s " + modes + ".before " + modes + ".after && echo same\"\"-modes\r");
    EXPECT_TRUE(s.waitForText("same-modes")) << s.screen().text();
    s.send("exit\r");
    EXPECT_NE(s.waitExit(), -1);
}

INSTANTIATE_TEST_SUITE_P(Shells, RealShells,
                         ::testing::Values(RealShell{"bash", "Stopped", {"/usr/bin/env", "PS1=$ ", "/bin/bash", "--norc", "--noprofile", "-i"}},
                                           RealShell{"dash", "Stopped", {"/usr/bin/env", "PS1=$ ", "/usr/bin/dash", "-i"}},
                                           RealShell{"zsh", "suspended", {"/usr/bin/env", "PS1=$ ", "/usr/bin/zsh", "-f", "-i"}},
                                           RealShell{"fish", "has stopped", {"/usr/bin/fish", "--no-config", "-i", "-C",
                                                              "function fish_prompt; echo -n '$ '; end"}}),
                         [](const auto& shellInfo) { return std::string(shellInfo.param.name); });

}  // namespace
