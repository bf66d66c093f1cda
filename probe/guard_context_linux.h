#pragma once
// Between the Linux access routines and the code that resumes their faults:
// each processor's file defines the routines and says where its signal context
// keeps the program counter. Another system lays out ucontext_t its own way.

#include <signal.h>
#include <ucontext.h>

#include "common/block.h"
#include "probe/guard_access.h"

// The program counter of the interrupted instruction, and moving it.
Address interruptedAt(const ucontext_t& context);
void resumeAt(ucontext_t& context, Address at);

// The routines' symbols: global for the resume code, hidden so that their
// addresses are the code's own, never a stub's.
#define GLEANHEX_SYMBOLS(type)                                                                                 \
    ".globl gleanhexLoadByte, gleanhexLoadAt, gleanhexLoadFailed\n"                                            \
    ".hidden gleanhexLoadByte, gleanhexLoadAt, gleanhexLoadFailed\n"                                           \
    ".type gleanhexLoadByte, " type "\n"                                                                       \
    ".globl gleanhexStoreByte, gleanhexStoreAt, gleanhexStoreFailed\n"                                         \
    ".hidden gleanhexStoreByte, gleanhexStoreAt, gleanhexStoreFailed\n"                                        \
    ".type gleanhexStoreByte, " type "\n"
