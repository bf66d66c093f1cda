// The portable guarded accesses, for a system or processor without an assembly
// routine of its own (and, with GLEANHEX_PORTABLE_GUARD=ON, anywhere).
// The access goes through a volatile pointer between a sigsetjmp and the end of
// the access; a fault in that window jumps back and the access fails.
//
// What it costs over the assembly routines: every access saves the signal mask
// (a system call, as the jump out of the handler must restore it): a redraw of
// readable memory takes about four times as long. The handler knows the access
// by a flag rather than by its instruction, so any fault raised while the flag
// is up is taken as the access's own; nothing but the one access runs while it
// is. And the access is compiled code, which a sanitizer instruments.

#include "probe/guard_access.h"

#include <setjmp.h>

namespace {

// One thread: the browser's. Set around each access, read by the handler.
sigjmp_buf failed;
volatile sig_atomic_t accessing = 0;

}  // namespace

extern "C" int gleanhexLoadByte(Address address)
{
    if (sigsetjmp(failed, 1) != 0)
        return -1;
    accessing = 1;
    // An address made a pointer is this routine's whole purpose.
    const int value = *reinterpret_cast<const volatile unsigned char*>(address);  // NOLINT(performance-no-int-to-ptr)
    accessing = 0;
    return value;
}

extern "C" int gleanhexStoreByte(Address address, int value)
{
    if (sigsetjmp(failed, 1) != 0)
        return -1;
    accessing = 1;
    *reinterpret_cast<volatile unsigned char*>(address) = static_cast<unsigned char>(value);  // NOLINT(performance-no-int-to-ptr)
    accessing = 0;
    return 0;
}

bool resumeGuardedAccess(int, siginfo_t*, void*)
{
    if (accessing == 0)
        return false;
    accessing = 0;
    siglongjmp(failed, 1);
}
