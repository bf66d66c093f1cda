// The guarded accesses on Windows on 64-bit Arm, and where the exception context
// keeps the program counter. Built only for that processor (see
// cmake/guard.cmake).

#include "probe/guard_context_win32.h"

#if !defined(__aarch64__)
#error "this access routine is for Windows on 64-bit Arm only"
#endif

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

Address interruptedAt(const CONTEXT& context)
{
    return static_cast<Address>(context.Pc);
}

void resumeAt(CONTEXT& context, Address at)
{
    context.Pc = static_cast<DWORD64>(at);
}
