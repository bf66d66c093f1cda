// Whether the program's process group can stop, from what any POSIX system
// tells: its parent. A parent in the same session but another group is the
// shell that can continue it; one outside the session cannot. A parent in
// the group itself (a script) leaves it open, and the stop is let happen.

#include <unistd.h>

#include "console/terminal_posix.h"

bool groupCanStop()
{
    const pid_t parent = ::getppid();
    const pid_t group = ::getpgid(parent);
    if (group < 0 || group == ::getpgrp())
        return true;
    return ::getsid(parent) == ::getsid(0);
}
