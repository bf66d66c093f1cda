// Keys, pauses and the write prompt on Windows with standard input redirected,
// the way a script drives the program: the bytes of the input are the key codes,
// a pause takes one whole key, and W reports what the guard reports.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "console/console.h"
#include "support/pages.h"
#include "probe/write_prompt.h"
#include "support/prompt_texts.h"

namespace {


// Standard input is a pipe (never a console, whatever ran the tests) and
// std::cin reads `input`; std::cout is captured.
class RedirectedInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreatePipe(&pipeRead_, &pipeWrite_, nullptr, 0));
        savedStdin_ = GetStdHandle(STD_INPUT_HANDLE);
        SetStdHandle(STD_INPUT_HANDLE, pipeRead_);
        savedCin_ = std::cin.rdbuf(&input_);
        savedCout_ = std::cout.rdbuf(output_.rdbuf());
    }
    void TearDown() override
    {
        std::cout.rdbuf(savedCout_);
        std::cin.rdbuf(savedCin_);
        std::cin.clear();
        SetStdHandle(STD_INPUT_HANDLE, savedStdin_);
        CloseHandle(pipeRead_);
        CloseHandle(pipeWrite_);
    }

    void type(const std::string& bytes) { input_.str(bytes); }
    std::string shown() const { return output_.str(); }
    void clearShown() { output_.str(""); }

private:
    HANDLE pipeRead_ = nullptr;
    HANDLE pipeWrite_ = nullptr;
    HANDLE savedStdin_ = nullptr;
    std::stringbuf input_;
    std::ostringstream output_;
    std::streambuf* savedCin_ = nullptr;
    std::streambuf* savedCout_ = nullptr;
};

TEST_F(RedirectedInput, BytesAreTheKeysAndALeadByteGoesWithItsCode)
{
    // Shift+F5 and Shift+F4 are 0 then the codes of 'X' and 'W', and the
    // keypad's Up and Down with NumLock off are 0 then the cursor block's codes.
    type(std::string("aX\xe0" "H\0;\0X\0W\0H\0P\xe0" "w", 16));
    EXPECT_EQ(readKey(), 'a');
    EXPECT_EQ(readKey(), 'X');
    EXPECT_EQ(readKey(), KEY_UP);
    EXPECT_EQ(readKey(), KEY_F1);
    EXPECT_EQ(readKey(), KEY_OTHER);
    EXPECT_EQ(readKey(), KEY_OTHER);
    EXPECT_EQ(readKey(), KEY_UP);
    EXPECT_EQ(readKey(), KEY_DOWN);
    EXPECT_EQ(readKey(), KEY_OTHER) << "Ctrl+Home is no W";
    EXPECT_EQ(readKey(), END_OF_INPUT);
    EXPECT_EQ(readKey(), END_OF_INPUT) << "the end stays the end";
}

TEST_F(RedirectedInput, PauseTakesOneWholeKey)
{
    type(std::string("q1\xe0" "w2\0x3", 8));
    pauseForKey();
    EXPECT_EQ(readKey(), '1');
    pauseForKey();
    EXPECT_EQ(readKey(), '2') << "the code after 0xe0 belongs to the pause";
    pauseForKey();
    EXPECT_EQ(readKey(), '3') << "the code after 0 belongs to the pause";
    EXPECT_EQ(shown(), PAUSE + PAUSE + PAUSE);
}

TEST_F(RedirectedInput, PauseAtTheEndOfInputReturns)
{
    type("");
    pauseForKey();
    EXPECT_EQ(shown(), PAUSE);
    EXPECT_EQ(readKey(), END_OF_INPUT);
}

TEST_F(RedirectedInput, WriteStoresTheValueAndSaysNothingMore)
{
    Pages pages(1);
    type("65\nx");
    promptWrite(pages.address(0), 1, 2);
    EXPECT_EQ(pages.page(0)[18], 65);
    EXPECT_EQ(shown(), PROMPT);
}

// Keys and values share the one buffer here: what is left of a value line
// comes next as keys, so a line end ends the pause.
TEST_F(RedirectedInput, WriteToMemoryThatRefusesItFailsAndPauses)
{
    for (const DWORD protection : {DWORD{PAGE_READONLY}, DWORD{PAGE_NOACCESS}, DWORD{PAGE_READWRITE | PAGE_GUARD}}) {
        SCOPED_TRACE(protection);
        Pages pages(1);
        pages.protect(0, protection);
        clearShown();
        type("200\nx");
        promptWrite(pages.address(5), 0, 0);
        EXPECT_EQ(shown(), PROMPT + "\nWrite failed\n" + PAUSE);
        EXPECT_EQ(readKey(), 'x');
        pages.protect(0, PAGE_READWRITE);
        EXPECT_EQ(pages.page(0)[5], 0);
    }
}

TEST_F(RedirectedInput, RejectedValueLeavesTheByteAndPauses)
{
    Pages pages(1);
    pages.page(0)[0] = 9;
    type("-1 x");
    promptWrite(pages.address(0), 0, 0);
    EXPECT_EQ(pages.page(0)[0], 9);
    EXPECT_EQ(shown(), PROMPT + "\nValue is invalid, aborting.\n" + PAUSE);
    EXPECT_EQ(readKey(), 'x') << "the space after the value ended the pause";
}

}  // namespace
