// The console on a POSIX terminal, put together: the terminal taken and given
// back as it was on every way out, with output, keys and values on top of it.

#include <cstdlib>
#include <iostream>

#include "console/console.h"
#include "console/console_posix.h"
#include "console/glyphs.h"
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
    // First: the output's way of writing depends on what the terminal is.
    takeTerminal();
    installOutput();
    std::atexit(giveBackAtExit);
    installValueLine();
}

void endConsole()
{
    finishOutput();
    giveTerminalBack();
}
