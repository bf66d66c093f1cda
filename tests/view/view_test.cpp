// The block view as the user sees it: every line of text, and the colour of
// every character.

#include "view/view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "support/pages.h"
#include "view_screen.h"

namespace {

constexpr Address HALF = Address{1} << (sizeof(Address) * 8 - 1);

std::string twoDigits(unsigned v)
{
    char s[3];
    std::snprintf(s, sizeof s, "%02x", v);
    return s;
}

// A block of our own, in memory the test controls.
struct Memory {
    alignas(16) unsigned char bytes[BLOCK_BYTES] = {};
    Address start() const { return reinterpret_cast<Address>(bytes); }
};

Memory knownBlock()
{
    Memory m;
    std::memcpy(m.bytes, "[Welcome Home]\0?", 16);
    for (unsigned i = 16; i < BLOCK_BYTES; ++i)
        m.bytes[i] = static_cast<unsigned char>(0x21 + i % 90);  // printable ASCII, shown as itself
    return m;
}

TEST(View, KnownBlockIsTextExact)
{
    const Memory m = knownBlock();
    const Address b = m.start();
    const Drawn d = drawn(b, b, 2, 3);

    std::vector<std::string> want;
    want.push_back("Block starting at address: " + hex(b) + " (35 Bytes from home)");
    want.push_back(std::string(80, '-'));
    want.push_back(hex(b) + " : 5b 57 65 6c 63 6f 6d 65 20 48 6f 6d 65 5d 00 3f : [Welcome Home] ?");
    for (unsigned r = 1; r < BLOCK_ROWS; ++r) {
        std::string hexes, chars;
        for (unsigned c = 0; c < BLOCK_COLS; ++c) {
            hexes += " " + twoDigits(m.bytes[r * 16 + c]);
            chars += static_cast<char>(m.bytes[r * 16 + c]);
        }
        want.push_back(hex(b + r * 16) + " :" + hexes + " : " + chars);
    }
    want.push_back("");
    want.push_back("[Arrow Keys] select byte, [PG UP]/[PG DN] read previous/next block");
    want.push_back("[INS]/[DEL] Scan up/down, [HOME] starting location, [X] exit, [W] write");
    want.push_back("");
    const unsigned v = m.bytes[35];
    want.push_back("Selected Byte: [" + std::string(1, static_cast<char>(v)) + "] HEX:" + hex(v) +
                   " Decimal: " + std::to_string(v));
    want.push_back("Address: " + hex(b + 35));  // the last line: no line break after it
    EXPECT_EQ(linesOf(d.screen), want);

    const std::string start = "\x1b[0;93;40m\x1b[H\x1b[J";
    EXPECT_EQ(d.raw.substr(0, start.size()), start) << "frame colours, then a clear";
    EXPECT_EQ(d.screen.clears(), 1);
    EXPECT_TRUE(d.screen.violations().empty());
}

TEST(View, FrameNormalAndSelectedColours)
{
    const Memory m = knownBlock();
    const Address b = m.start();
    const Drawn d = drawn(b, b, 2, 3);
    const std::size_t width = hex(b).size();

    for (int row = 0; row < FRAME_ROWS; ++row) {
        const bool grid = row >= FIRST_GRID_ROW && row < FIRST_GRID_ROW + static_cast<int>(BLOCK_ROWS);
        for (int i = 0; i < d.screen.width(row); ++i) {
            int want = grid ? ATTR_NORMAL : ATTR_FRAME;
            if (row == FIRST_GRID_ROW + 2 && (i == hexColumn(width, 3) || i == hexColumn(width, 3) + 1 || i == charColumn(width, 3)))
                want = ATTR_SELECTED;
            EXPECT_EQ(attributeOf(d.screen.cell(row, i)), want) << "row " << row << " column " << i;
        }
    }
    EXPECT_EQ(attributeOf(d.screen.fg(), d.screen.bg()), ATTR_NORMAL) << "later texts appear in the normal colours";
    EXPECT_NE(d.raw.find("\x1b[0;92;42m"), std::string::npos) << "bright green on green";
    EXPECT_NE(d.raw.find("\x1b[0;97;40m"), std::string::npos) << "bright white on black";
}

TEST(View, LastCellSelectedIsHighlightedInBothAreas)
{
    const Memory m = knownBlock();
    const Address b = m.start();
    const Drawn d = drawn(b, b, 14, 15);
    const Screen& screen = d.screen;
    const std::size_t width = hex(b).size();
    const int row = FIRST_GRID_ROW + 14;
    EXPECT_EQ(attributeOf(screen.cell(row, hexColumn(width, 15))), ATTR_SELECTED);
    EXPECT_EQ(attributeOf(screen.cell(row, hexColumn(width, 15) + 1)), ATTR_SELECTED);
    EXPECT_EQ(attributeOf(screen.cell(row, charColumn(width, 15))), ATTR_SELECTED);
    EXPECT_EQ(attributeOf(screen.cell(row, hexColumn(width, 15) - 1)), ATTR_NORMAL) << "the space before the cell";
    int selected = 0;
    for (int r = 0; r < screen.rows(); ++r)
        for (int c = 0; c < screen.width(r); ++c)
            selected += attributeOf(screen.cell(r, c)) == ATTR_SELECTED ? 1 : 0;
    EXPECT_EQ(selected, 3);
    EXPECT_EQ(screen.shown(HEADER_ROW), "Block starting at address: " + hex(b) + " (239 Bytes from home)");
    EXPECT_EQ(screen.shown(ADDRESS_ROW), "Address: " + hex(b + 239));

}

struct PanelCase {
    unsigned char value;
    const char* cellHex;
    const char* cellChar;
    const char* panel;
};

TEST(View, SelectedByteInTheGridAndThePanel)
{
    const PanelCase cases[] = {
        {0, "00", " ", "Selected Byte: [NULL] HEX:0 Decimal: 0"},
        {7, "07", " ", "Selected Byte: [Bell] HEX:7 Decimal: 7"},
        {8, "08", " ", "Selected Byte: [Backspace] HEX:8 Decimal: 8"},
        {9, "09", " ", "Selected Byte: [Tab] HEX:9 Decimal: 9"},
        {10, "0a", " ", "Selected Byte: [Line Feed] HEX:a Decimal: 10"},
        {11, "0b", " ", "Selected Byte: [Home] HEX:b Decimal: 11"},
        {12, "0c", " ", "Selected Byte: [Form Feed] HEX:c Decimal: 12"},
        {13, "0d", " ", "Selected Byte: [New Line] HEX:d Decimal: 13"},
        {65, "41", "A", "Selected Byte: [A] HEX:41 Decimal: 65"},
        {27, "1b", "\u2190", "Selected Byte: [\u2190] HEX:1b Decimal: 27"},  // code page 437's arrow
        {0xff, "ff", "\u00a0", "Selected Byte: [\u00a0] HEX:ff Decimal: 255"},
    };
    for (const PanelCase& pc : cases) {
        SCOPED_TRACE("value " + std::to_string(pc.value));
        Memory m;
        m.bytes[5 * 16 + 9] = pc.value;
        const Screen screen = drawn(m.start(), m.start(), 5, 9).screen;
        const std::size_t width = hex(m.start()).size();
        const int row = FIRST_GRID_ROW + 5;
        ASSERT_EQ(screen.width(row), static_cast<int>(width + 69));
        EXPECT_EQ(screen.shown(row, hexColumn(width, 9), 2), pc.cellHex);
        EXPECT_EQ(screen.shown(row, charColumn(width, 9), 1), pc.cellChar);
        EXPECT_EQ(screen.shown(PANEL_ROW), pc.panel);
    }
}

TEST(View, UnreadableBlockShowsQuestionMarks)
{
    const Pages page(1, PageAccess::none);
    const Address b = page.address(0);
    const Screen screen = drawn(b, b, 7, 7).screen;
    for (unsigned r = 0; r < BLOCK_ROWS; ++r)
        EXPECT_EQ(screen.shown(FIRST_GRID_ROW + static_cast<int>(r)),
                  hex(b + r * 16) + " : 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f 3f : ????????????????");
    EXPECT_EQ(screen.shown(PANEL_ROW), "Selected Byte: [?] HEX:3f Decimal: 63");
}

TEST(View, BlockWrappingPastTheTopOfTheSpace)
{
    const Screen screen = drawn(TOP - 15, 0x1000, 0, 0).screen;
#if UINTPTR_MAX > 0xffff'ffffU
    EXPECT_EQ(screen.shown(HEADER_ROW), "Block starting at address: fffffffffffffff0 (4112 Bytes from home)");
    EXPECT_EQ(screen.shown(FIRST_GRID_ROW, 0, 19), "fffffffffffffff0 : ");
#else
    EXPECT_EQ(screen.shown(HEADER_ROW), "Block starting at address: fffffff0 (4112 Bytes from home)");
    EXPECT_EQ(screen.shown(FIRST_GRID_ROW, 0, 11), "fffffff0 : ");
#endif
    EXPECT_EQ(screen.shown(FIRST_GRID_ROW + 1, 0, 4), "0 : ");
    EXPECT_EQ(screen.shown(FIRST_GRID_ROW + 14, 0, 5), "d0 : ");
}

TEST(View, DistanceFromHomeEitherWay)
{
#if UINTPTR_MAX > 0xffff'ffffU
    const Address h = 0x7ffd12345678;
    const std::string half = "9223372036854775808";
#else
    const Address h = 0xbf812345;
    const std::string half = "2147483648";
#endif
    EXPECT_EQ(distanceFromHome(h, h), 0U);
    EXPECT_EQ(distanceFromHome(h + 5, h), 5U);
    EXPECT_EQ(distanceFromHome(h - 5, h), 5U);
    EXPECT_EQ(distanceFromHome(0, TOP), 1U) << "round the top of the space";
    EXPECT_EQ(distanceFromHome(TOP, 0), 1U);
    EXPECT_EQ(distanceFromHome(h + HALF, h), HALF) << "exactly half: positive";
    EXPECT_EQ(distanceFromHome(h, h + HALF), HALF);
    EXPECT_EQ(distanceFromHome(h + HALF + 1, h), HALF - 1) << "beyond half: the other way round";
    EXPECT_EQ(distanceFromHome(h + HALF - 1, h), HALF - 1);

    // The header shows the selected byte's distance, not the block's.
    EXPECT_EQ(drawn(h - 0x100, h, 1, 2).screen.shown(HEADER_ROW),
              "Block starting at address: " + hex(h - 0x100) + " (238 Bytes from home)");
    EXPECT_EQ(drawn(h + HALF, h, 0, 0).screen.shown(HEADER_ROW),
              "Block starting at address: " + hex(h + HALF) + " (" + half + " Bytes from home)");
}

}  // namespace
