// The console on POSIX. The typed value and the keys share standard input:
// these run the real console in a child process (end of input sticks for a
// whole process) with standard input on a pipe, the way scripted keys arrive,
// and check that a value line is read to its end and never beyond it. Also the
// line editor's edits and their echo, and the terminal given back by a program
// that ran out of stack.

#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <initializer_list>
#include <iostream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "common/sanitizers.h"
#include "console/console.h"
#include "console/line_editor.h"
#include "probe/guard.h"
#include "probe/write_prompt.h"
#include "support/captured_output.h"
#include "support/locale_glyphs.h"
#include "support/prompt_texts.h"
#include "support/screen.h"

namespace {

enum class Input { KeptOpen, Ended };

// Runs `body` in a child whose standard input holds `input`, after
// beginConsole, with the screen captured; `body`'s account of what happened,
// or how the child died.
std::string inChild(const std::string& input, Input end, const std::function<std::string()>& body)
{
    int in[2];
    int result[2];
    if (::pipe(in) != 0 || ::pipe(result) != 0)
        return "no pipe";
    if (::write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        return "input too long for a pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(5);  // a read that waits or spins dies of SIGALRM instead
        ::dup2(in[0], STDIN_FILENO);
        ::close(in[0]);
        ::close(in[1]);
        ::close(result[0]);
        beginConsole();
        const std::string report = body();
        [[maybe_unused]] const ssize_t n = ::write(result[1], report.data(), report.size());
        std::_Exit(0);
    }
    ::close(in[0]);
    ::close(result[1]);
    if (end == Input::Ended)
        ::close(in[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = ::read(result[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<size_t>(n));
    ::close(result[0]);
    if (end == Input::KeptOpen)
        ::close(in[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return report + " [killed by signal " + std::to_string(WTERMSIG(status)) + "]";
    return report;
}

unsigned char cell[BLOCK_BYTES];

// One W on `cell`; what it said, or the value it stored.
std::string w()
{
    cell[0] = 0xee;
    const CapturedOutput screen;
    promptWrite(reinterpret_cast<Address>(cell), 0, 0);
    const std::string text = screen.text();
    std::string said = text.find(INVALID_LINE) != std::string::npos ? "invalid" : std::to_string(cell[0]);
    if (text.find(PAUSE) != std::string::npos)
        said += "+pause";
    return said + " ";
}

std::string key()
{
    const int code = readKey();
    return code == END_OF_INPUT ? "end " : std::string(1, static_cast<char>(code)) + " ";
}

// Bytes still waiting on standard input.
std::string left()
{
    int n = 0;
    ::ioctl(STDIN_FILENO, FIONREAD, &n);
    return "left:" + std::to_string(n);
}

// Braces, unlike +, evaluate in order.
std::string inOrder(std::initializer_list<std::string> steps)
{
    std::string all;
    for (const std::string& step : steps)
        all += step;
    return all;
}

TEST(ValueLine, ReadsUpToTheEndOfTheLineAndNotBeyond)
{
    EXPECT_EQ(inChild("65\nqr", Input::KeptOpen, [] { return inOrder({w(), left()}); }), "65 left:2");
    EXPECT_EQ(inChild("65\nqr", Input::KeptOpen, [] { return inOrder({w(), key(), key()}); }), "65 q r ");
    EXPECT_EQ(inChild("\n  \n\t 9\nq", Input::KeptOpen, [] { return inOrder({w(), key()}); }), "9 q ");
}

TEST(ValueLine, RestOfAValueLineIsNeverTakenAsKeys)
{
    // The rest stays for the next value; the pause after it takes a real key.
    EXPECT_EQ(inChild("7abc\nxy", Input::KeptOpen, [] { return inOrder({w(), key(), w(), left()}); }),
              "7 x invalid+pause left:0");
    EXPECT_EQ(inChild("7 8\nx", Input::KeptOpen, [] { return inOrder({w(), key(), w(), left()}); }), "7 x 8 left:0");
    // Arrow keys and X typed on the value line are text, not keys.
    EXPECT_EQ(inChild("5 \x1b[Ax\nq", Input::KeptOpen, [] { return inOrder({w(), key()}); }), "5 q ");
}

TEST(ValueLine, EntryThatIsNoNumberGoesWithItsLine)
{
    EXPECT_EQ(inChild("abc\nk42\nq", Input::KeptOpen, [] { return inOrder({w(), w(), key()}); }), "invalid+pause 42 q ");
    EXPECT_EQ(inChild("4294967296 3\nk9\n", Input::KeptOpen, [] { return inOrder({w(), w(), left()}); }),
              "invalid+pause 9 left:0");
}

TEST(ValueLine, OverlongLineIsReadToItsEndAndTheKeysAfterItStayKeys)
{
    const std::string line = "5" + std::string(20000, 'a') + "\nkq";
    // The second W meets the rest of the line and drops it to the line's end, no further.
    EXPECT_EQ(inChild(line, Input::KeptOpen, [] { return inOrder({w(), w(), key()}); }), "5 invalid+pause q ");
}

TEST(ValueLine, LongEntryIsReadAsAStreamNeverCut)
{
    EXPECT_EQ(inChild(std::string(5000, ' ') + "66\nq", Input::KeptOpen, [] { return inOrder({w(), key()}); }), "66 q ");
    EXPECT_EQ(inChild(std::string(5000, '0') + "65\nq", Input::KeptOpen, [] { return inOrder({w(), key()}); }), "65 q ");
    EXPECT_EQ(inChild(std::string(5000, '9') + "\nq", Input::Ended, [] { return inOrder({w(), key()}); }),
              "invalid+pause end ");
    // What is left past the part held goes before the keys are read, up to its end.
    EXPECT_EQ(inChild("7" + std::string(20000, ' ') + "x\nq", Input::KeptOpen, [] { return inOrder({w(), key()}); }),
              "7 q ");
}

// Each edit as the line editor makes it, in a field of `width` cells: what the
// field shows at once, where the cursor stands, and the text Enter takes. The
// field scrolls with the cursor, and characters keep their cells. Which key
// makes which edit is the end-to-end test's to prove.
TEST(ValueLine, EachEditShowsAtOnceWithTheCursorInItsField)
{
    using enum Edit;
    using Step = std::variant<std::string, Edit>;
    struct Case {
        const char* name;
        unsigned width;
        std::vector<Step> steps;
        std::string shown;  // with | where the cursor stands
        std::string text;
    };
    // One cell for every character of these texts: every byte but a UTF-8 continuation.
    const auto cells = [](const std::string& text) {
        return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xc0) != 0x80; }));
    };
    const auto edit = std::make_unique<LineEdit>();
    char echo[ECHO_BYTES];
    const auto expectEdits = [&](const Case& c) {
        SCOPED_TRACE(c.name);
        Screen screen(1, 20);
        startLine(*edit);
        for (const Step& step : c.steps) {
            if (const auto* text = std::get_if<std::string>(&step)) {
                for (const char byte : *text)
                    insertByte(*edit, static_cast<std::uint8_t>(byte));
            } else {
                applyEdit(*edit, std::get<Edit>(step));
            }
            screen.feed(std::string_view(echo, redrawLine(*edit, c.width, echo)));
        }
        const std::size_t bar = c.shown.find('|');
        std::string shown = c.shown.substr(0, bar) + c.shown.substr(bar + 1);
        shown.erase(shown.find_last_not_of(' ') + 1);
        EXPECT_EQ(screen.line(0), shown);
        EXPECT_EQ(screen.cursorCol(), cells(c.shown.substr(0, bar)));
        EXPECT_EQ(std::string(edit->text, edit->size), c.text);
        EXPECT_TRUE(screen.violations().empty()) << screen.violations().front();
    };
    // A C1 control and a stray byte show as "?", control bytes as ^X.
    const std::string odd = "\xc3\xa9" "a\xc2\x9b\xff\x01";
    for (const Case& c : {
             Case{"left", 16, {"25", LEFT, "1"}, "21|5", "215"},
             Case{"right", 16, {"25", LEFT, LEFT, RIGHT, "0"}, "20|5", "205"},
             Case{"home", 16, {"5", HOME, "1"}, "1|5", "15"},
             Case{"end", 16, {"5", HOME, END, "1"}, "51|", "51"},
             Case{"delete under", 16, {"123", HOME, DELETE_UNDER}, "|23", "23"},
             Case{"erase before", 16, {"123", LEFT, ERASE_BEFORE}, "1|3", "13"},
             Case{"kill before", 16, {"9 12", LEFT, LEFT, KILL_BEFORE}, "|12", "12"},
             Case{"word before", 16, {"34 12", WORD_BEFORE}, "34 |", "34 "},
             Case{"UTF-8 left", 16, {"1\xc3\xa9", LEFT}, "1|\xc3\xa9", "1\xc3\xa9"},
             Case{"UTF-8 delete", 16, {"1\xc3\xa9", LEFT, DELETE_UNDER}, "1|", "1"},
             Case{"UTF-8 erase", 16, {"1\xc3\xa9", ERASE_BEFORE}, "1|", "1"},
             Case{"scrolled to the end", 8, {"123456789"}, "3456789|", "123456789"},
             Case{"scrolled to the start", 8, {"123456789", HOME}, "|12345678", "123456789"},
             Case{"killed whole", 8, {"123456789", HOME, KILL_BEFORE, END, KILL_BEFORE}, "|", ""},
             Case{"stand-ins", 8, {odd}, "\xc3\xa9" "a??^A|", odd},
             Case{"left over stand-ins", 8, {odd, LEFT, LEFT, LEFT, LEFT}, "\xc3\xa9|a??^A", odd},
             Case{"erase before stand-ins", 8, {odd, LEFT, LEFT, LEFT, LEFT, ERASE_BEFORE}, "|a??^A", odd.substr(2)},
         })
        expectEdits(c);
    // Where the terminal's set is a single-byte one, each byte is a character
    // and none above 0x7f is echoed: 0x80-0x9F are control codes there.
    {
        const LocaleGlyphs ascii("C");
        expectEdits({"single-byte set", 8, {"1\xc3\xa9"}, "1??|", "1\xc3\xa9"});
        expectEdits({"single-byte erase", 8, {"1\xc3\xa9", ERASE_BEFORE}, "1?|", "1\xc3"});
    }
    // Past the room it has, the line is marked rather than cut.
    startLine(*edit);
    for (std::size_t i = 0; i <= LINE_BYTES; ++i)
        insertByte(*edit, '1');
    EXPECT_TRUE(edit->overflowed);
    EXPECT_EQ(edit->size, LINE_BYTES);
}

TEST(ValueLine, EndOfInputAtThePromptEndsTheKeysToo)
{
    // Rejected, the pause returns at once, and the browse loop would end.
    EXPECT_EQ(inChild("", Input::Ended, [] { return inOrder({w(), key(), key()}); }), "invalid+pause end end ");
    EXPECT_EQ(inChild("  \n ", Input::Ended, [] { return inOrder({w(), w(), key()}); }), "invalid+pause invalid+pause end ");
    // A last line without its end still counts.
    EXPECT_EQ(inChild("12", Input::Ended, [] { return inOrder({w(), key()}); }), "12 end ");
}

// Deep enough to run out of stack; the compiler cannot tell that it never ends.
int descend(unsigned long depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == 0)
        return frame[0];
    return descend(depth + 1) + frame[0];
}

// The console writes its sequences to a terminal only: the overflow runs in a
// child whose output is a pseudo-terminal, and what reaches it is passed on to
// standard error, where the death test sees it, before this process dies as
// the child did.
void overflowTheStackWithTheConsole()
{
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        std::_Exit(70);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(master);
        // The console writes only to its own controlling terminal.
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        ::dup2(slave, STDOUT_FILENO);
        ::setenv("TERM", "xterm", 1);
        // As main starts: the faults as a fresh process has them, the console, then the guard.
        ::signal(SIGSEGV, SIG_DFL);
        ::signal(SIGBUS, SIG_DFL);
        beginConsole();
        if (!installGuard())
            std::_Exit(44);
        std::_Exit(descend(1));
    }
    ::close(slave);
    char buffer[256];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
        if (::write(STDERR_FILENO, buffer, static_cast<size_t>(n)) != n)
            std::_Exit(73);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFSIGNALED(status))
        std::_Exit(71);
    ::signal(WTERMSIG(status), SIG_DFL);
    ::raise(WTERMSIG(status));
    std::_Exit(72);
}

TEST(ConsoleDeathTest, StackOverflowStillGivesTheTerminalBack)
{
#if GLEANHEX_ASAN
    GTEST_SKIP() << "AddressSanitizer reports the overflow itself";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Autowrap back on and colours reset: the handler ran, on a stack of its own.
    EXPECT_EXIT(overflowTheStackWithTheConsole(), ::testing::KilledBySignal(SIGSEGV), "\\?7h.\\[0m");
}

}  // namespace
