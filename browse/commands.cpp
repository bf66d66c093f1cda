#include "browse/commands.h"

#include <cstring>
#include <iostream>

#include "console/console.h"
#include "probe/scan.h"
#include "probe/write_prompt.h"

Address startAddress(int argc, const char* const argv[], Address defaultHome, Address mainframe)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-mainframe") == 0)
            return mainframe;  // later arguments are not looked at
        if (std::strcmp(argv[i], "-?") == 0) {
            std::cout << "Usage: To try to start you out near main()'s stack frame, use '-mainframe'\n"
                      << "This will point to a local variable (a char array) in main()\n";
            pauseForKey();
        }
    }
    return defaultHome;
}

void applyKey(int key, Address& blockStart, Address home, unsigned& row, unsigned& col)
{
    switch (key) {
    case KEY_HOME:
        blockStart = home;
        row = 0;
        col = 0;
        break;
    case KEY_UP: row = (row + BLOCK_ROWS - 1) % BLOCK_ROWS; break;
    case KEY_DOWN: row = (row + 1) % BLOCK_ROWS; break;
    case KEY_LEFT: col = (col + BLOCK_COLS - 1) % BLOCK_COLS; break;
    case KEY_RIGHT: col = (col + 1) % BLOCK_COLS; break;
    case KEY_PAGE_UP: blockStart -= BLOCK_BYTES; break;
    case KEY_PAGE_DOWN: blockStart += BLOCK_BYTES; break;
    case KEY_INSERT: blockStart = scanForReadable(blockStart, -1); break;
    case KEY_DELETE: blockStart = scanForReadable(blockStart, +1); break;
    case 'w': case 'W': promptWrite(blockStart, row, col); break;
    default: break;
    }
}
