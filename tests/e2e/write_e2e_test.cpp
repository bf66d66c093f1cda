// W as a user meets it: typed into a pseudo-terminal with echo and Backspace,
// or piped in with the keys, and what the next frame shows.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "console/line_editor.h"
#include "support/e2e_support.h"
#include "support/prompt_texts.h"

namespace {

using namespace xterm;
using std::chrono::milliseconds;

constexpr int PROMPT_ROW = ADDRESS_ROW + 1;

// Presses W and waits for the prompt. The terminal stays raw: the program
// echoes and edits the value itself.
void openPrompt(PtySession& s)
{
    s.send("w");
    ASSERT_TRUE(s.waitForText(VALUE_LABEL)) << s.screen().text();
    EXPECT_EQ(s.line(PROMPT_ROW), PROMPT_LINE);
    EXPECT_EQ(s.line(PROMPT_ROW + 1), VALUE_LABEL);
    EXPECT_TRUE(keyMode(s.modes()));
}

TEST(WriteByte, TypedValueIsEchoedEditedAndShownInGridAndPanel)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    const unsigned long long start = blockStartShown(s);
    openPrompt(s);
    s.send("66\x7f" "5");  // Backspace is the terminal's own editing
    ASSERT_TRUE(s.waitForText("Byte Value: 65"));
    EXPECT_EQ(s.framesSeen(), 1) << "nothing drawn before Enter";
    s.send("\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 0), "41");
    EXPECT_EQ(charCell(s, 0, 0), "A");
    EXPECT_EQ(s.line(PANEL_ROW), "Selected Byte: [A] HEX:41 Decimal: 65");
    EXPECT_EQ(hexCell(s, 0, 1), "57") << "only the selected byte changes";
    EXPECT_EQ(blockStartShown(s), start);
    EXPECT_TRUE(keyMode(s.modes())) << "keys are single and silent again";

    // Enter typed ahead with W, before the terminal switched to line mode, still
    // ends the value. The next byte of `s`: past it lie main()'s own variables.
    s.send(RIGHT);
    ASSERT_TRUE(s.nextFrame());
    s.send("w255\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 1), "ff");
    EXPECT_EQ(hexCell(s, 0, 0), "41");

    // Every editing key as a terminal sends it, in one entry that each of them
    // changes: the keys reach the line editor, whose own test proves its edits.
    const std::string F5 = "\x1b[15~", ALT_X = "\x1bx", END = "\x1b[F", E_ACUTE = "\xc3\xa9";
    openPrompt(s);
    s.send("34 12\x17" + E_ACUTE + E_ACUTE + LEFT + DELETE + "\x7f\b");  // Ctrl-W ... Ctrl-H: "34"
    s.send(UP + DOWN + PAGE_UP + F5 + ALT_X);                          // no edit
    s.send(HOME + "9 \x15\x04" "1" + RIGHT + LEFT + LEFT + END + "2");   // Ctrl-U, Ctrl-D: "142"
    const std::string line = VALUE_LABEL + " 142";
    const int end = static_cast<int>(line.size());
    EXPECT_TRUE(s.waitUntil([&] { return s.line(PROMPT_ROW + 1) == line && s.screen().cursorCol() == end; }))
        << s.line(PROMPT_ROW + 1) << ", cursor at " << s.screen().cursorCol();
    s.send("\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 1), "8e");
    EXPECT_TRUE(s.screen().violations().empty()) << s.screen().violations().front();
    quit(s);
}

TEST(WriteByte, InvalidValueIsReportedThenPausesAndChangesNothing)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    for (const char* entry : {"-1", "256", "abc", "4294967296"}) {
        SCOPED_TRACE(entry);
        openPrompt(s);
        s.send(std::string(entry) + "\r");
        ASSERT_TRUE(s.waitForText(PAUSE_LINE));
        EXPECT_EQ(s.line(PROMPT_ROW + 2), "");
        EXPECT_EQ(s.line(PROMPT_ROW + 3), INVALID_LINE);
        EXPECT_EQ(s.line(PROMPT_ROW + 4), PAUSE_LINE);
        EXPECT_TRUE(keyMode(s.modes())) << "the pause takes a single key";
        EXPECT_EQ(s.waitExit(milliseconds(50)), -1);
        s.send("q");
        ASSERT_TRUE(s.nextFrame());
        EXPECT_EQ(s.line(PANEL_ROW), "Selected Byte: [[] HEX:5b Decimal: 91");
    }
    quit(s);
}

TEST(WriteByte, UnmappedMemoryReportsWriteFailed)
{
    PtySession s({{"-mainframe"}});
    const auto [start, stackEnd] = stackHome(s);
    ASSERT_GT(stackEnd, start);
    // The first block wholly above the stack.
    const unsigned long long count = (stackEnd - start + 239) / 240;
    const unsigned long long block = start + 240 * count;
    for (const Mapping& m : mappingsOf(s.pid()))
        ASSERT_FALSE(block < m.end && m.start < block + 240) << "the gap above the stack is mapped: " << m.name;
    pageDown(s, count);
    ASSERT_EQ(blockStartShown(s), block);
    EXPECT_EQ(hexCell(s, 0, 0), "3f");
    EXPECT_EQ(s.line(PANEL_ROW), "Selected Byte: [?] HEX:3f Decimal: 63");

    openPrompt(s);
    s.send("65\r");
    ASSERT_TRUE(s.waitForText(PAUSE_LINE));
    EXPECT_EQ(s.line(PROMPT_ROW + 3), FAILED_LINE);
    EXPECT_EQ(s.line(PROMPT_ROW + 4), PAUSE_LINE);
    s.send(" ");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 0), "3f");
    quit(s);
}

TEST(WriteByte, TextAfterTheValueIsNeverTakenAsKeys)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    const unsigned long long start = blockStartShown(s);
    openPrompt(s);
    s.send("7 x" + DOWN + "X\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 0), "07");
    EXPECT_EQ(selectedShown(s), start) << "the Down on the value line moved nothing";
    EXPECT_EQ(s.waitExit(milliseconds(100)), -1) << "the x on the value line ended the program";
    // The rest of that line is what the next W reads: not a number, so rejected at once.
    s.send("w");
    ASSERT_TRUE(s.waitForText(PAUSE_LINE));
    EXPECT_EQ(s.line(PROMPT_ROW + 1), "Byte Value:  xX") << "the rest is shown where it is read; Down is no text";
    EXPECT_EQ(s.line(PROMPT_ROW + 2), INVALID_LINE);
    s.send("q");
    ASSERT_TRUE(s.nextFrame());
    // Its line went with it: the next W waits for a new value.
    openPrompt(s);
    s.send("8\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 0), "08");
    quit(s);
}

TEST(WriteByte, PipedValueLineLeavesTheKeysAfterItAlone)
{
    PtySession s({.args = {"-mainframe"}, .pipedKeys = true});
    ASSERT_TRUE(s.nextFrame());
    const unsigned long long start = blockStartShown(s);
    // A value, Down, a rejected value with text after it, and the key for the pause.
    s.send("w66\n" + DOWN + "w-1 x\n!");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(selectedShown(s), start + 16);
    EXPECT_EQ(hexCell(s, 0, 0), "42");
    EXPECT_NE(s.output().find(INVALID_LINE), std::string::npos);
    EXPECT_FALSE(s.nextFrame(milliseconds(200))) << "something on a value line acted as a key";
    EXPECT_EQ(s.waitExit(milliseconds(50)), -1);
    quit(s);
}

TEST(WriteByte, EscapeByteWrittenIntoMemoryIsShownNotSent)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    openPrompt(s);
    s.send("27\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 0), "1b");
    EXPECT_EQ(s.line(PANEL_ROW), "Selected Byte: [\xe2\x86\x90] HEX:1b Decimal: 27");
    EXPECT_EQ(charCell(s, 0, 0), "\xe2\x86\x90");
    EXPECT_EQ(charCell(s, 0, 1), "W") << "the rest of the row where it was";
    EXPECT_TRUE(s.screen().violations().empty()) << s.screen().violations().front();
    quit(s);
}

// In an 8-bit locale bytes 0x80-0x9F are control codes to the terminal: no byte
// above 0x7f goes out, from the grid, the panel, or the echo of a typed one.
TEST(WriteByte, EightBitLocaleGetsNoByteAbove7F)
{
    PtySession s({.args = {"-mainframe"}, .locale = "C"});
    const auto [start, stackEnd] = stackHome(s);
    ASSERT_GT(stackEnd, start);
    openPrompt(s);
    s.send("2\xc3\xa9");  // each byte a character of its own
    ASSERT_TRUE(s.waitForText("Byte Value: 2??"));
    s.send("\x7f\x7f" "00\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 0), "c8");
    EXPECT_EQ(s.line(PANEL_ROW), "Selected Byte: [.] HEX:c8 Decimal: 200");
    EXPECT_EQ(s.line(FIRST_GRID_ROW).substr(static_cast<size_t>(charColumn(s, 0, 0)), 14), ".Welcome Home]");
    // The stack's addresses and pointers: bytes of every kind.
    pageDown(s, (stackEnd - start - 1) / 240);
    const std::string& out = s.output();
    const auto high = std::find_if(out.begin(), out.end(), [](char c) { return (c & 0x80) != 0; });
    EXPECT_EQ(high, out.end()) << "byte " << std::hex << (unsigned{static_cast<unsigned char>(*high)}) << " at "
                               << std::dec << (high - out.begin());
    EXPECT_TRUE(s.screen().violations().empty()) << s.screen().violations().front();
    quit(s);
}

TEST(WriteByte, TypedCtrlDIsAnInvalidEntryButEndOfInputEndsTheProgram)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    // On an empty line Ctrl-D is an entry; with text it deletes under the cursor.
    for (const std::string& entry : {std::string("\x04"), "12" + LEFT + "\x04\x04\x15\x04"}) {
        SCOPED_TRACE(entry);
        openPrompt(s);
        s.send(entry);
        ASSERT_TRUE(s.waitForText(PAUSE_LINE));
        EXPECT_EQ(s.line(PROMPT_ROW + 3), INVALID_LINE);
        s.send("q");
        ASSERT_TRUE(s.nextFrame());
        EXPECT_EQ(hexCell(s, 0, 0), "5b");
    }
    quit(s);

    PtySession piped({.args = {"-mainframe"}, .pipedKeys = true});
    ASSERT_TRUE(piped.nextFrame());
    piped.send("w");
    ASSERT_TRUE(piped.waitForText(VALUE_LABEL));
    piped.closeKeys();
    expectEndedCleanly(piped);
    EXPECT_NE(piped.output().find(INVALID_LINE), std::string::npos);
    EXPECT_NE(piped.screen().text().find("Goodbye"), std::string::npos);
}

TEST(WriteByte, TypedAheadTextIsEchoedAndEditedSafely)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    // All in one go, before the prompt is up: a control byte echoes as ^A, Ctrl-U kills the line.
    s.send("w7\x01");
    ASSERT_TRUE(s.waitForText("Byte Value: 7^A"));
    s.send("\x15" "42");
    ASSERT_TRUE(s.waitForText("Byte Value: 42"));
    EXPECT_EQ(s.line(PROMPT_ROW + 1), "Byte Value: 42");
    s.send("\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 0), "2a");
    s.send("w300\r");  // pasted
    ASSERT_TRUE(s.waitForText(PAUSE_LINE));
    EXPECT_EQ(s.line(PROMPT_ROW + 1), "Byte Value: 300");
    s.send("q");
    ASSERT_TRUE(s.nextFrame());
    quit(s);
}

TEST(WriteByte, HangUpBeforeEnterStoresNothing)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    openPrompt(s);
    s.send("66");
    ASSERT_TRUE(s.waitForText("Byte Value: 66"));
    ::kill(s.pid(), SIGHUP);
    expectEndedCleanly(s);
    EXPECT_NE(s.output().find(INVALID_LINE), std::string::npos);
    // The frame drawn on the way out shows the byte as it was.
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 0), "5b");
}

// Long entries are read whole, past anything the line shows; one longer than
// the line can hold is rejected, never cut into a value.
TEST(WriteByte, LongEntriesAreReadWholeOrRejectedWhole)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    const auto typeSlowly = [&s](const std::string& text) {
        for (size_t at = 0; at < text.size(); at += 512) {
            s.send(text.substr(at, 512));
            s.waitUntil([] { return false; }, milliseconds(2));  // takes the echo meanwhile
        }
    };
    for (const auto& [entry, shown] : {std::pair{std::string(5000, ' ') + "66", "42"},
                                       std::pair{std::string(5000, '0') + "65", "41"}}) {
        openPrompt(s);
        typeSlowly(entry + "\r");
        ASSERT_TRUE(s.nextFrame());
        EXPECT_EQ(hexCell(s, 0, 0), shown);
    }
    openPrompt(s);
    typeSlowly(std::string(LINE_BYTES, '0') + "7\r");
    ASSERT_TRUE(s.waitForText(INVALID_LINE));
    EXPECT_LE(s.screen().width(PROMPT_ROW + 1), s.screen().cols() - 1) << "the echo stays on its line";
    s.send("q");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 0), "41");
    expectCleanScreen(s);
    quit(s);
}

TEST(WriteByte, PromptStoppedAndContinuedComesBackWithItsText)
{
    PtySession s({.args = {"-mainframe"}, .jobControl = true});
    ASSERT_TRUE(s.nextFrame());
    openPrompt(s);
    s.send("4");
    ASSERT_TRUE(s.waitForText("Byte Value: 4"));
    s.send("\x1a");  // Ctrl-Z
    ASSERT_TRUE(s.waitForText("Stopped")) << s.screen().text();
    EXPECT_TRUE(sameModes(s.modes(), s.modesAtStart())) << "the shell did not get its terminal back";
    s.send("fg\r");
    ASSERT_TRUE(s.nextFrame());
    ASSERT_TRUE(s.waitForText("Byte Value: 4"));
    EXPECT_EQ(s.line(PROMPT_ROW + 1), "Byte Value: 4");
    EXPECT_EQ(s.line(PANEL_ROW), "Selected Byte: [[] HEX:5b Decimal: 91");
    EXPECT_EQ(s.screen().text().find("Stopped"), std::string::npos) << "the screen was not drawn again";
    EXPECT_TRUE(keyMode(s.modes()));
    s.send("2\r");
    ASSERT_TRUE(s.nextFrame());
    EXPECT_EQ(hexCell(s, 0, 0), "2a");
    quit(s);
}

TEST(WriteByte, CtrlCAtThePromptGivesTheTerminalBack)
{
    PtySession s({{"-mainframe"}});
    ASSERT_TRUE(s.nextFrame());
    openPrompt(s);
    s.send("12\x03");
    const int status = s.waitExit();
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
    EXPECT_TRUE(sameModes(s.modes(), s.modesAtStart()));
    EXPECT_EQ(s.screen().fg(), 0);
}

}  // namespace
