// The guarded accesses on 32-bit x86 Windows, and where the exception context
// keeps the program counter. Built only for that processor (see
// cmake/guard.cmake).

#include "probe/guard_context_win32.h"

#if !defined(__i386__)
#error "this access routine is for 32-bit x86 Windows only"
#endif

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

Address interruptedAt(const CONTEXT& context)
{
    return static_cast<Address>(context.Eip);
}

void resumeAt(CONTEXT& context, Address at)
{
    context.Eip = static_cast<DWORD>(at);
}
