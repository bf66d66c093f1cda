// One full redraw of the screen, as every key press costs it: a readable block,
// a wholly unreadable one, and one that runs from a readable page into an
// unreadable one. A fault that holds for its page costs one fault for the
// rest of that page, so neither of the last two should cost more than about
// twice the first.

#include <benchmark/benchmark.h>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <iostream>
#include <streambuf>

#include "view/view.h"

namespace {

// Swallows the frame, counting its bytes: the terminal's own cost is not ours.
class CountingBuf : public std::streambuf {
public:
    std::int64_t bytes = 0;

protected:
    int_type overflow(int_type c) override
    {
        ++bytes;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override
    {
        bytes += n;
        return n;
    }
};

void redraw(benchmark::State& state, Address blockStart)
{
    CountingBuf sink;
    std::streambuf* const old = std::cout.rdbuf(&sink);
    const auto flags = std::cout.flags();
    for (auto _ : state)
        drawBlock(blockStart, blockStart, 7, 9);
    std::cout.flags(flags);
    std::cout.rdbuf(old);
    state.counters["bytes_per_frame"] =
        benchmark::Counter(static_cast<double>(sink.bytes), benchmark::Counter::kAvgIterations);
}

void BM_RedrawReadableBlock(benchmark::State& state)
{
    alignas(16) static unsigned char block[240];
    for (unsigned i = 0; i < sizeof block; ++i)
        block[i] = static_cast<unsigned char>(i * 7);  // every kind of cell: ASCII, names, glyphs
    redraw(state, reinterpret_cast<Address>(block));
}

void BM_RedrawUnreadableBlock(benchmark::State& state)
{
    // The lowest 64 KiB are never mapped, on Linux as on Windows: all 240 reads fault.
    redraw(state, 0x1000);
}

// Two pages, the first readable and the second not; where the second begins.
Address readableThenUnreadable()
{
#if defined(_WIN32)
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    const Address page = info.dwPageSize;
    auto* const base = static_cast<unsigned char*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    if (base == nullptr || !VirtualProtect(base + page, page, PAGE_NOACCESS, &old))
        return 0;
#else
    const auto page = static_cast<Address>(::sysconf(_SC_PAGESIZE));
    void* const pages = ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        return 0;
    auto* const base = static_cast<unsigned char*>(pages);
    if (::mprotect(base + page, page, PROT_NONE) != 0)
        return 0;
#endif
    // Kept for the whole run of the benchmarks.
    return reinterpret_cast<Address>(base + page);
}

void BM_RedrawHalfReadableBlock(benchmark::State& state)
{
    static const Address boundary = readableThenUnreadable();
    if (boundary == 0) {
        state.SkipWithError("no pages to protect");
        return;
    }
    redraw(state, boundary - BLOCK_BYTES / 2);
}

}  // namespace

BENCHMARK(BM_RedrawReadableBlock);
BENCHMARK(BM_RedrawUnreadableBlock);
BENCHMARK(BM_RedrawHalfReadableBlock);
