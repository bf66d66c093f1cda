#pragma once
// The map's ranges around an address, from the mappings the kernel lists: a
// mapping is readable or not by its access; the gap below an accessible one is
// where a stack may grow (the kernel does not say which mappings grow down, so
// a probe finds out); every other gap is unreadable.

#include <cstddef>

#include "probe/memory_map.h"

struct MapEntry {
    Address first;
    Address last;
    bool accessible;  // any of read, write, execute: a read may succeed
    // The access the kernel names, in the bits below; 0 where it is not told.
    unsigned protection = 0;
};
enum : unsigned { ENTRY_READ = 0x1, ENTRY_WRITE = 0x2, ENTRY_EXEC = 0x4, ENTRY_SHARED = 0x8 };

enum class Found { YES, NONE, FAILED };
enum class GrowsDown { NO, PERHAPS, YES };

struct Mappings {
    // The mapping that holds `a`, else the lowest one above it.
    Found (*from)(const void* context, Address a, MapEntry& m);
    // The highest mapping wholly below `a`; without it, found by asking `from`.
    Found (*below)(const void* context, Address a, MapEntry& m);
    const void* context;
    Address pageSize;
    // A stack is never larger than this. Asked only where a gap lies below an
    // accessible mapping: it may cost a system call.
    Address (*stackLimit)(const void* context);
    // Address bits the processor ignores: every value of them opens a window
    // onto the same map, so each window is looked up as the one at 0.
    Address ignoredBits;
    // Whether an accessible mapping grows down; without it, every one may.
    // The kernel's listing and answers do not say, so probes find out where
    // this cannot tell.
    GrowsDown (*growsDown)(const void* context, const MapEntry& m) = nullptr;
    // Addresses at or just above which mappings are likely to end, in
    // increasing order: where a search for the mapping below an address starts
    // (the kernel answers only for an address or above it). Any address will
    // do; a good one saves questions.
    const Address* hints = nullptr;
    std::size_t hintCount = 0;
};

// The range that holds `a`, as MapLookup::rangeAt gives it. False when a
// question to the kernel failed.
bool rangeFromMappings(const Mappings& mappings, Address a, int direction, MapRange& range);
