// gleanhex: browse, walk and edit the raw bytes of this very process.

#include <iostream>
#include <new>

#include "browse/commands.h"
#include "common/sanitizers.h"
#include "console/console.h"
#include "probe/guard.h"
#include "probe/memory_map.h"
#include "view/view.h"

namespace {

int outOfMemory()
{
    endConsole();
    std::cerr << "gleanhex: out of memory\n";
    return 1;
}

int browse(int argc, char* argv[])
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
    char* const homeBlock = new (std::nothrow) char;
    if (homeBlock == nullptr)
        return outOfMemory();
    keptForTheWholeRun(homeBlock);
    Address blockStart = reinterpret_cast<Address>(homeBlock);
    // There to be looked at: a real array in this frame, not constant data.
    char s[15] = "[Welcome Home]";

    blockStart = startAddress(argc, argv, blockStart, reinterpret_cast<Address>(s));
    const Address home = blockStart;
    unsigned row = 0;
    unsigned col = 0;

    for (;;) {
        // The cursor lies in this process's memory too, where W can reach it:
        // brought back into the block before anything uses it.
        row %= BLOCK_ROWS;
        col %= BLOCK_COLS;
        drawBlock(blockStart, home, row, col);
        const int key = readKey();
        if (key == 'x' || key == 'X' || key == END_OF_INPUT)
            break;
        applyKey(key, blockStart, home, row, col);
    }

    std::cout << "\nGoodbye\n";
    endConsole();
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Memory runs out only at the start, before the first frame: after it nothing allocates.
    try {
        return browse(argc, argv);
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
}
