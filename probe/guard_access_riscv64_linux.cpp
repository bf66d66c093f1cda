// The guarded accesses on 64-bit RISC-V Linux, and where its signal context
// keeps the program counter. Built only for that processor (see
// cmake/guard.cmake).

#include "probe/guard_context_linux.h"

#if !(defined(__riscv) && __riscv_xlen == 64)
#error "this access routine is for 64-bit RISC-V only"
#endif

asm(".text\n" GLEANHEX_SYMBOLS("@function") R"(
    .p2align 4
gleanhexLoadByte:
gleanhexLoadAt:
    lbu a0, 0(a0)
    ret
gleanhexLoadFailed:
    li a0, -1
    ret
    .size gleanhexLoadByte, .-gleanhexLoadByte

    .p2align 4
gleanhexStoreByte:
gleanhexStoreAt:
    sb a1, 0(a0)
    li a0, 0
    ret
gleanhexStoreFailed:
    li a0, -1
    ret
    .size gleanhexStoreByte, .-gleanhexStoreByte
)");

Address interruptedAt(const ucontext_t& context)
{
    return static_cast<Address>(context.uc_mcontext.__gregs[REG_PC]);
}

void resumeAt(ucontext_t& context, Address at)
{
    context.uc_mcontext.__gregs[REG_PC] = at;
}
