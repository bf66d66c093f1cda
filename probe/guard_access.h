#pragma once
// Between the guard's files only: the access routines they share the shape of,
// and what the handler each platform installs leaves for them.

#include "common/block.h"
#include "probe/guard.h"

// Linux on these processors: the access is an assembly routine whose faulting
// instruction the handler knows by address. Everywhere else on POSIX, and with
// GLEANHEX_PORTABLE_GUARD, the portable access built on sigsetjmp.
#if defined(__linux__) && !defined(GLEANHEX_PORTABLE_GUARD) &&                                     \
    (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) ||      \
     (defined(__riscv) && __riscv_xlen == 64) || (defined(__powerpc64__) && _CALL_ELF == 2) ||  \
     defined(__s390x__) || (defined(__mips__) && _MIPS_SIM == _ABI64))
#define GLEANHEX_GUARD_IN_ASSEMBLY 1
#else
#define GLEANHEX_GUARD_IN_ASSEMBLY 0
#endif

extern "C" {
// Return the byte (0..255) or 0 on success for the store; -1 after a fault.
int gleanhexLoadByte(Address address);
int gleanhexStoreByte(Address address, int value);
}

// How far the fault of the latest failed access reaches, as its handler found
// it from the platform's own account of the cause.
FaultReach latestFaultReach();

#if !defined(_WIN32)
#include <signal.h>
// Called by the POSIX handler for a fault (never for a sent signal): true when
// the fault was a guarded access's, which then fails instead; the handler returns.
bool resumeGuardedAccess(int sig, siginfo_t* info, void* context);
#endif
