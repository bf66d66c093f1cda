// The console services on a Windows console: attributes through the console API
// (they are not part of the output stream there, so the stream is flushed before
// each change), the screen cleared in place without starting a process, keys
// from the console's key events, and the console given back as it was at the end,
// at Ctrl-C or a closed window, and at a crash outside the guard.
// Typed values go through std::cin unchanged, which reads a whole line in the
// console's line mode, so keys and values never meet.
// That line mode is the console's own line editor, and it serves the value as
// the POSIX one does: Left, Right, Home, End, Delete and Backspace edit, and a
// line reaches std::cin only once Enter is pressed, so a closed window stores
// nothing. It differs in that Up, Down and the function keys recall earlier
// lines, Esc clears the line, and Ctrl-U and Ctrl-W are no editing keys.

#include "console/console.h"

#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

// What the console looked like before the program took it. Also read by the
// Ctrl-C handler, which the console calls on a thread of its own.
struct SavedConsole {
    bool haveAttr = false;
    WORD attr = 0;
    bool haveMode = false;
    DWORD mode = 0;
    UINT codePage = 0;  // 0: left as it was
};

SavedConsole saved;
volatile LONG consoleTaken = 0;
int shownAttr = -1;  // attribute the console has now, -1 unknown
// Output that is no console (a file, a pipe) is plain text: no attributes, no
// clearing, frames one after another.
bool outputIsConsole = false;
bool clearedBefore = false;

HANDLE stdOut()
{
    return GetStdHandle(STD_OUTPUT_HANDLE);
}

// Never flushes: the Ctrl-C handler calls it while the main thread may be writing.
void restoreConsole()
{
    if (InterlockedExchange(&consoleTaken, 0) == 0)
        return;
    const HANDLE h = stdOut();
    if (saved.haveAttr)
        SetConsoleTextAttribute(h, saved.attr);
    if (saved.haveMode)
        SetConsoleMode(h, saved.mode);
    if (saved.codePage != 0)
        SetConsoleOutputCP(saved.codePage);
    shownAttr = -1;
}

void restoreAtExit()
{
    std::cout.flush();
    restoreConsole();
}

// Output that cannot be written (a full disk, a closed handle, a pipe nobody
// reads) ends the program: going on would report nothing as success.
void flushOutput()
{
    errno = 0;
    std::cout.flush();
    if (!std::cout.bad())
        return;
    const int error = errno != 0 ? errno : EIO;
    restoreConsole();
    std::fprintf(stderr, "gleanhex: cannot write to standard output: %s\n", std::strerror(error));
    std::fflush(stderr);
    std::_Exit(1);
}

BOOL WINAPI onConsoleEvent(DWORD)
{
    restoreConsole();
    return FALSE;  // the default handler still ends the process
}

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

// A crash outside the guard: the console goes back before the process does.
LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info)
{
    restoreConsole();
    return previousFilter != nullptr ? previousFilter(info) : EXCEPTION_CONTINUE_SEARCH;
}

// abort() ends the process without the exception filter or atexit.
void onAbort(int sig)
{
    restoreConsole();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Raw bytes must each take one cell: under a multi-byte code page (UTF-8, or a
// double-byte one) neighbouring bytes would merge into one character and shift
// the grid. Such a console is switched to code page 437 for the run.
void useSingleByteCodePage()
{
    const UINT codePage = GetConsoleOutputCP();
    CPINFO info{};
    if (codePage == 0 || (GetCPInfo(codePage, &info) && info.MaxCharSize == 1))
        return;
    if (SetConsoleOutputCP(437))
        saved.codePage = codePage;
}

// Memory bytes go out raw: with virtual terminal processing on, an escape byte in
// memory would start a control sequence; without processed output, line breaks
// would show as glyphs, and without the automatic return a line feed would not
// go back to the first column.
void usePlainOutput(HANDLE h)
{
    DWORD mode = 0;
    if (!GetConsoleMode(h, &mode))
        return;
    saved.mode = mode;
    saved.haveMode = true;
    const DWORD plain = (mode | ENABLE_PROCESSED_OUTPUT) &
                        ~DWORD{ENABLE_VIRTUAL_TERMINAL_PROCESSING | DISABLE_NEWLINE_AUTO_RETURN};
    if (plain != mode)
        SetConsoleMode(h, plain);
    // The bytes reach the console as they are, for its code page to draw: the
    // runtime's text mode adds carriage returns the console does not need, and
    // some runtimes translate the bytes through the ANSI code page on the way.
    _setmode(_fileno(stdout), _O_BINARY);
}

bool keysFromConsole()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// Without a console to read keys from (input redirected), the bytes of
// standard input stand for the codes a console keyboard delivers, taken from
// the buffer the write prompt reads its values from so that neither loses
// bytes to the other, and their end ends the input.
int nextByte()
{
    const int byte = std::cin.rdbuf()->sbumpc();
    return byte == std::char_traits<char>::eof() ? END_OF_INPUT : byte;
}

// There a key that has no character is a lead byte and then its code: 0xE0
// for the cursor block, 0 for the function keys, Alt with a key, and the
// keypad's keys with NumLock off, which share the cursor block's codes.
constexpr int EXTENDED_PREFIX = 0xE0;
constexpr int FUNCTION_PREFIX = 0x00;

int namedKey(int code)
{
    switch (code) {
    case 71: return KEY_HOME;
    case 72: return KEY_UP;
    case 73: return KEY_PAGE_UP;
    case 75: return KEY_LEFT;
    case 77: return KEY_RIGHT;
    case 79: return KEY_END;
    case 80: return KEY_DOWN;
    case 81: return KEY_PAGE_DOWN;
    case 82: return KEY_INSERT;
    case 83: return KEY_DELETE;
    case 133: return KEY_F1 + 10;
    case 134: return KEY_F12;
    default: return code >= 59 && code <= 68 ? KEY_F1 + (code - 59) : KEY_OTHER;
    }
}

// The key a virtual-key code names, held modifiers and all; 0 for none.
int virtualKey(WORD key)
{
    switch (key) {
    case VK_HOME: return KEY_HOME;
    case VK_UP: return KEY_UP;
    case VK_PRIOR: return KEY_PAGE_UP;
    case VK_LEFT: return KEY_LEFT;
    case VK_RIGHT: return KEY_RIGHT;
    case VK_END: return KEY_END;
    case VK_DOWN: return KEY_DOWN;
    case VK_NEXT: return KEY_PAGE_DOWN;
    case VK_INSERT: return KEY_INSERT;
    case VK_DELETE: return KEY_DELETE;
    default: return key >= VK_F1 && key <= VK_F12 ? KEY_F1 + (key - VK_F1) : 0;
    }
}

// One key press from the console's own key events, without echo or Enter,
// as _getch reads them (in a console mode without line input, so Ctrl-C is a
// key too), but taken whole, function keys included: some runtimes' _getch
// passes over those. The keypad's keys with NumLock off are the same virtual
// keys as the cursor block's. Alt with a character is a key that means nothing.
int consoleKey()
{
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool haveMode = GetConsoleMode(in, &mode) != 0;
    if (haveMode)
        SetConsoleMode(in, 0);
    int key = END_OF_INPUT;
    for (;;) {
        INPUT_RECORD event{};
        DWORD read = 0;
        if (!ReadConsoleInputA(in, &event, 1, &read) || read == 0)
            break;
        if (event.EventType != KEY_EVENT || !event.Event.KeyEvent.bKeyDown)
            continue;
        const KEY_EVENT_RECORD& k = event.Event.KeyEvent;
        const DWORD alt = LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED;
        const DWORD ctrl = LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED;
        if (const int named = virtualKey(k.wVirtualKeyCode); named != 0) {
            key = named;
            break;
        }
        const auto ch = static_cast<unsigned char>(k.uChar.AsciiChar);
        if (ch == 0)
            continue;  // Shift, Ctrl, Alt alone, and keys without a character
        // AltGr is Ctrl with Alt, and types characters on many layouts.
        key = (k.dwControlKeyState & alt) != 0 && (k.dwControlKeyState & ctrl) == 0 ? KEY_OTHER : ch;
        break;
    }
    if (haveMode)
        SetConsoleMode(in, mode);
    return key;
}

// One whole key: a lead byte and its code are read together, in one turn.
int nextKey()
{
    if (keysFromConsole())
        return consoleKey();
    const int code = nextByte();
    if (code == EXTENDED_PREFIX || code == FUNCTION_PREFIX)
        return namedKey(nextByte());
    return code;
}

}  // namespace

void beginConsole()
{
    // One buffer for the output between attribute changes, written out in one go.
    std::ios::sync_with_stdio(false);
    const HANDLE h = stdOut();
    DWORD mode = 0;
    outputIsConsole = GetConsoleMode(h, &mode) != 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (outputIsConsole && GetConsoleScreenBufferInfo(h, &info)) {
        saved.attr = info.wAttributes;
        saved.haveAttr = true;
    }
    if (outputIsConsole) {
        usePlainOutput(h);
        useSingleByteCodePage();
    }
    consoleTaken = 1;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    previousFilter = SetUnhandledExceptionFilter(onUnhandledException);
    std::signal(SIGABRT, onAbort);
    // Stack kept back for the filter when the fault is the stack running out.
    ULONG guarantee = 64 * 1024;
    SetThreadStackGuarantee(&guarantee);
    std::atexit(restoreAtExit);
}

void endConsole()
{
    flushOutput();
    restoreConsole();
}

ConsoleHandle outputHandle()
{
    return stdOut();
}

void setTextAttribute(ConsoleHandle handle, unsigned char attr)
{
    if (!outputIsConsole || shownAttr == attr)
        return;
    // The attribute applies to what is written after the call: everything
    // buffered so far must reach the console under the old one.
    flushOutput();
    SetConsoleTextAttribute(static_cast<HANDLE>(handle), attr);
    shownAttr = attr;
}

void clearScreen()
{
    if (!outputIsConsole) {
        // A frame ends inside its last line: the next one starts on a line of its own.
        if (clearedBefore)
            std::cout << '\n';
        clearedBefore = true;
        return;
    }
    flushOutput();
    const HANDLE h = stdOut();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(h, &info))
        return;
    // The whole buffer, in the current attribute; putting the cursor at the top
    // left also scrolls the window back there.
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    const COORD origin{0, 0};
    DWORD done = 0;
    FillConsoleOutputCharacterA(h, ' ', cells, origin, &done);
    FillConsoleOutputAttribute(h, info.wAttributes, cells, origin, &done);
    SetConsoleCursorPosition(h, origin);
}

void pauseForKey()
{
    std::cout << "Press any key to continue . . . ";
    flushOutput();
    nextKey();
    std::cout << '\n';
}

int readKey()
{
    flushOutput();
    return nextKey();
}
