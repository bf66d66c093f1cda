#pragma once
// Between the guard's platform twins only: the assembly access routines they
// share the shape of, and the handler each installs before the first access.

#include "common/block.h"

extern "C" {
// Return the byte (0..255) or 0 on success for the store; -1 after a fault.
int gleanhexLoadByte(Address address);
int gleanhexStoreByte(Address address, int value);
extern const char gleanhexLoadAt[], gleanhexLoadFailed[];
extern const char gleanhexStoreAt[], gleanhexStoreFailed[];
}

// Installs the platform's fault handler once; cheap on every later call.
void ensureGuard();
