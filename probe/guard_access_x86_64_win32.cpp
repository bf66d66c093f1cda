// The guarded accesses on 64-bit x86 Windows, and where the exception context
// keeps the program counter. Built only for that processor (see
// cmake/guard.cmake).

#include "probe/guard_context_win32.h"

#if !defined(__x86_64__)
#error "this access routine is for 64-bit x86 Windows only"
#endif

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

Address interruptedAt(const CONTEXT& context)
{
    return static_cast<Address>(context.Rip);
}

void resumeAt(CONTEXT& context, Address at)
{
    context.Rip = static_cast<DWORD64>(at);
}
