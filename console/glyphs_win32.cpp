// Raw memory bytes on a Windows console: each byte goes out as itself and the
// console's single-byte code page draws it, control codes included (the console
// only acts on bell, backspace, tab, line feed and carriage return, which the
// view names instead of drawing).
//
// Wine's console inside a Unix terminal is the exception: it hands control
// codes on to that terminal as they are, where bytes of memory would act as its
// commands (an escape byte starts a control sequence). There, a byte that the
// code page does not map to a visible character shows as '.'.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <array>

#include "console/console.h"

namespace {

using Glyphs = std::array<std::array<char, 2>, 256>;

bool underWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool visibleInCodePage(unsigned char byte, UINT codePage)
{
    const char in = static_cast<char>(byte);
    wchar_t out = 0;
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, &in, 1, &out, 1) != 1)
        return false;
    return out >= 0x20 && (out < 0x7f || out >= 0xa0);
}

Glyphs makeGlyphs()
{
    Glyphs glyphs{};
    const bool safeOnly = underWine();
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0)
        codePage = GetOEMCP();
    for (unsigned b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        glyphs[b][0] = !safeOnly || visibleInCodePage(byte, codePage) ? static_cast<char>(byte) : '.';
    }
    return glyphs;
}

}  // namespace

const char* byteGlyph(unsigned char byte)
{
    // Built at the first draw, after beginConsole has settled the code page.
    static const Glyphs glyphs = makeGlyphs();
    return glyphs[byte].data();
}
