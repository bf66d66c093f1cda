// Raw memory on the screen: whatever the bytes are, they show as one printable
// column each and never reach the terminal as control codes.

#include "view/view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <string>

#include "support/locale_glyphs.h"
#include "view_screen.h"

namespace {

// Nothing but the console's own colour and clear sequences, the line breaks,
// and printable characters.
void expectOnlyPrintable(const Screen& screen)
{
    EXPECT_EQ(screen.clears(), 1);
    for (const std::string& what : screen.violations())
        ADD_FAILURE() << "from memory on screen: " << what;
}

// Each grid row must be exactly as wide as its text claims: a cell that took
// more or less than one column would shift everything after it.
void expectGridColumns(const Screen& screen, Address blockStart)
{
    const bool haveWidths = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
    for (unsigned r = 0; r < BLOCK_ROWS; ++r) {
        const int row = FIRST_GRID_ROW + static_cast<int>(r);
        const std::size_t width = hex(blockStart + r * 16).size();
        ASSERT_EQ(screen.width(row), static_cast<int>(width + 69)) << "row " << r;
        for (int i = 0; haveWidths && i < screen.width(row); ++i) {
            const std::string& glyph = screen.cell(row, i).glyph;
            wchar_t c = 0;
            std::mbstate_t state{};
            ASSERT_EQ(std::mbrtowc(&c, glyph.data(), glyph.size(), &state), glyph.size());
            EXPECT_EQ(::wcwidth(c), 1) << "row " << r << " character " << i << " U+" << std::hex
                                       << static_cast<unsigned>(c);
        }
    }
    std::setlocale(LC_CTYPE, "C");
}

TEST(ViewRawBytes, EscapeSequencesInMemoryStayInert)
{
    alignas(16) unsigned char block[BLOCK_BYTES];
    for (unsigned i = 0; i < BLOCK_BYTES; ++i)
        block[i] = i % 2 == 0 ? 0x1b : 0x9b;
    const char hostile[] =
        "\x1b\x9b\x07"
        "\x1b]0;title\x07"     // set the window title
        "\x1b[31m\x1b[2J"      // colour, erase the screen
        "\x9b" "2J\x90q\x9c"   // eight-bit CSI, DCS, ST
        "\x1b" "c\x1b[?1049h"  // reset, alternate screen
        "\r\x08\x7f\x85";
    std::memcpy(block, hostile, sizeof hostile - 1);
    const Address b = reinterpret_cast<Address>(block);

    const Screen screen = drawn(b, b, 0, 0).screen;
    expectOnlyPrintable(screen);
    expectGridColumns(screen, b);
    // The start of row 0 as a code page 437 console shows it.
    EXPECT_EQ(screen.shown(FIRST_GRID_ROW, charColumn(hex(b).size(), 0)), "\u2190\u00a2 \u2190]0;title \u2190[3");
    EXPECT_EQ(screen.shown(PANEL_ROW), "Selected Byte: [\u2190] HEX:1b Decimal: 27");
    EXPECT_EQ(drawn(b, b, 0, 1).screen.shown(PANEL_ROW), "Selected Byte: [\u00a2] HEX:9b Decimal: 155");
    EXPECT_EQ(drawn(b, b, 0, 2).screen.shown(PANEL_ROW), "Selected Byte: [Bell] HEX:7 Decimal: 7");
}

TEST(ViewRawBytes, EveryByteValueShowsAsOneColumn)
{
    alignas(16) unsigned char bytes[2 * BLOCK_BYTES];
    for (unsigned i = 0; i < sizeof bytes; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    for (const Address b : {reinterpret_cast<Address>(bytes), reinterpret_cast<Address>(bytes + BLOCK_BYTES)}) {
        const Screen screen = drawn(b, b, 0, 0).screen;
        expectOnlyPrintable(screen);
        expectGridColumns(screen, b);
    }
    // Printable ASCII shows as itself.
    const std::string row = drawn(reinterpret_cast<Address>(bytes + 32), 0, 0, 0).screen.shown(FIRST_GRID_ROW);
    EXPECT_EQ(row.substr(row.size() - 16), " !\"#$%&'()*+,-./");
}

TEST(ViewRawBytes, EveryByteValueAsTheSelectedByte)
{
    alignas(16) unsigned char block[BLOCK_BYTES];
    const Address b = reinterpret_cast<Address>(block);
    for (unsigned v = 0; v < 256; ++v) {
        SCOPED_TRACE("value " + std::to_string(v));
        std::memset(block, static_cast<int>(v), sizeof block);
        const Screen screen = drawn(b, b, 9, 4).screen;
        expectOnlyPrintable(screen);
        const std::string panel = screen.shown(PANEL_ROW);
        const std::string tail = "] HEX:" + hex(v) + " Decimal: " + std::to_string(v);
        ASSERT_GT(screen.width(PANEL_ROW), static_cast<int>(16 + tail.size()));
        EXPECT_EQ(panel.substr(panel.size() - tail.size()), tail);
        const bool named = v == 0 || (v >= 7 && v <= 13);
        if (!named) {
            EXPECT_EQ(screen.width(PANEL_ROW), static_cast<int>(16 + 1 + tail.size())) << "the byte itself, as one character";
        }
    }
}

// A single-byte character set, where 0x80-0x9F are control codes and the rest
// differ from set to set: printable ASCII as itself, every other byte as '.'.
TEST(ViewRawBytes, EightBitLocaleGetsPrintableAsciiAlone)
{
    const LocaleGlyphs ascii("C");
    ASSERT_FALSE(terminalIsUtf8());
    alignas(16) unsigned char bytes[2 * BLOCK_BYTES];
    for (unsigned i = 0; i < sizeof bytes; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    for (const Address b : {reinterpret_cast<Address>(bytes), reinterpret_cast<Address>(bytes + BLOCK_BYTES)}) {
        const Drawn d = drawn(b, b, 9, 11);
        EXPECT_TRUE(std::none_of(d.raw.begin(), d.raw.end(), [](char c) { return (c & 0x80) != 0; }));
        expectOnlyPrintable(d.screen);
        expectGridColumns(d.screen, b);
    }
    const Address b = reinterpret_cast<Address>(bytes);
    const Screen screen = drawn(b, b, 9, 11).screen;
    const std::string tilde = screen.shown(FIRST_GRID_ROW + 7), c1 = screen.shown(FIRST_GRID_ROW + 9);
    EXPECT_EQ(tilde.substr(tilde.size() - 16), "pqrstuvwxyz{|}~.");
    EXPECT_EQ(c1.substr(c1.size() - 16), "................");
    EXPECT_EQ(screen.shown(PANEL_ROW), "Selected Byte: [.] HEX:9b Decimal: 155");
}

}  // namespace
