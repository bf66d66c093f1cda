// The whole browser under random key streams from both homes. The number of
// runs comes from GLEANHEX_SOAK_RUNS (split between the two homes), the first
// seed from GLEANHEX_SOAK_SEED. Without them, a smoke run of a few seconds that
// shows the soak itself still works; scripts/soak makes the long runs.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

#include "common/sanitizers.h"
#include "soak_run.h"

namespace {

long fromEnvironment(const char* name, long otherwise)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtol(value, nullptr, 10) : otherwise;
}

void soak(bool mainframe)
{
    // A sanitized program is several times slower: fewer runs in the same time.
    const long runs = fromEnvironment("GLEANHEX_SOAK_RUNS", GLEANHEX_ASAN ? 8 : 20) / 2;
    const auto firstSeed = static_cast<std::uint64_t>(fromEnvironment("GLEANHEX_SOAK_SEED", 1)) + (mainframe ? 1U << 30 : 0);
    SoakStats stats;
    const auto began = std::chrono::steady_clock::now();
    for (long i = 0; i < runs; ++i) {
        const std::string failure = soakRun(firstSeed + static_cast<std::uint64_t>(i), mainframe, true, stats);
        if (!failure.empty()) {
            ADD_FAILURE() << failure;
            return;
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    std::cout << "soak " << (mainframe ? "-mainframe" : "heap") << ": " << stats.runs << " runs, " << stats.keys
              << " keys, " << stats.frames << " frames, " << stats.scans << " scans, " << stats.stored
              << " values stored, " << stats.failed << " writes refused, " << stats.invalid << " entries invalid, "
              << stats.fromRest << " prompts answered by a line's rest, " << stats.signals << " ended by a signal, "
              << took.count() << " s\n";
}

TEST(Soak, RandomStreamsFromTheHeapBlock)
{
    soak(false);
}

TEST(Soak, RandomStreamsFromMainframe)
{
    soak(true);
}

}  // namespace
