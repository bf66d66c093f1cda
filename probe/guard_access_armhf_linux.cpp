// The guarded accesses on 32-bit Arm Linux, and where its signal context keeps
// the program counter. Built only for that processor (see cmake/guard.cmake).

#include "probe/guard_context_linux.h"

#if !defined(__arm__)
#error "this access routine is for 32-bit Arm only"
#endif

// ARM state, whatever state the compiler uses: the symbols' type makes calls
// from Thumb code switch over and back. The compiler's own state is restored
// at the end.
#if defined(__thumb__)
#define GLEANHEX_COMPILER_STATE ".thumb\n"
#else
#define GLEANHEX_COMPILER_STATE ".arm\n"
#endif
asm(".text\n.syntax unified\n.arm\n" GLEANHEX_SYMBOLS("%function") R"(
    .p2align 4
gleanhexLoadByte:
gleanhexLoadAt:
    ldrb r0, [r0]
    bx lr
gleanhexLoadFailed:
    mvn r0, #0
    bx lr
    .size gleanhexLoadByte, .-gleanhexLoadByte

    .p2align 4
gleanhexStoreByte:
gleanhexStoreAt:
    strb r1, [r0]
    mov r0, #0
    bx lr
gleanhexStoreFailed:
    mvn r0, #0
    bx lr
    .size gleanhexStoreByte, .-gleanhexStoreByte
)" GLEANHEX_COMPILER_STATE);

Address interruptedAt(const ucontext_t& context)
{
    return static_cast<Address>(context.uc_mcontext.arm_pc);
}

void resumeAt(ucontext_t& context, Address at)
{
    context.uc_mcontext.arm_pc = at;
}
