// Insert and Delete over the live process: across its largest gap between
// mappings, across the wrap at the top of the address space, into the growth
// range below a stack, from a block that reads already; and the literal walk's
// probes per second, which says how long the block-by-block walk would take
// over the same distances.

#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <iostream>
#include <streambuf>

#include "probe/memory_map.h"
#include "probe/scan.h"
#include "tests/support/pages.h"

namespace {

// Keeps the scan's message off the benchmark's report.
class NullBuf : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Where the user's mappings end: a 64-bit process sees the kernel's vsyscall
// page in the top half; a 32-bit one owns the whole space.
constexpr Address USER_LAST = sizeof(Address) == 8 ? (Address{1} << (sizeof(Address) * 8 - 1)) - 1 : ~Address{0};

struct Gap {
    Address first = 0;
    Address last = 0;
};

// The largest stretch of unreadable ranges between two readable ones, below
// the end of the user's part of the address space.
Gap largestGap()
{
    MemoryMap map{};
    readMemoryMap(map);
    Gap best;
    for (std::size_t i = 1; i + 1 < map.ranges.size(); ++i) {
        const MapRange& r = map.ranges[i];
        if (r.access == MapAccess::UNREADABLE && r.last <= USER_LAST && r.last - r.first > best.last - best.first)
            best = {r.first, r.last};
    }
    return best;
}

void scanFrom(benchmark::State& state, Address start, int direction, Address distance)
{
    NullBuf sink;
    std::streambuf* const old = std::cout.rdbuf(&sink);
    Address found = 0;
    for (auto _ : state)
        found = scanForReadable(start, direction);
    std::cout.rdbuf(old);
    benchmark::DoNotOptimize(found);
    const Address walked = distance != 0 ? distance : (direction > 0 ? found - start : start - found);
    state.counters["candidates_passed"] = static_cast<double>(walked / BLOCK_BYTES);
}

void BM_ScanAcrossLargestGapUp(benchmark::State& state)
{
    const Gap gap = largestGap();
    scanFrom(state, gap.first, +1, 0);
}
BENCHMARK(BM_ScanAcrossLargestGapUp)->Unit(benchmark::kMicrosecond);

void BM_ScanAcrossLargestGapDown(benchmark::State& state)
{
    const Gap gap = largestGap();
    scanFrom(state, gap.last, -1, 0);
}
BENCHMARK(BM_ScanAcrossLargestGapDown)->Unit(benchmark::kMicrosecond);

// From just above the highest user mapping up through the top, round to the
// lowest mapping; and from just below the lowest mapping down the other way.
void BM_ScanAcrossTheWrapUp(benchmark::State& state)
{
    MemoryMap map{};
    readMemoryMap(map);
    Address highest = 0;
    for (const MapRange& r : map.ranges)
        if (r.access == MapAccess::READABLE && r.last <= USER_LAST)
            highest = r.last;
    NullBuf sink;
    std::streambuf* const old = std::cout.rdbuf(&sink);
    const Address found = scanForReadable(highest + 1, +1);
    std::cout.rdbuf(old);
    scanFrom(state, highest + 1, +1, found - (highest + 1));
}
BENCHMARK(BM_ScanAcrossTheWrapUp)->Unit(benchmark::kMicrosecond);

void BM_ScanAcrossTheWrapDown(benchmark::State& state)
{
    MemoryMap map{};
    readMemoryMap(map);
    const Address lowest = map.ranges[1].first;
    NullBuf sink;
    std::streambuf* const old = std::cout.rdbuf(&sink);
    const Address found = scanForReadable(lowest - 1, -1);
    std::cout.rdbuf(old);
    scanFrom(state, lowest - 1, -1, (lowest - 1) - found);
}
BENCHMARK(BM_ScanAcrossTheWrapDown)->Unit(benchmark::kMicrosecond);

void BM_ScanFromAReadableBlock(benchmark::State& state)
{
    static const char here = 0;
    scanFrom(state, reinterpret_cast<Address>(&here), +1, 0);
}
BENCHMARK(BM_ScanFromAReadableBlock)->Unit(benchmark::kMicrosecond);

// Up from a readable floor page through 8 MiB of unmapped memory into the
// range a MAP_GROWSDOWN mapping can grow over (the stack limit bounds it),
// where the answer is found by halving with faulting probes. The mapping is
// made afresh for every scan, since the scan's answer grows it.
void BM_ScanUpIntoGrowthRange(benchmark::State& state)
{
    const Address mib = Address{1} << 20;
    const Address page = pageBytes();
    void* const at = ::mmap(nullptr, 32 * mib, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    const Address base = reinterpret_cast<Address>(at);
    void* const top = reinterpret_cast<void*>(base + 24 * mib);
    NullBuf sink;
    std::streambuf* const old = std::cout.rdbuf(&sink);
    Address found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ::mmap(at, 32 * mib, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
        ::mprotect(at, page, PROT_READ);
        ::munmap(reinterpret_cast<void*>(base + page), 24 * mib - page);
        ::mmap(top, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_GROWSDOWN, -1, 0);
        state.ResumeTiming();
        found = scanForReadable(base + page, +1);
    }
    std::cout.rdbuf(old);
    ::munmap(at, 32 * mib);
    state.counters["candidates_passed"] = static_cast<double>((found - base - page) / BLOCK_BYTES);
}
BENCHMARK(BM_ScanUpIntoGrowthRange)->Unit(benchmark::kMicrosecond);

// The process grown to `count` more mappings: one-page islands, read-only
// between inaccessible pages, in one reservation; they go with it.
class ManyMappings : Pages {
public:
    explicit ManyMappings(std::size_t count) : Pages(count, PageAccess::none)
    {
        for (std::size_t page = 1; page < count; page += 2)
            protect(page, PageAccess::read);
    }
    ~ManyMappings() = default;  // the islands go with it
};

// Across the largest gap either way, with 1,000 and 10,000 more mappings.
void BM_ScanAmongManyMappingsUp(benchmark::State& state)
{
    const ManyMappings mappings(static_cast<std::size_t>(state.range(0)));
    const Gap gap = largestGap();
    scanFrom(state, gap.first, +1, 0);
}
BENCHMARK(BM_ScanAmongManyMappingsUp)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_ScanAmongManyMappingsDown(benchmark::State& state)
{
    const ManyMappings mappings(static_cast<std::size_t>(state.range(0)));
    const Gap gap = largestGap();
    scanFrom(state, gap.last, -1, 0);
}
BENCHMARK(BM_ScanAmongManyMappingsDown)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Reading the map alone: the floor under every scan.
void BM_ReadMemoryMap(benchmark::State& state)
{
    MemoryMap map{};
    for (auto _ : state)
        benchmark::DoNotOptimize(readMemoryMap(map));
    state.counters["ranges"] = static_cast<double>(map.ranges.size());
}
BENCHMARK(BM_ReadMemoryMap)->Unit(benchmark::kMicrosecond);

// The literal walk over inaccessible memory: every candidate a fault.
void BM_LiteralWalkProbes(benchmark::State& state)
{
    constexpr Address CANDIDATES = 4096;
    const Address size = CANDIDATES * BLOCK_BYTES + pageBytes();
    void* const at = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    const Address start = reinterpret_cast<Address>(at);
    for (auto _ : state)
        benchmark::DoNotOptimize(walkBlockByBlock(start, +1, CANDIDATES));
    ::munmap(at, size);
    state.SetItemsProcessed(state.iterations() * static_cast<benchmark::IterationCount>(CANDIDATES));
}
BENCHMARK(BM_LiteralWalkProbes)->Unit(benchmark::kMillisecond);

}  // namespace
