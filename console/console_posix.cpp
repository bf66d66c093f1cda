// The console on a POSIX terminal, put together: the terminal taken and given
// back as it was on every way out, with output, keys and values on top of it.

#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "console/console.h"
#include "console/console_posix.h"
#include "console/description_posix.h"
#include "console/glyphs.h"
#include "console/signals_posix.h"
#include "console/terminal_posix.h"

namespace {

void giveBackAtExit()
{
    finishOutput();
    giveTerminalBack();
}

}  // namespace

void beginConsole()
{
    chooseGlyphsForLocale();  // reading the locale may allocate, which no key may do
    std::ios::sync_with_stdio(false);
    // Signals first: none of them may find the terminal taken and no handler to give it back.
    if (const int error = holdSignalsForTheWait(); error != 0)
        failConsole("cannot hold signals for the key wait", error);
    if (const int error = installSignalHandlers(); error != 0)
        failConsole("cannot install the handlers that give the terminal back", error);
    describeTerminal();
    if (const int error = takeTerminal(); error != 0)
        failConsole("cannot take the terminal", error);
    installOutput();
    if (std::atexit(giveBackAtExit) != 0)
        failConsole("cannot arrange to give the terminal back at exit", ENOMEM);
    installValueLine();
}

void endConsole()
{
    finishOutput();
    if (const int error = giveTerminalBack(); error != 0)
        failOutput(error);
}
