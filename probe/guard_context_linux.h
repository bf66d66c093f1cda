#pragma once
// Linux only: where each processor's signal context keeps the program counter
// of the interrupted instruction. Another system lays out ucontext_t its own way.

#include <signal.h>
#include <ucontext.h>

#include "common/block.h"

inline Address interruptedAt(const ucontext_t& context)
{
#if defined(__x86_64__)
    return static_cast<Address>(context.uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<Address>(context.uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<Address>(context.uc_mcontext.pc);
#elif defined(__arm__)
    return static_cast<Address>(context.uc_mcontext.arm_pc);
#elif defined(__riscv)
    return static_cast<Address>(context.uc_mcontext.__gregs[REG_PC]);
#elif defined(__powerpc64__)
    return static_cast<Address>(context.uc_mcontext.gp_regs[32]);  // PT_NIP
#elif defined(__s390x__)
    return static_cast<Address>(context.uc_mcontext.psw.addr);
#elif defined(__mips__)
    return static_cast<Address>(context.uc_mcontext.pc);
#endif
}

inline void resumeAt(ucontext_t& context, Address at)
{
#if defined(__x86_64__)
    context.uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(at);
#elif defined(__i386__)
    context.uc_mcontext.gregs[REG_EIP] = static_cast<greg_t>(at);
#elif defined(__aarch64__)
    context.uc_mcontext.pc = at;
#elif defined(__arm__)
    context.uc_mcontext.arm_pc = at;
#elif defined(__riscv)
    context.uc_mcontext.__gregs[REG_PC] = at;
#elif defined(__powerpc64__)
    context.uc_mcontext.gp_regs[32] = at;
#elif defined(__s390x__)
    context.uc_mcontext.psw.addr = at;
#elif defined(__mips__)
    context.uc_mcontext.pc = at;
#endif
}
