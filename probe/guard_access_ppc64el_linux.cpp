// The guarded accesses on 64-bit POWER Linux (ELFv2), and where its signal
// context keeps the program counter. Built only for that processor (see
// cmake/guard.cmake).

#include "probe/guard_context_linux.h"

#if !(defined(__powerpc64__) && _CALL_ELF == 2)
#error "this access routine is for 64-bit POWER with the ELFv2 ABI only"
#endif

// ELFv2: leaf routines that need no TOC have a single entry point.
asm(".text\n" GLEANHEX_SYMBOLS("@function") R"(
    .p2align 4
gleanhexLoadByte:
gleanhexLoadAt:
    lbz 3, 0(3)
    blr
gleanhexLoadFailed:
    li 3, -1
    blr
    .size gleanhexLoadByte, .-gleanhexLoadByte

    .p2align 4
gleanhexStoreByte:
gleanhexStoreAt:
    stb 4, 0(3)
    li 3, 0
    blr
gleanhexStoreFailed:
    li 3, -1
    blr
    .size gleanhexStoreByte, .-gleanhexStoreByte
)");

Address interruptedAt(const ucontext_t& context)
{
    return static_cast<Address>(context.uc_mcontext.gp_regs[32]);  // PT_NIP
}

void resumeAt(ucontext_t& context, Address at)
{
    context.uc_mcontext.gp_regs[32] = at;
}
