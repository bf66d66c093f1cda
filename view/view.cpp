#include "view/view.h"

#include <cstddef>
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

// Numbers formatted by hand, straight into the text of a line: a frame is
// written at every key press.
constexpr char DIGITS[] = "0123456789abcdef";

std::size_t putHex(char* out, Address a)
{
    char digits[sizeof(Address) * 2];
    std::size_t n = 0;
    do {
        digits[n++] = DIGITS[a & 0xf];
        a >>= 4;
    } while (a != 0);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = digits[n - 1 - i];
    return n;
}

std::size_t putDecimal(char* out, Address a)
{
    char digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + a % 10);
        a /= 10;
    } while (a != 0);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = digits[n - 1 - i];
    return n;
}

std::size_t putText(char* out, const char* text)
{
    std::size_t n = 0;
    for (; text[n] != '\0'; ++n)
        out[n] = text[n];
    return n;
}

// Writes what `text` holds so far, and starts it again.
void writeOut(char* text, std::size_t& n)
{
    std::cout.write(text, static_cast<std::streamsize>(n));
    n = 0;
}

void drawRow(ConsoleHandle h, const Snapshot& chr, Address blockStart, unsigned r, unsigned row, unsigned col)
{
    // The widest row: a 16-digit address, 16 cells of 3, and 16 glyphs of up to 3 bytes each.
    char text[160]{};
    std::size_t n = 0;
    setTextAttribute(h, ATTR_NORMAL);
    n += putHex(text + n, blockStart + Address{r} * BLOCK_COLS);
    n += putText(text + n, " :");
    for (unsigned c = 0; c < BLOCK_COLS; ++c) {
        text[n++] = ' ';
        const bool selected = r == row && c == col;
        if (selected) {
            writeOut(text, n);
            setTextAttribute(h, ATTR_SELECTED);
        }
        text[n++] = DIGITS[chr[r][c] >> 4];
        text[n++] = DIGITS[chr[r][c] & 0xf];
        if (selected) {
            writeOut(text, n);
            setTextAttribute(h, ATTR_NORMAL);
        }
    }
    n += putText(text + n, " : ");
    for (unsigned c = 0; c < BLOCK_COLS; ++c) {
        const bool selected = r == row && c == col;
        if (selected) {
            writeOut(text, n);
            setTextAttribute(h, ATTR_SELECTED);
        }
        n += putText(text + n, cellText(chr[r][c]));
        if (selected) {
            writeOut(text, n);
            setTextAttribute(h, ATTR_NORMAL);
        }
    }
    text[n++] = '\n';
    writeOut(text, n);
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
    char text[128];
    std::size_t n = putText(text, "Block starting at address: ");
    n += putHex(text + n, blockStart);
    n += putText(text + n, " (");
    n += putDecimal(text + n, distanceFromHome(selected, home));
    n += putText(text + n, " Bytes from home)\n");
    writeOut(text, n);
    std::cout << SEPARATOR;

    const Snapshot chr = snapshotBlock(blockStart);
    for (unsigned r = 0; r < BLOCK_ROWS; ++r)
        drawRow(h, chr, blockStart, r, row, col);

    setTextAttribute(h, ATTR_FRAME);
    std::cout << "\n[Arrow Keys] select byte, [PG UP]/[PG DN] read previous/next block"
              << "\n[INS]/[DEL] Scan up/down, [HOME] starting location, [X] exit, [W] write\n";
    const unsigned char v = chr[row][col];
    n = putText(text, "\nSelected Byte: [");
    std::cout.write(text, static_cast<std::streamsize>(n));
    std::cout << representation(v);
    n = putText(text, "] HEX:");
    n += putHex(text + n, v);
    n += putText(text + n, " Decimal: ");
    n += putDecimal(text + n, v);
    n += putText(text + n, "\nAddress: ");
    n += putHex(text + n, selected);
    writeOut(text, n);
    setTextAttribute(h, ATTR_NORMAL);
}
