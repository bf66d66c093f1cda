// The console on a POSIX terminal, put together: the terminal taken and given
// back as it was on every way out, with output, keys and values on top of it.

#include <cstdlib>
#include <iostream>

#include "console/console.h"
#include "console/console_posix.h"
#include "console/terminal_posix.h"

namespace {

void giveBackAtExit()
{
    std::cout.flush();
    giveTerminalBack();
}

}  // namespace

void beginConsole()
{
    std::ios::sync_with_stdio(false);
    installOutput();
    takeTerminal();
    std::atexit(giveBackAtExit);
    installValueLine();
}

void endConsole()
{
    std::cout.flush();
    giveTerminalBack();
}
