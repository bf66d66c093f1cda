// gleanhex: browse, walk and edit the raw bytes of this very process.

#include <iostream>

#include "browse/commands.h"
#include "common/sanitizers.h"
#include "console/console.h"
#include "probe/guard.h"
#include "probe/memory_map.h"
#include "probe/write_prompt.h"
#include "view/view.h"

int main(int argc, char* argv[])
{
    beginConsole();
    // After the console's handlers, which it hands every other fault to, and
    // before any address the user chooses is touched.
    if (!installGuard()) {
        endConsole();
        std::cerr << "gleanhex: cannot install the handler that guards memory accesses\n";
        return 1;
    }

    // Before the first frame, as nothing after it may allocate or open.
    prepareMemoryMap();

    // Never released: it is where browsing starts, for the whole run.
    char* const homeBlock = new char;
    keptForTheWholeRun(homeBlock);
    Address blockStart = reinterpret_cast<Address>(homeBlock);
    // There to be looked at: a real array in this frame, not constant data.
    char s[15] = "[Welcome Home]";

    blockStart = startAddress(argc, argv, blockStart, reinterpret_cast<Address>(s));
    const Address home = blockStart;
    unsigned row = 0;
    unsigned col = 0;

    for (;;) {
        // The cursor lies in this process's memory too, where W can reach it.
        row %= BLOCK_ROWS;
        col %= BLOCK_COLS;
        drawBlock(blockStart, home, row, col);
        int code = readKey();
        if (code == SCREEN_STALE)
            continue;
        if (code == EXTENDED_PREFIX) {
            code = readKey();
            applyExtendedKey(code, blockStart, home, row, col);
        } else if (code == 'w' || code == 'W') {
            promptWrite(blockStart, row, col);
        }
        if (code == 'x' || code == 'X' || code == END_OF_INPUT)
            break;
    }

    std::cout << "\nGoodbye\n";
    endConsole();
    return 0;
}
