// The guard on POSIX: the access itself is a tiny assembly routine, so the
// compiler can neither move nor merge it. A SIGSEGV or SIGBUS whose program
// counter is that routine's one load or store is resumed at the routine's
// failure exit; every other fault goes on to whoever handled it before.

#include "probe/guard_access.h"

#include <signal.h>
#include <ucontext.h>

#if defined(__x86_64__)
asm(R"(
    .text
    .p2align 4
    .globl gleanhexLoadByte, gleanhexLoadAt, gleanhexLoadFailed
    .hidden gleanhexLoadByte, gleanhexLoadAt, gleanhexLoadFailed
    .type gleanhexLoadByte, @function
gleanhexLoadByte:
gleanhexLoadAt:
    movzbl (%rdi), %eax
    ret
gleanhexLoadFailed:
    movl $-1, %eax
    ret
    .size gleanhexLoadByte, .-gleanhexLoadByte

    .p2align 4
    .globl gleanhexStoreByte, gleanhexStoreAt, gleanhexStoreFailed
    .hidden gleanhexStoreByte, gleanhexStoreAt, gleanhexStoreFailed
    .type gleanhexStoreByte, @function
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
#elif defined(__aarch64__)
asm(R"(
    .text
    .p2align 4
    .globl gleanhexLoadByte, gleanhexLoadAt, gleanhexLoadFailed
    .hidden gleanhexLoadByte, gleanhexLoadAt, gleanhexLoadFailed
    .type gleanhexLoadByte, %function
gleanhexLoadByte:
gleanhexLoadAt:
    ldrb w0, [x0]
    ret
gleanhexLoadFailed:
    mov w0, #-1
    ret
    .size gleanhexLoadByte, .-gleanhexLoadByte

    .p2align 4
    .globl gleanhexStoreByte, gleanhexStoreAt, gleanhexStoreFailed
    .hidden gleanhexStoreByte, gleanhexStoreAt, gleanhexStoreFailed
    .type gleanhexStoreByte, %function
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
#else
#error "the memory guard has no access routine for this processor"
#endif

namespace {

// Set once, before the first guarded access; read only by the handler.
struct sigaction previousSegv;
struct sigaction previousBus;

#if defined(__x86_64__)
auto& programCounter(ucontext_t* context) { return context->uc_mcontext.gregs[REG_RIP]; }
#else
auto& programCounter(ucontext_t* context) { return context->uc_mcontext.pc; }
#endif

// Moves a fault at `at` on to `resume`; false for any other fault.
template <typename Register>
bool resumePast(Register& pc, const char* at, const char* resume)
{
    if (static_cast<Address>(pc) != reinterpret_cast<Address>(at))
        return false;
    pc = static_cast<Register>(reinterpret_cast<Address>(resume));
    return true;
}

void passOn(int sig, siginfo_t* info, void* context)
{
    const struct sigaction& previous = sig == SIGBUS ? previousBus : previousSegv;
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
        previous.sa_sigaction(sig, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(sig);
    } else {
        // Returning re-runs the faulting instruction, which now meets the default action.
        ::signal(sig, SIG_DFL);
    }
}

void onFault(int sig, siginfo_t* info, void* context)
{
    auto& pc = programCounter(static_cast<ucontext_t*>(context));
    if (resumePast(pc, gleanhexLoadAt, gleanhexLoadFailed) || resumePast(pc, gleanhexStoreAt, gleanhexStoreFailed))
        return;
    passOn(sig, info, context);
}

bool installGuard()
{
    struct sigaction act {};
    act.sa_sigaction = onFault;
    act.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&act.sa_mask);
    ::sigaction(SIGSEGV, &act, &previousSegv);
    ::sigaction(SIGBUS, &act, &previousBus);
    return true;
}

}  // namespace

void ensureGuard()
{
    [[maybe_unused]] static const bool installed = installGuard();
}
