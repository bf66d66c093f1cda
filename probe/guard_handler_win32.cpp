// The guard on Windows: the access itself is a tiny assembly routine, one file
// per processor, so the compiler can neither move nor merge it. A vectored
// exception handler resumes any exception raised by exactly that routine's load
// or store at the routine's failure exit, whatever the exception: access
// violation, guard page, in-page error. Resuming in place, rather than unwinding
// out of the handler, is what both Windows and Wine support for a handler called
// in the faulting context.

#include "probe/guard_context_win32.h"

extern "C" {
extern const char gleanhexLoadAt[], gleanhexLoadFailed[];
extern const char gleanhexStoreAt[], gleanhexStoreFailed[];
}

namespace {

// Moves an exception at `at` on to `resume`; false for any other exception.
bool resumePast(CONTEXT& context, const char* at, const char* resume)
{
    if (interruptedAt(context) != reinterpret_cast<Address>(at))
        return false;
    resumeAt(context, reinterpret_cast<Address>(resume));
    return true;
}

LONG CALLBACK onException(EXCEPTION_POINTERS* exception)
{
    CONTEXT& context = *exception->ContextRecord;
    if (resumePast(context, gleanhexLoadAt, gleanhexLoadFailed) ||
        resumePast(context, gleanhexStoreAt, gleanhexStoreFailed))
        return EXCEPTION_CONTINUE_EXECUTION;
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void ensureGuard()
{
    // First in line, so no other handler sees (and mistakes) the program's own probes.
    [[maybe_unused]] static const void* const installed = AddVectoredExceptionHandler(1, onException);
}
