// The guarded accesses on 64-bit z/Architecture Linux, and where its signal
// context keeps the program counter. Built only for that processor (see
// cmake/guard.cmake).

#include "probe/guard_context_linux.h"

#if !defined(__s390x__)
#error "this access routine is for 64-bit z/Architecture only"
#endif

// The kernel reports a fault with the address of the faulting instruction,
// rewinding past the ones the processor suppresses.
asm(".text\n" GLEANHEX_SYMBOLS("@function") R"(
    .p2align 4
gleanhexLoadByte:
gleanhexLoadAt:
    llgc %r2, 0(%r2)
    br %r14
gleanhexLoadFailed:
    lghi %r2, -1
    br %r14
    .size gleanhexLoadByte, .-gleanhexLoadByte

    .p2align 4
gleanhexStoreByte:
gleanhexStoreAt:
    stc %r3, 0(%r2)
    lghi %r2, 0
    br %r14
gleanhexStoreFailed:
    lghi %r2, -1
    br %r14
    .size gleanhexStoreByte, .-gleanhexStoreByte
)");

Address interruptedAt(const ucontext_t& context)
{
    return static_cast<Address>(context.uc_mcontext.psw.addr);
}

void resumeAt(ucontext_t& context, Address at)
{
    context.uc_mcontext.psw.addr = at;
}
