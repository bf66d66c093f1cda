// Insert and Delete over the live process: across its largest gap between
// mappings, across the wrap at the top of the address space, into the growth
// range below a stack, from a block that reads already; and the literal walk's
// probes per second, which says how long the block-by-block walk would take
// over the same distances. Each case against the floor: one question to the
// kernel and one guarded read. Each case counts the questions it asked
// (`queries`) and the faults its probes took (`faults`), per scan.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <iostream>
#include <streambuf>

#include "floor_ratio.h"
#include "probe/guard.h"
#include "probe/memory_map.h"
#include "probe/scan.h"
#include "tests/support/pages.h"

namespace {

// The kernel's question about one address, as far as the floor needs it: the
// kernel takes a shorter question than its own and answers as far as it goes.
struct MappingQuestion {
    std::uint64_t size;
    std::uint64_t flags;
    std::uint64_t address;
    std::uint64_t first;
    std::uint64_t end;
};
constexpr unsigned long PROCMAP_QUERY = _IOWR('f', 17, char[104]);
constexpr std::uint64_t COVERING_OR_NEXT = 0x10;

std::uint64_t queriesAsked;
std::uint64_t faultsTaken;
struct sigaction guardHandler;

// Between the guard and the kernel: counts, then hands on.
void countFault(int sig, siginfo_t* info, void* context)
{
    ++faultsTaken;
    guardHandler.sa_sigaction(sig, info, context);
}

struct Counts {
    std::uint64_t queries = queriesAsked;
    std::uint64_t faults = faultsTaken;
};

// What the case asked and took since `before`, per iteration.
void tally(benchmark::State& state, const Counts& before)
{
    const auto perScan = [](std::uint64_t n) {
        return benchmark::Counter(static_cast<double>(n), benchmark::Counter::kAvgIterations);
    };
    state.counters["queries"] = perScan(queriesAsked - before.queries);
    state.counters["faults"] = perScan(faultsTaken - before.faults);
}

}  // namespace

// Every question the program asks passes here, and is counted.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list rest;
    va_start(rest, request);
    void* const argument = va_arg(rest, void*);
    va_end(rest);
    if (request == PROCMAP_QUERY)
        ++queriesAsked;
    return static_cast<int>(::syscall(SYS_ioctl, fd, request, argument));
}

namespace {

// One question about a mapped address and one guarded read there, the map's
// descriptor open already: what no scan can go below.
void BM_Floor(benchmark::State& state)
{
    static const char here = 0;
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    const Address at = reinterpret_cast<Address>(&here);
    const Counts before;
    for (auto _ : state) {
        MappingQuestion q{sizeof q, COVERING_OR_NEXT, at, 0, 0};
        if (::ioctl(fd, PROCMAP_QUERY, &q) != 0 || q.first > at) {
            state.SkipWithError("the kernel does not answer the question");
            break;
        }
        benchmark::DoNotOptimize(readByteGuarded(at));
    }
    tally(state, before);
    ::close(fd);
}
BENCHMARK(BM_Floor)->Apply(scanCase);

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
    const Counts before;
    for (auto _ : state)
        found = scanForReadable(start, direction);
    tally(state, before);
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
BENCHMARK(BM_ScanAcrossLargestGapUp)->Apply(scanCase);

void BM_ScanAcrossLargestGapDown(benchmark::State& state)
{
    const Gap gap = largestGap();
    scanFrom(state, gap.last, -1, 0);
}
BENCHMARK(BM_ScanAcrossLargestGapDown)->Apply(scanCase);

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
BENCHMARK(BM_ScanAcrossTheWrapUp)->Apply(scanCase);

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
BENCHMARK(BM_ScanAcrossTheWrapDown)->Apply(scanCase);

void BM_ScanFromAReadableBlock(benchmark::State& state)
{
    static const char here = 0;
    scanFrom(state, reinterpret_cast<Address>(&here), +1, 0);
}
BENCHMARK(BM_ScanFromAReadableBlock)->Apply(scanCase);

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
    const Counts before;
    for (auto _ : state) {
        state.PauseTiming();
        ::mmap(at, 32 * mib, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
        ::mprotect(at, page, PROT_READ);
        ::munmap(reinterpret_cast<void*>(base + page), 24 * mib - page);
        ::mmap(top, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_GROWSDOWN, -1, 0);
        state.ResumeTiming();
        found = scanForReadable(base + page, +1);
    }
    tally(state, before);
    std::cout.rdbuf(old);
    ::munmap(at, 32 * mib);
    state.counters["candidates_passed"] = static_cast<double>((found - base - page) / BLOCK_BYTES);
}
BENCHMARK(BM_ScanUpIntoGrowthRange)->Apply(scanCase);

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
BENCHMARK(BM_ScanAmongManyMappingsUp)->Arg(1000)->Arg(10000)->Apply(scanCase);

void BM_ScanAmongManyMappingsDown(benchmark::State& state)
{
    const ManyMappings mappings(static_cast<std::size_t>(state.range(0)));
    const Gap gap = largestGap();
    scanFrom(state, gap.last, -1, 0);
}
BENCHMARK(BM_ScanAmongManyMappingsDown)->Arg(1000)->Arg(10000)->Apply(scanCase);

// Reading the map alone: the floor under every scan.
void BM_ReadMemoryMap(benchmark::State& state)
{
    MemoryMap map{};
    const Counts before;
    for (auto _ : state)
        benchmark::DoNotOptimize(readMemoryMap(map));
    tally(state, before);
    state.counters["ranges"] = static_cast<double>(map.ranges.size());
}
BENCHMARK(BM_ReadMemoryMap)->Apply(scanCase);

// The literal walk over inaccessible memory: every candidate a fault.
void BM_LiteralWalkProbes(benchmark::State& state)
{
    constexpr Address CANDIDATES = 4096;
    const Address size = CANDIDATES * BLOCK_BYTES + pageBytes();
    void* const at = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    const Address start = reinterpret_cast<Address>(at);
    const Counts before;
    for (auto _ : state)
        benchmark::DoNotOptimize(walkBlockByBlock(start, +1, CANDIDATES));
    tally(state, before);
    ::munmap(at, size);
    state.SetItemsProcessed(state.iterations() * static_cast<benchmark::IterationCount>(CANDIDATES));
}
BENCHMARK(BM_LiteralWalkProbes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    // The guard is in place already (from the start, as main has it).
    struct sigaction counting {};
    if (::sigaction(SIGSEGV, nullptr, &guardHandler) != 0 || (guardHandler.sa_flags & SA_SIGINFO) == 0)
        return 1;
    counting = guardHandler;
    counting.sa_sigaction = countFault;
    if (::sigaction(SIGSEGV, &counting, nullptr) != 0)
        return 1;
    return runWithFloor(argc, argv, "BM_Floor");
}
