// The guarded accesses on Linux are tiny assembly routines, one file per
// processor, so the compiler can neither move nor merge them: each has its one
// load or store at a known label and a failure exit after it. Each returns the
// byte zero-extended (`Load`) or 0 (`Store`), and -1 from the failure exit. A
// fault whose program counter is that load or store is resumed at the failure
// exit.

#include "probe/guard_context_linux.h"

namespace {

// Moves a fault at `at` on to `resume`; false for any other fault.
bool resumePast(ucontext_t& context, const char* at, const char* resume)
{
    if (interruptedAt(context) != reinterpret_cast<Address>(at))
        return false;
    resumeAt(context, reinterpret_cast<Address>(resume));
    return true;
}

}  // namespace

bool resumeGuardedAccess(int, siginfo_t*, void* context)
{
    ucontext_t& c = *static_cast<ucontext_t*>(context);
    return resumePast(c, gleanhexLoadAt, gleanhexLoadFailed) || resumePast(c, gleanhexStoreAt, gleanhexStoreFailed);
}
