// The guard on Windows: the access itself is a tiny assembly routine, so the
// compiler can neither move nor merge it. A vectored exception handler resumes
// any exception raised by exactly that routine's load or store at the routine's
// failure exit, whatever the exception: access violation, guard page, in-page
// error; it leaves how far the exception reaches for the access to report.
// Resuming in place, rather than unwinding out of the handler, is what
// both Windows and Wine support for a handler called in the faulting context.

#include "probe/guard_access.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <type_traits>

extern "C" {
extern const char gleanhexLoadAt[], gleanhexLoadFailed[];
extern const char gleanhexStoreAt[], gleanhexStoreFailed[];
}

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
#elif defined(__i386__)
// 32-bit Windows: cdecl, so the arguments are on the stack above the return
// address, and C names carry a leading underscore.
asm(R"(
    .text
    .p2align 4
    .globl _gleanhexLoadByte, _gleanhexLoadAt, _gleanhexLoadFailed
_gleanhexLoadByte:
    movl 4(%esp), %ecx
_gleanhexLoadAt:
    movzbl (%ecx), %eax
    ret
_gleanhexLoadFailed:
    movl $-1, %eax
    ret

    .p2align 4
    .globl _gleanhexStoreByte, _gleanhexStoreAt, _gleanhexStoreFailed
_gleanhexStoreByte:
    movl 4(%esp), %ecx
    movl 8(%esp), %edx
_gleanhexStoreAt:
    movb %dl, (%ecx)
    xorl %eax, %eax
    ret
_gleanhexStoreFailed:
    movl $-1, %eax
    ret
)");
#elif defined(__aarch64__)
// Not built here yet: Windows on Arm, address in x0, value in w1.
asm(R"(
    .text
    .p2align 4
    .globl gleanhexLoadByte, gleanhexLoadAt, gleanhexLoadFailed
gleanhexLoadByte:
gleanhexLoadAt:
    ldrb w0, [x0]
    ret
gleanhexLoadFailed:
    mov w0, #-1
    ret

    .p2align 4
    .globl gleanhexStoreByte, gleanhexStoreAt, gleanhexStoreFailed
gleanhexStoreByte:
gleanhexStoreAt:
    strb w1, [x0]
    mov w0, #0
    ret
gleanhexStoreFailed:
    mov w0, #-1
    ret
)");
#else
#error "Windows runs on x86-64, x86 and Arm64 only"
#endif

namespace {

// Moves an exception at `at` on to `resume`; false for any other exception.
bool resumePast(CONTEXT& context, const char* at, const char* resume)
{
#if defined(__x86_64__)
    auto& pc = context.Rip;
#elif defined(__i386__)
    auto& pc = context.Eip;
#else
    auto& pc = context.Pc;
#endif
    if (static_cast<Address>(pc) != reinterpret_cast<Address>(at))
        return false;
    pc = static_cast<std::remove_reference_t<decltype(pc)>>(reinterpret_cast<Address>(resume));
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
