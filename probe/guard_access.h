#pragma once
// Between the guard's files only: the access routines they share the shape of,
// and what the handler each platform installs leaves for them.

#include "common/block.h"
#include "probe/guard.h"

// Which routines these are is chosen by the build (cmake/guard.cmake): an
// assembly routine of the processor's own where there is one, else the
// portable routines built on sigsetjmp.

extern "C" {
// Return the byte (0..255) or 0 on success for the store; -1 after a fault.
int gleanhexLoadByte(Address address);
int gleanhexStoreByte(Address address, int value);
// The assembly routines' one load or store, and the failure exit a fault there
// is resumed at.
extern const char gleanhexLoadAt[], gleanhexLoadFailed[];
extern const char gleanhexStoreAt[], gleanhexStoreFailed[];
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
