// The guarded accesses on Linux: each is a tiny assembly routine, so the
// compiler can neither move nor merge it, with its one load or store at a known
// label and a failure exit after it. A fault whose program counter is that load
// or store is resumed at the failure exit.

#include "probe/guard_access.h"

#if GLEANHEX_GUARD_IN_ASSEMBLY

#include "probe/guard_context_linux.h"

extern "C" {
extern const char gleanhexLoadAt[], gleanhexLoadFailed[];
extern const char gleanhexStoreAt[], gleanhexStoreFailed[];
}

// Each processor's routines: `Load` returns the byte zero-extended, `Store`
// returns 0, both return -1 from the failure exit. The symbols are hidden, so
// their addresses are the code's own, never a stub's.
#define GLEANHEX_SYMBOLS(type)                                                                                 \
    ".globl gleanhexLoadByte, gleanhexLoadAt, gleanhexLoadFailed\n"                                            \
    ".hidden gleanhexLoadByte, gleanhexLoadAt, gleanhexLoadFailed\n"                                           \
    ".type gleanhexLoadByte, " type "\n"                                                                       \
    ".globl gleanhexStoreByte, gleanhexStoreAt, gleanhexStoreFailed\n"                                         \
    ".hidden gleanhexStoreByte, gleanhexStoreAt, gleanhexStoreFailed\n"                                        \
    ".type gleanhexStoreByte, " type "\n"

#if defined(__x86_64__)
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
#elif defined(__i386__)
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
#elif defined(__aarch64__)
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
#elif defined(__arm__)
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
#elif defined(__riscv)
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
#elif defined(__powerpc64__)
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
#elif defined(__s390x__)
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
#elif defined(__mips__)
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
#endif

namespace {

// Moves a fault at `at` on to `resume`; false for any other fault.
bool resumePast(ucontext_t& context, const char* at, const char* resume)
{
    if (interruptedAt(context) != reinterpret_cast<Address>(at))
        return false;
    resumeAt(context, reinterpret_cast<Address>(resume));
    return true;
}

}  // namespace

bool resumeGuardedAccess(int, siginfo_t*, void* context)
{
    ucontext_t& c = *static_cast<ucontext_t*>(context);
    return resumePast(c, gleanhexLoadAt, gleanhexLoadFailed) || resumePast(c, gleanhexStoreAt, gleanhexStoreFailed);
}

#endif
