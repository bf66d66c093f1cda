#pragma once
// Between the Windows access routines and the handler that resumes their
// exceptions: each processor's file defines the routines and says where its
// exception context keeps the program counter.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "common/block.h"
#include "probe/guard_access.h"

// The program counter of the excepting instruction, and moving it.
Address interruptedAt(const CONTEXT& context);
void resumeAt(CONTEXT& context, Address at);
