// The guarded accesses on 32-bit x86 Linux, and where its signal context keeps
// the program counter. Built only for that processor (see cmake/guard.cmake).

#include "probe/guard_context_linux.h"

#if !defined(__i386__)
#error "this access routine is for 32-bit x86 only"
#endif

// cdecl: the arguments are on the stack, above the return address.
asm(".text\n" GLEANHEX_SYMBOLS("@function") R"(
    .p2align 4
gleanhexLoadByte:
    movl 4(%esp), %ecx
gleanhexLoadAt:
    movzbl (%ecx), %eax
    ret
gleanhexLoadFailed:
    movl $-1, %eax
    ret
    .size gleanhexLoadByte, .-gleanhexLoadByte

    .p2align 4
gleanhexStoreByte:
    movl 4(%esp), %ecx
    movl 8(%esp), %edx
gleanhexStoreAt:
    movb %dl, (%ecx)
    xorl %eax, %eax
    ret
gleanhexStoreFailed:
    movl $-1, %eax
    ret
    .size gleanhexStoreByte, .-gleanhexStoreByte
)");

Address interruptedAt(const ucontext_t& context)
{
    return static_cast<Address>(context.uc_mcontext.gregs[REG_EIP]);
}

void resumeAt(ucontext_t& context, Address at)
{
    context.uc_mcontext.gregs[REG_EIP] = static_cast<greg_t>(at);
}
