#pragma once
// Which characters a terminal can show depends on the character set its locale
// names: UTF-8, or a single-byte set whose bytes 0x80-0x9F are control codes.

// Reads the locale's character set (LC_ALL, LC_CTYPE, LANG, as the C library
// resolves them) and chooses the glyphs for it. Call it before the first
// frame: reading the locale may allocate.
void chooseGlyphsForLocale();
// Whether the terminal takes UTF-8, as last chosen; until the first choice, it does.
bool terminalIsUtf8();
