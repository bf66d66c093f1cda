// The guarded accesses on x86-64 Linux, and where its signal context keeps the
// program counter. Built only for that processor (see cmake/guard.cmake).

#include "probe/guard_context_linux.h"

#if !(defined(__x86_64__) && defined(__LP64__))
#error "this access routine is for x86-64 only"
#endif

asm(".text\n" GLEANHEX_SYMBOLS("@function") R"(
    .p2align 4
gleanhexLoadByte:
gleanhexLoadAt:
    movzbl (%rdi), %eax
    ret
gleanhexLoadFailed:
    movl $-1, %eax
    ret
    .size gleanhexLoadByte, .-gleanhexLoadByte

    .p2align 4
gleanhexStoreByte:
gleanhexStoreAt:
    movb %sil, (%rdi)
    xorl %eax, %eax
    ret
gleanhexStoreFailed:
    movl $-1, %eax
    ret
    .size gleanhexStoreByte, .-gleanhexStoreByte
)");

Address interruptedAt(const ucontext_t& context)
{
    return static_cast<Address>(context.uc_mcontext.gregs[REG_RIP]);
}

void resumeAt(ucontext_t& context, Address at)
{
    context.uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(at);
}
