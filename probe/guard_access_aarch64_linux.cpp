// The guarded accesses on 64-bit Arm Linux, and where its signal context keeps
// the program counter. Built only for that processor (see cmake/guard.cmake).

#include "probe/guard_context_linux.h"

#if !(defined(__aarch64__) && defined(__LP64__))
#error "this access routine is for 64-bit Arm only"
#endif

asm(".text\n" GLEANHEX_SYMBOLS("%function") R"(
    .p2align 4
gleanhexLoadByte:
gleanhexLoadAt:
    ldrb w0, [x0]
    ret
gleanhexLoadFailed:
    mov w0, #-1
    ret
    .size gleanhexLoadByte, .-gleanhexLoadByte

    .p2align 4
gleanhexStoreByte:
gleanhexStoreAt:
    strb w1, [x0]
    mov w0, #0
    ret
gleanhexStoreFailed:
    mov w0, #-1
    ret
    .size gleanhexStoreByte, .-gleanhexStoreByte
)");

Address interruptedAt(const ucontext_t& context)
{
    return static_cast<Address>(context.uc_mcontext.pc);
}

void resumeAt(ucontext_t& context, Address at)
{
    context.uc_mcontext.pc = at;
}
