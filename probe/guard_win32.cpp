// The guard on Windows: the access itself is a tiny assembly routine, so the
// compiler can neither move nor merge it. A vectored exception handler resumes
// any exception raised by exactly that routine's load or store at the routine's
// failure exit, whatever the exception: access violation, guard page, in-page
// error. Resuming in place, rather than unwinding out of the handler, is what
// both Windows and Wine support for a handler called in the faulting context.

#include "probe/guard_access.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#if defined(__x86_64__)
// Leaf routines that never touch the stack, so they need no unwind data.
// Windows x64 calling convention: address in rcx, value in edx.
asm(R"(
    .text
    .p2align 4
    .globl gleanhexLoadByte, gleanhexLoadAt, gleanhexLoadFailed
gleanhexLoadByte:
gleanhexLoadAt:
    movzbl (%rcx), %eax
    ret
gleanhexLoadFailed:
    movl $-1, %eax
    ret

    .p2align 4
    .globl gleanhexStoreByte, gleanhexStoreAt, gleanhexStoreFailed
gleanhexStoreByte:
gleanhexStoreAt:
    movb %dl, (%rcx)
    xorl %eax, %eax
    ret
gleanhexStoreFailed:
    movl $-1, %eax
    ret
)");
#else
#error "the memory guard has no access routine for this processor"
#endif

namespace {

// Moves an exception at `at` on to `resume`; false for any other exception.
bool resumePast(CONTEXT& context, const char* at, const char* resume)
{
    if (static_cast<Address>(context.Rip) != reinterpret_cast<Address>(at))
        return false;
    context.Rip = static_cast<DWORD64>(reinterpret_cast<Address>(resume));
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
