// Raw memory bytes on a Windows console: each byte goes out as itself and the
// console's single-byte code page draws it, control codes included (the console
// only acts on bell, backspace, tab, line feed and carriage return, which the
// view names instead of drawing).

#include <array>

#include "console/console.h"

namespace {

constexpr std::array<std::array<char, 2>, 256> makeGlyphs()
{
    std::array<std::array<char, 2>, 256> glyphs{};
    for (unsigned b = 0; b < 256; ++b)
        glyphs[b][0] = static_cast<char>(b);
    return glyphs;
}

constexpr std::array<std::array<char, 2>, 256> GLYPHS = makeGlyphs();

}  // namespace

const char* byteGlyph(unsigned char byte)
{
    return GLYPHS[byte].data();
}
