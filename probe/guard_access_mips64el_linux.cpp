// The guarded accesses on 64-bit MIPS (n64) Linux, and where its signal context
// keeps the program counter. Built only for that processor (see
// cmake/guard.cmake).

#include "probe/guard_context_linux.h"

#if !(defined(__mips__) && _MIPS_SIM == _ABI64)
#error "this access routine is for 64-bit MIPS (n64) only"
#endif

// n64. The access is never in a delay slot, so a fault reports its own address;
// the delay slots of the returns set the result.
asm(".text\n" GLEANHEX_SYMBOLS("@function") R"(
    .set push
    .set noreorder
    .set nomacro
    .p2align 4
gleanhexLoadByte:
gleanhexLoadAt:
    lbu $2, 0($4)
    jr $31
    nop
gleanhexLoadFailed:
    jr $31
    addiu $2, $0, -1
    .size gleanhexLoadByte, .-gleanhexLoadByte

    .p2align 4
gleanhexStoreByte:
gleanhexStoreAt:
    sb $5, 0($4)
    jr $31
    or $2, $0, $0
gleanhexStoreFailed:
    jr $31
    addiu $2, $0, -1
    .size gleanhexStoreByte, .-gleanhexStoreByte
    .set pop
)");

Address interruptedAt(const ucontext_t& context)
{
    return static_cast<Address>(context.uc_mcontext.pc);
}

void resumeAt(ucontext_t& context, Address at)
{
    context.uc_mcontext.pc = at;
}
