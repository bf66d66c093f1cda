// Raw memory bytes as a code page 437 console shows them, in UTF-8: every
// value is one printable column and none reaches the terminal as a control code.
// Any other character set gets printable ASCII alone, and '.' for every other
// byte: in a single-byte set 0x80-0x9F are control codes, and what the rest
// show differs from one set to the next. Not '?', which is what an unreadable
// byte (0x3f) shows.

#include "console/glyphs.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

#include "console/console.h"

namespace {

bool utf8 = true;  // chosen once, before the first frame

// clang-format off
const char* const GLYPHS[256] = {
    " ", "\xe2\x98\xba", "\xe2\x98\xbb", "\xe2\x99\xa5", "\xe2\x99\xa6", "\xe2\x99\xa3", "\xe2\x99\xa0", "\xe2\x80\xa2",  // 00
    "\xe2\x97\x98", "\xe2\x97\x8b", "\xe2\x97\x99", "\xe2\x99\x82", "\xe2\x99\x80", "\xe2\x99\xaa", "\xe2\x99\xab", "\xe2\x98\xbc",  // 08
    "\xe2\x96\xba", "\xe2\x97\x84", "\xe2\x86\x95", "\xe2\x80\xbc", "\xc2\xb6", "\xc2\xa7", "\xe2\x96\xac", "\xe2\x86\xa8",  // 10
    "\xe2\x86\x91", "\xe2\x86\x93", "\xe2\x86\x92", "\xe2\x86\x90", "\xe2\x88\x9f", "\xe2\x86\x94", "\xe2\x96\xb2", "\xe2\x96\xbc",  // 18
    " ", "!", "\"", "#", "$", "%", "&", "'",  // 20
    "(", ")", "*", "+", ",", "-", ".", "/",  // 28
    "0", "1", "2", "3", "4", "5", "6", "7",  // 30
    "8", "9", ":", ";", "<", "=", ">", "?",  // 38
    "@", "A", "B", "C", "D", "E", "F", "G",  // 40
    "H", "I", "J", "K", "L", "M", "N", "O",  // 48
    "P", "Q", "R", "S", "T", "U", "V", "W",  // 50
    "X", "Y", "Z", "[", "\\", "]", "^", "_",  // 58
    "`", "a", "b", "c", "d", "e", "f", "g",  // 60
    "h", "i", "j", "k", "l", "m", "n", "o",  // 68
    "p", "q", "r", "s", "t", "u", "v", "w",  // 70
    "x", "y", "z", "{", "|", "}", "~", "\xe2\x8c\x82",  // 78
    "\xc3\x87", "\xc3\xbc", "\xc3\xa9", "\xc3\xa2", "\xc3\xa4", "\xc3\xa0", "\xc3\xa5", "\xc3\xa7",  // 80
    "\xc3\xaa", "\xc3\xab", "\xc3\xa8", "\xc3\xaf", "\xc3\xae", "\xc3\xac", "\xc3\x84", "\xc3\x85",  // 88
    "\xc3\x89", "\xc3\xa6", "\xc3\x86", "\xc3\xb4", "\xc3\xb6", "\xc3\xb2", "\xc3\xbb", "\xc3\xb9",  // 90
    "\xc3\xbf", "\xc3\x96", "\xc3\x9c", "\xc2\xa2", "\xc2\xa3", "\xc2\xa5", "\xe2\x82\xa7", "\xc6\x92",  // 98
    "\xc3\xa1", "\xc3\xad", "\xc3\xb3", "\xc3\xba", "\xc3\xb1", "\xc3\x91", "\xc2\xaa", "\xc2\xba",  // a0
    "\xc2\xbf", "\xe2\x8c\x90", "\xc2\xac", "\xc2\xbd", "\xc2\xbc", "\xc2\xa1", "\xc2\xab", "\xc2\xbb",  // a8
    "\xe2\x96\x91", "\xe2\x96\x92", "\xe2\x96\x93", "\xe2\x94\x82", "\xe2\x94\xa4", "\xe2\x95\xa1", "\xe2\x95\xa2", "\xe2\x95\x96",  // b0
    "\xe2\x95\x95", "\xe2\x95\xa3", "\xe2\x95\x91", "\xe2\x95\x97", "\xe2\x95\x9d", "\xe2\x95\x9c", "\xe2\x95\x9b", "\xe2\x94\x90",  // b8
    "\xe2\x94\x94", "\xe2\x94\xb4", "\xe2\x94\xac", "\xe2\x94\x9c", "\xe2\x94\x80", "\xe2\x94\xbc", "\xe2\x95\x9e", "\xe2\x95\x9f",  // c0
    "\xe2\x95\x9a", "\xe2\x95\x94", "\xe2\x95\xa9", "\xe2\x95\xa6", "\xe2\x95\xa0", "\xe2\x95\x90", "\xe2\x95\xac", "\xe2\x95\xa7",  // c8
    "\xe2\x95\xa8", "\xe2\x95\xa4", "\xe2\x95\xa5", "\xe2\x95\x99", "\xe2\x95\x98", "\xe2\x95\x92", "\xe2\x95\x93", "\xe2\x95\xab",  // d0
    "\xe2\x95\xaa", "\xe2\x94\x98", "\xe2\x94\x8c", "\xe2\x96\x88", "\xe2\x96\x84", "\xe2\x96\x8c", "\xe2\x96\x90", "\xe2\x96\x80",  // d8
    "\xce\xb1", "\xc3\x9f", "\xce\x93", "\xcf\x80", "\xce\xa3", "\xcf\x83", "\xc2\xb5", "\xcf\x84",  // e0
    "\xce\xa6", "\xce\x98", "\xce\xa9", "\xce\xb4", "\xe2\x88\x9e", "\xcf\x86", "\xce\xb5", "\xe2\x88\xa9",  // e8
    "\xe2\x89\xa1", "\xc2\xb1", "\xe2\x89\xa5", "\xe2\x89\xa4", "\xe2\x8c\xa0", "\xe2\x8c\xa1", "\xc3\xb7", "\xe2\x89\x88",  // f0
    "\xc2\xb0", "\xe2\x88\x99", "\xc2\xb7", "\xe2\x88\x9a", "\xe2\x81\xbf", "\xc2\xb2", "\xe2\x96\xa0", "\xc2\xa0",  // f8
};
// clang-format on

}  // namespace

void chooseGlyphsForLocale()
{
    // A locale the system lacks leaves "C" in force, whose set is ASCII.
    std::setlocale(LC_CTYPE, "");
    const char* const codeset = nl_langinfo(CODESET);
    utf8 = std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0;
    // Nothing else here goes by the C library's locale: back to the default.
    std::setlocale(LC_CTYPE, "C");
}

bool terminalIsUtf8() { return utf8; }

const char* byteGlyph(unsigned char byte)
{
    return utf8 || (byte >= 0x20 && byte < 0x7f) ? GLYPHS[byte] : ".";
}
