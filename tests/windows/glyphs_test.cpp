// Raw bytes as the character column shows them on Windows: the byte itself for
// the code page to draw, except where Wine would hand a control code on to the
// Unix terminal it runs in.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "console/console.h"

namespace {

bool underWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(GlyphsWin32, EveryByteIsOneCharacter)
{
    for (unsigned b = 1; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        const std::string glyph = byteGlyph(byte);
        ASSERT_EQ(glyph.size(), 1u) << "byte " << b;
        const bool control = b < 0x20 || b == 0x7f;
        if (underWine() && control) {
            EXPECT_EQ(glyph, ".") << "byte " << b << " would reach the terminal as a control code";
        } else if (!control) {
            EXPECT_EQ(glyph, std::string(1, static_cast<char>(byte))) << "byte " << b;
        }
    }
}

}  // namespace
