// The write prompt as the stream sees it: std::cin reads from a string, the
// pause's keys come from a pipe on standard input, and the target is a block of
// this test's own memory whose every other byte must stay as it was.

#include "probe/write_prompt.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "support/pages.h"
#include "support/prompt_texts.h"
#include "support/stdin_from.h"

namespace {

constexpr unsigned char FILL = 0xa5;
constexpr unsigned ROW = 3;
constexpr unsigned COL = 5;

// std::cin reads `values`, std::cout is captured, and standard input holds
// `keys` for the pauses, its write end closed so that a pause too many meets
// end of input instead of hanging.
class PromptWrite : public ::testing::Test {
protected:
    void SetUp() override { memory_.fill(FILL); }

    void keys(const std::string& bytes) { stdin_.emplace(bytes); }
    static std::string unreadKeys() { return StdinFrom::rest(); }

    // One W at `blockStart`'s (ROW, COL); what it wrote to the screen.
    std::string prompt(std::istream& values, Address blockStart)
    {
        std::ostringstream screen;
        std::streambuf* const oldIn = std::cin.rdbuf(values.rdbuf());
        std::streambuf* const oldOut = std::cout.rdbuf(screen.rdbuf());
        promptWrite(blockStart, ROW, COL);
        std::cin.rdbuf(oldIn);
        std::cout.rdbuf(oldOut);
        return screen.str();
    }

    std::string prompt(std::istream& values) { return prompt(values, blockStart()); }

    Address blockStart() const { return reinterpret_cast<Address>(memory_.data()) + 16; }
    unsigned char& target() { return memory_[16 + ROW * 16 + COL]; }

    // Every byte but the target still holds the fill.
    bool restUntouched()
    {
        for (const unsigned char& byte : memory_) {
            if (&byte != &target() && byte != FILL)
                return false;
        }
        return true;
    }

    std::array<unsigned char, 16 + BLOCK_BYTES + 16> memory_{};
    std::optional<StdinFrom> stdin_;
};

// What the user types, for std::cin. Its state belongs to its source: a new
// source starts good.
std::istringstream typed(const std::string& text)
{
    std::cin.clear();
    return std::istringstream(text);
}

TEST_F(PromptWrite, StoresEveryByteValueAndNothingElse)
{
    keys("!");
    for (const auto& [entry, value] : {std::pair{"0\n", 0}, {"255\n", 255}, {"65\n", 65}, {"   42\n", 42},
                                       {"\t 7\n", 7}, {"\n\n  9\n", 9}, {"+3\n", 3}, {"0010\n", 10}}) {
        SCOPED_TRACE(entry);
        std::istringstream values = typed(entry);
        EXPECT_EQ(prompt(values), PROMPT) << "nothing said on success, no pause";
        EXPECT_EQ(target(), value);
        EXPECT_TRUE(restUntouched());
    }
    EXPECT_EQ(unreadKeys(), "!");
}

TEST_F(PromptWrite, RejectsWhatIsNoByteAndLeavesMemoryAlone)
{
    keys("abcdefgh!");
    for (const char* entry : {"256\n", "-1\n", "4294967295\n", "4294967296\n", "99999999999999999999\n",
                              "abc\n", "-\n", "x12\n"}) {
        SCOPED_TRACE(entry);
        std::istringstream values = typed(entry);
        EXPECT_EQ(prompt(values), PROMPT + INVALID);
        EXPECT_EQ(target(), FILL);
        EXPECT_TRUE(restUntouched());
    }
    EXPECT_EQ(unreadKeys(), "!") << "one pause for each rejected entry";
}

TEST_F(PromptWrite, NumberWithTrailingTextIsTakenAndTheRestWaitsForTheNextPrompt)
{
    keys("k!");
    std::istringstream values = typed("7abc\n12\n");
    EXPECT_EQ(prompt(values), PROMPT);
    EXPECT_EQ(target(), 7);
    // The next W meets "abc" at once: rejected, and the rest of that line goes with it.
    EXPECT_EQ(prompt(values), PROMPT + INVALID);
    EXPECT_EQ(target(), 7);
    EXPECT_EQ(prompt(values), PROMPT);
    EXPECT_EQ(target(), 12);
    EXPECT_EQ(unreadKeys(), "!");
}

TEST_F(PromptWrite, AfterAnEntryThatIsNoNumberTheNextPromptTakesAGoodValue)
{
    keys("kk!");
    std::istringstream values = typed("abc def\n4294967296 1\n200\n");
    EXPECT_EQ(prompt(values), PROMPT + INVALID);
    EXPECT_EQ(prompt(values), PROMPT + INVALID) << "too large for 32 bits: its line goes too";
    EXPECT_EQ(prompt(values), PROMPT);
    EXPECT_EQ(target(), 200);
    EXPECT_EQ(unreadKeys(), "!");
}

TEST_F(PromptWrite, ValueAboveAByteKeepsTheRestOfItsLine)
{
    keys("kk!");
    std::istringstream values = typed("-1 5\n");
    EXPECT_EQ(prompt(values), PROMPT + INVALID);
    EXPECT_EQ(prompt(values), PROMPT);
    EXPECT_EQ(target(), 5);
    EXPECT_EQ(unreadKeys(), "k!");
}

TEST_F(PromptWrite, EndOfInputIsAnInvalidValue)
{
    keys("kk!");
    std::istringstream values = typed("   ");
    EXPECT_EQ(prompt(values), PROMPT + INVALID);
    EXPECT_EQ(prompt(values), PROMPT + INVALID) << "and stays so";
    EXPECT_EQ(target(), FILL);
    EXPECT_TRUE(restUntouched());
    EXPECT_EQ(unreadKeys(), "!");
}

// A console's input reports the end of input (Ctrl-Z, Ctrl-D) once; reading on
// after that waits for whatever is typed next.
class ConsoleInput : public std::streambuf {
public:
    bool readOnPastTheEnd = false;

protected:
    int_type underflow() override
    {
        readOnPastTheEnd = ended_;
        ended_ = true;
        return traits_type::eof();
    }

private:
    bool ended_ = false;
};

TEST_F(PromptWrite, EndOfInputIsNotReadPast)
{
    keys("k!");
    ConsoleInput console;
    std::istream values(&console);
    std::cin.clear();
    EXPECT_EQ(prompt(values), PROMPT + INVALID);
    EXPECT_FALSE(console.readOnPastTheEnd) << "the message would wait for another line";
    EXPECT_EQ(unreadKeys(), "!");
}

TEST_F(PromptWrite, ReadsDecimalWhateverBaseTheStreamWasLeftIn)
{
    keys("!");
    std::istringstream values = typed("10\n");
    const std::ios::fmtflags flags = std::cin.flags();
    std::cin >> std::hex;
    EXPECT_EQ(prompt(values), PROMPT);
    std::cin.flags(flags);
    EXPECT_EQ(target(), 10);
}

TEST_F(PromptWrite, FaultingStoreIsReportedAndChangesNothing)
{
    keys("kk!");
    const size_t size = 2 * pageBytes();
    const Pages pages(2);
    for (size_t i = 0; i < size; ++i)
        pages.at(i)[0] = static_cast<unsigned char>(i * 7);
    const Address block = pages.address(pageBytes()) - (ROW * 16 + COL);  // the selected byte opens the second page

    pages.protect(1, PageAccess::read);
    std::istringstream values = typed("65\n66\n");
    EXPECT_EQ(prompt(values, block), PROMPT + FAILED) << "read-only page";
    pages.protect(1, PageAccess::none);
    EXPECT_EQ(prompt(values, block), PROMPT + FAILED) << "inaccessible page";

    pages.protect(1, PageAccess::read);
    for (size_t i = 0; i < size; ++i)
        ASSERT_EQ(pages.at(i)[0], static_cast<unsigned char>(i * 7)) << "byte " << i;
    EXPECT_EQ(unreadKeys(), "!");
}

}  // namespace
