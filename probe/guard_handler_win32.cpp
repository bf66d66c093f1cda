// The guard on Windows: the access itself is a tiny assembly routine, one file
// per processor, so the compiler can neither move nor merge it. A vectored
// exception handler resumes any exception raised by exactly that routine's load
// or store at the routine's failure exit, whatever the exception: access
// violation, guard page, in-page error; it leaves how far the exception reaches
// for the access to report. Resuming in place, rather than unwinding out of the
// handler, is what both Windows and Wine support for a handler called in the
// faulting context.

#include "probe/guard_context_win32.h"

namespace {

// Moves an exception at `at` on to `resume`; false for any other exception.
bool resumePast(CONTEXT& context, const char* at, const char* resume)
{
    if (interruptedAt(context) != reinterpret_cast<Address>(at))
        return false;
    resumeAt(context, reinterpret_cast<Address>(resume));
    return true;
}

// Left by the handler for the access it fails.
volatile FaultReach latestReach = FaultReach::ONE_BYTE;

// An access violation holds for the whole page: it is not committed, or its
// protection forbids the access. A guard page fires once, an in-page error
// concerns what backs the page, and any other code is not known to reach further.
FaultReach reachOf(DWORD code)
{
    return code == EXCEPTION_ACCESS_VIOLATION ? FaultReach::WHOLE_PAGE : FaultReach::ONE_BYTE;
}

LONG CALLBACK onException(EXCEPTION_POINTERS* exception)
{
    CONTEXT& context = *exception->ContextRecord;
    if (resumePast(context, gleanhexLoadAt, gleanhexLoadFailed) ||
        resumePast(context, gleanhexStoreAt, gleanhexStoreFailed)) {
        latestReach = reachOf(exception->ExceptionRecord->ExceptionCode);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Only one handler of the guard's, however often it is installed.
void* installed = nullptr;

}  // namespace

bool installGuard()
{
    // First in line, so no other handler sees (and mistakes) the program's own probes.
    if (installed == nullptr)
        installed = AddVectoredExceptionHandler(1, onException);
    return installed != nullptr;
}

FaultReach latestFaultReach()
{
    return latestReach;
}

Address pageBytes()
{
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize;
}
