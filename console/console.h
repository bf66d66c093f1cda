#pragma once
// The console services the browser needs. Text goes through std::cout and the
// write prompt's value through std::cin; everything else is here.

#include <cstdint>

using ConsoleHandle = void*;

// Console character attributes: bits 0-3 foreground (1 blue, 2 green, 4 red,
// 8 intensity), bits 4-7 background with the same bits.
constexpr unsigned char ATTR_FRAME = 14;     // yellow on black
constexpr unsigned char ATTR_NORMAL = 15;    // bright white on black
constexpr unsigned char ATTR_SELECTED = 42;  // bright green on green

// What readKey delivers: one value per key press. A plain key is its byte
// (0-255); every named key has a code of its own above that.
constexpr int KEY_UP = 0x100;
constexpr int KEY_DOWN = 0x101;
constexpr int KEY_LEFT = 0x102;
constexpr int KEY_RIGHT = 0x103;
constexpr int KEY_HOME = 0x104;
constexpr int KEY_END = 0x105;
constexpr int KEY_PAGE_UP = 0x106;
constexpr int KEY_PAGE_DOWN = 0x107;
constexpr int KEY_INSERT = 0x108;
constexpr int KEY_DELETE = 0x109;
constexpr int KEY_F1 = 0x10a;  // F1..F12 are KEY_F1..KEY_F1 + 11
constexpr int KEY_F12 = KEY_F1 + 11;
// A key press that means nothing here, such as Alt with a letter or a
// sequence no known key sends. It still ends the turn, as any key does.
constexpr int KEY_OTHER = 0x120;
// Not keys: no key can come any more; or the terminal was resized or the
// program continued after a stop, and the screen must be drawn again first.
constexpr int END_OF_INPUT = -1;
constexpr int SCREEN_STALE = -2;

// Takes the terminal for single unechoed keys and makes sure that every way the
// program ends gives it back as it was. Call before anything else is written.
// std::cin then reads typed values apart from the keys, echoed as they are
// typed: what is left of a value line waits for the next value and is never
// read as a key.
void beginConsole();
// Gives the terminal back: modes, colours, and whatever output is pending.
void endConsole();

ConsoleHandle outputHandle();
// Text written after this shows in `attr` until the next call.
void setTextAttribute(ConsoleHandle handle, unsigned char attr);
// Blank screen, cursor at the top left.
void clearScreen();
// Shows the continue prompt and returns after one key press.
void pauseForKey();
// One key per call, without echo or Enter: its byte or its code;
// END_OF_INPUT once no key can come, SCREEN_STALE when the screen needs
// drawing again first.
int readKey();

// What a raw memory byte looks like on this console, as text that never acts as
// a control code. Only called for bytes the view shows as themselves.
const char* byteGlyph(unsigned char byte);
