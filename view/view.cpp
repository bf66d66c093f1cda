#include "view/view.h"

#include <iomanip>
#include <iostream>

#include "console/console.h"
#include "probe/snapshot.h"

// Pointers to literals: built by the compiler, with nothing to destroy at exit.
const std::array<const char*, 7> controlNames = {
    "Bell", "Backspace", "Tab", "Line Feed", "Home", "Form Feed", "New Line",
};

namespace {

constexpr char SEPARATOR[] = "--------------------------------------------------------------------------------\n";
static_assert(sizeof SEPARATOR == 80 + 2);

bool isControlName(unsigned char v) { return v >= 7 && v <= 13; }

// A grid cell: blank for the bytes the panel names, the byte's glyph otherwise.
const char* cellText(unsigned char v)
{
    return v == 0 || isControlName(v) ? " " : byteGlyph(v);
}

const char* representation(unsigned char v)
{
    if (v == 0)
        return "NULL";
    if (isControlName(v)) {
        const char* const name = controlNames[v - 7];
        return name;
    }
    return byteGlyph(v);
}

void drawRow(ConsoleHandle h, const Snapshot& chr, Address blockStart, unsigned r, unsigned row, unsigned col)
{
    setTextAttribute(h, ATTR_NORMAL);
    std::cout << std::hex << blockStart + Address{r} * BLOCK_COLS << " :";
    for (unsigned c = 0; c < BLOCK_COLS; ++c) {
        std::cout << ' ';
        setTextAttribute(h, r == row && c == col ? ATTR_SELECTED : ATTR_NORMAL);
        std::cout << std::setw(2) << std::setfill('0') << unsigned{chr[r][c]};
        setTextAttribute(h, ATTR_NORMAL);
    }
    std::cout << " : ";
    for (unsigned c = 0; c < BLOCK_COLS; ++c) {
        setTextAttribute(h, r == row && c == col ? ATTR_SELECTED : ATTR_NORMAL);
        std::cout << cellText(chr[r][c]);
    }
    std::cout << '\n';
}

}  // namespace

Address distanceFromHome(Address selected, Address home)
{
    // Read as signed without leaving unsigned arithmetic: exactly half the space
    // stays positive and nothing overflows.
    const Address difference = selected - home;
    constexpr Address HALF = Address{1} << (sizeof(Address) * 8 - 1);
    return difference > HALF ? Address{0} - difference : difference;
}

void drawBlock(Address blockStart, Address home, unsigned row, unsigned col)
{
    const ConsoleHandle h = outputHandle();
    setTextAttribute(h, ATTR_FRAME);
    clearScreen();
    const Address selected = selectedAddress(blockStart, row, col);
    std::cout << "Block starting at address: " << std::hex << blockStart << " (" << std::dec
              << distanceFromHome(selected, home) << " Bytes from home)\n";
    std::cout << SEPARATOR;

    const Snapshot chr = snapshotBlock(blockStart);
    for (unsigned r = 0; r < BLOCK_ROWS; ++r)
        drawRow(h, chr, blockStart, r, row, col);

    setTextAttribute(h, ATTR_FRAME);
    std::cout << "\n[Arrow Keys] select byte, [PG UP]/[PG DN] read previous/next block"
              << "\n[INS]/[DEL] Scan up/down, [HOME] starting location, [X] exit, [W] write\n";
    const unsigned char v = chr[row][col];
    std::cout << "\nSelected Byte: [" << representation(v) << "] HEX:" << std::hex << unsigned{v}
              << " Decimal: " << std::dec << unsigned{v} << '\n';
    std::cout << "Address: " << std::hex << selected;
    setTextAttribute(h, ATTR_NORMAL);
}
