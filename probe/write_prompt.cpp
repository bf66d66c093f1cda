#include "probe/write_prompt.h"

#include <cstdint>
#include <iostream>
#include <limits>

#include "console/console.h"
#include "probe/guard.h"

namespace {

void reject(const char* message)
{
    std::cout << message;
    pauseForKey();
}

}  // namespace

void promptWrite(Address blockStart, unsigned row, unsigned col)
{
    const Address target = selectedAddress(blockStart, row, col);
    std::cout << "\nEnter byte value (in decimal, 0-255, any invalid value (such as -1) will abort)\nByte Value: ";

    // Unsigned extraction on purpose: "-1" reads as the largest value and is
    // rejected with every other value above 255.
    std::uint32_t writeVal = 0;
    std::cin >> std::dec >> writeVal;
    if (std::cin.fail()) {
        // Left failed, the stream would reject every later prompt unasked; and
        // the rest of a line that is no number is no value either. At the end
        // of input there is no rest to drop, and looking for one could wait
        // on a console that can still be typed into.
        const bool ended = std::cin.eof();
        std::cin.clear();
        if (!ended)
            std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        reject("\nValue is invalid, aborting.\n");
        return;
    }
    if (writeVal > 255) {
        reject("\nValue is invalid, aborting.\n");
        return;
    }
    if (!writeByteGuarded(target, static_cast<unsigned char>(writeVal)))
        reject("\nWrite failed\n");
}
