#pragma once
// One soak run: the built browser in a pseudo-terminal, driven by a random key
// stream from one of its homes, checked against a model of what each key must do.

#include <cstdint>
#include <string>

struct SoakStats {
    long runs = 0;
    long keys = 0;       // key presses sent, pause keys and bursts' keys included
    long frames = 0;
    long scans = 0;
    long stored = 0;     // values written into `s` or the heap home byte
    long failed = 0;     // valid values refused with "Write failed"
    long invalid = 0;    // entries refused with "Value is invalid, aborting."
    long fromRest = 0;   // prompts answered by what an earlier line left behind
    long signals = 0;    // runs ended by a signal instead of X
};

// Plays the stream that `seed` makes, from `s` (mainframe) or the heap home
// block; `mayEndWithSignal` lets the seed end it with a signal in some state
// instead of X. Returns "" when every check held, else what failed, with the
// seed and the last keys sent.
std::string soakRun(std::uint64_t seed, bool mainframe, bool mayEndWithSignal, SoakStats& stats);
