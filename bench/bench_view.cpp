// One full redraw of the screen, as every key press costs it: a readable block,
// and a wholly unreadable one whose 240 reads all fault.

#include <benchmark/benchmark.h>

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

}  // namespace

BENCHMARK(BM_RedrawReadableBlock);
BENCHMARK(BM_RedrawUnreadableBlock);
