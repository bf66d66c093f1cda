// The console's frame presented to windows of every kind, in process: a
// frame, then a prompt and a message after it, as each window size shows them.

#include "console/frame_posix.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "console/console.h"
#include "support/captured_frame.h"
#include "support/prompt_texts.h"
#include "support/screen.h"
#include "view/view.h"

namespace {

struct Sized {
    int rows;
    int cols;
};

// A known block: "[Welcome Home]" and printable bytes after it.
const unsigned char* knownBlock()
{
    alignas(16) static unsigned char bytes[BLOCK_BYTES] = "[Welcome Home]";
    for (unsigned i = 15; i < BLOCK_BYTES; ++i)
        bytes[i] = static_cast<unsigned char>(0x21 + i % 90);
    return bytes;
}

TEST(FramePresent, FrameThenPromptThenMessageInEveryWindow)
{
    const Address b = reinterpret_cast<Address>(knownBlock());
    for (const Sized size : {Sized{20, 60}, Sized{22, 80}, Sized{25, 85}}) {
        SCOPED_TRACE(std::to_string(size.cols) + "x" + std::to_string(size.rows));
        CapturedFrame out(size.rows, size.cols);
        Screen screen(size.rows, size.cols, Bytes::FROM_PROGRAM);
        drawBlock(b, b, 0, 0);
        screen.feed(out.presented());
        const bool whole = size.rows >= 25;
        // The frame from the top: header, separator cut to the width, grid.
        EXPECT_EQ(screen.line(HEADER_ROW).rfind("Block starting at address: ", 0), 0U);
        EXPECT_EQ(screen.line(1), std::string(static_cast<std::size_t>(size.cols < 80 ? size.cols : 80), '-'));
        EXPECT_NE(screen.line(FIRST_GRID_ROW).find(" : 5b 57 65"), std::string::npos);
        EXPECT_EQ(screen.line(whole ? ADDRESS_ROW : size.rows - 1).empty(), false);

        // A prompt after it takes the window's last lines, and the frame's top stays.
        std::cout << PROMPT;
        screen.feed(out.presented());
        EXPECT_EQ(screen.line(whole ? ADDRESS_ROW + 2 : size.rows - 1), VALUE_LABEL);
        EXPECT_EQ(screen.line(whole ? ADDRESS_ROW + 1 : size.rows - 2),
                  PROMPT_LINE.substr(0, static_cast<std::size_t>(size.cols)));
        EXPECT_EQ(screen.line(HEADER_ROW).rfind("Block starting at address: ", 0), 0U);
        std::cout << "300\n" << INVALID;
        screen.feed(out.presented());
        // Whole, the message scrolls the frame up as a terminal does; fitted,
        // the frame's top stays and nothing scrolls.
        if (!whole) {
            EXPECT_EQ(screen.line(size.rows - 1), PAUSE_LINE);
            EXPECT_EQ(screen.line(HEADER_ROW).rfind("Block starting at address: ", 0), 0U);
            EXPECT_EQ(screen.scrolls(), 0);
        }

        // Drawn again whole, as after a resize: the same screen.
        const std::string before = screen.text();
        out.forget();
        std::cout.flush();
        screen.feed(out.presented());
        EXPECT_EQ(screen.text(), before);
        EXPECT_EQ(screen.scrolls() == 0, !whole);
        EXPECT_TRUE(screen.violations().empty()) << screen.violations().front();
    }
}

TEST(FramePresent, ControlBytesAndBrokenCharactersNeverReachTheTerminal)
{
    CapturedFrame out(30, 100);
    clearScreen();
    // A character split across two writes is still one; the bytes of a cut
    // one, a stray continuation, C0 and C1 controls and an escape show as
    // stand-ins.
    std::cout << "\xe2\x96" << std::flush << "\x88" << " \xe2\x96 \x80 \x1b[31m \x07 \xc2\x9b|";
    const std::string bytes = out.presented();
    Screen screen(30, 100, Bytes::FROM_PROGRAM);
    screen.feed(bytes);
    EXPECT_TRUE(screen.violations().empty()) << screen.violations().front();
    EXPECT_EQ(screen.line(0), "\xe2\x96\x88 ?? ? ^[[31m ^G ?|");
}

}  // namespace
