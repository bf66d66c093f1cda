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

// readKey delivers an extended key as two codes: a lead byte, then the key's code.
constexpr int EXTENDED_PREFIX = 0xE0;  // cursor block
constexpr int FUNCTION_PREFIX = 0x00;  // function and some keypad keys
constexpr int END_OF_INPUT = -1;       // no key can come any more
// Not a key: the terminal was resized or the program continued after a stop,
// and the screen must be drawn again before the next key is read.
constexpr int SCREEN_STALE = -2;
// Not a code: a key press that means nothing here, such as Alt with a letter
// or a sequence no known key sends. It still ends the turn, as any key does.
constexpr int NO_CODE = -3;

constexpr int KEY_HOME = 71;
constexpr int KEY_UP = 72;
constexpr int KEY_PAGE_UP = 73;
constexpr int KEY_LEFT = 75;
constexpr int KEY_RIGHT = 77;
constexpr int KEY_END = 79;
constexpr int KEY_DOWN = 80;
constexpr int KEY_PAGE_DOWN = 81;
constexpr int KEY_INSERT = 82;
constexpr int KEY_DELETE = 83;
constexpr int KEY_F1 = 59;    // F1..F10 are 59..68
constexpr int KEY_F11 = 133;
constexpr int KEY_F12 = 134;

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
// One code per call, without echo or Enter; END_OF_INPUT once no key can come,
// SCREEN_STALE when the screen needs drawing again first, NO_CODE for a key
// that delivers none.
int readKey();

// What a raw memory byte looks like on this console, as text that never acts as
// a control code. Only called for bytes the view shows as themselves.
const char* byteGlyph(unsigned char byte);
