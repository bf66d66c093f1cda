// One full redraw of the screen, as every key press costs it: a readable block,
// a wholly unreadable one, and one that runs from a readable page into an
// unreadable one. A fault that holds for its page costs one fault for the
// rest of that page, so neither of the last two should cost more than about
// twice the first.
//
// On POSIX the same three again through the console's frame into a
// pseudo-terminal, composed and written as a session does, beside the floor:
// one write() of that frame's bytes to the same pseudo-terminal. The ratio to
// the floor is reported for each.

#include <benchmark/benchmark.h>

#if !defined(_WIN32)
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "console/frame_posix.h"
#endif

#include <cstdint>
#include <iostream>
#include <streambuf>

#include "tests/support/pages.h"
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

// Two pages, the first readable and the second not, kept for the whole run;
// where the second begins.
Address readableThenUnreadable()
{
    static const Pages pages(2);
    pages.protect(1, PageAccess::none);
    return pages.address(pageBytes());
}

void BM_RedrawHalfReadableBlock(benchmark::State& state)
{
    static const Address boundary = readableThenUnreadable();
    redraw(state, boundary - BLOCK_BYTES / 2);
}

#if !defined(_WIN32)

// A pseudo-terminal whose other side is read as fast as it is written.
struct Pty {
    int master = -1;
    int slave = -1;
    std::atomic<bool> done{false};
    std::thread reader;

    Pty()
    {
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        reader = std::thread([this] {
            char sink[65536];
            while (!done && ::read(master, sink, sizeof sink) > 0) {
            }
        });
    }
    ~Pty()
    {
        done = true;
        ::close(slave);
        if (reader.joinable())
            reader.join();
        ::close(master);
    }
};

Pty& pty()
{
    static Pty p;
    return p;
}

// The frame a session presents for the block, once: the floor writes these bytes.
struct Presented {
    FrameBuffer buffer;
    Shown shown;
    char bytes[std::size_t{64} * 1024];
    Sink sink{bytes, sizeof bytes, 0, toPty};
    std::string copy;
    bool keep = false;

    static void toPty(Sink& sink);
};

Presented& presented()
{
    static auto* const p = new Presented;
    return *p;
}

void Presented::toPty(Sink& sink)
{
    Presented& p = presented();
    if (p.keep)
        p.copy.append(sink.bytes, sink.size);
    if (::write(pty().slave, sink.bytes, sink.size) != static_cast<ssize_t>(sink.size))
        std::abort();
    sink.size = 0;
}

void showOnPty(const FrameBuffer& buffer)
{
    Presented& p = presented();
    const Window window{30, 100};
    present(buffer.frame, p.shown, layoutFor(true, window), window, p.sink);
}

// drawBlock as a key press costs it: view, frame, composition and the one write.
double redrawToPty(benchmark::State& state, Address blockStart)
{
    Presented& p = presented();
    p.buffer.show = showOnPty;
    std::streambuf* const old = std::cout.rdbuf(&p.buffer);
    const auto flags = std::cout.flags();
    for (auto _ : state) {
        drawBlock(blockStart, blockStart, 7, 9);
        std::cout.flush();
    }
    p.copy.clear();
    p.keep = true;
    drawBlock(blockStart, blockStart, 7, 9);
    std::cout.flush();
    p.keep = false;
    std::cout.flags(flags);
    std::cout.rdbuf(old);
    state.counters["bytes_per_frame"] = static_cast<double>(p.copy.size());
    return static_cast<double>(p.copy.size());
}

// The floor: one write() of the frame's bytes, to the same pseudo-terminal.
void BM_FloorOneWriteOfTheFrame(benchmark::State& state)
{
    alignas(16) static unsigned char block[240];
    for (unsigned i = 0; i < sizeof block; ++i)
        block[i] = static_cast<unsigned char>(i * 7);
    Presented& p = presented();
    p.buffer.show = showOnPty;
    std::streambuf* const old = std::cout.rdbuf(&p.buffer);
    p.copy.clear();
    p.keep = true;
    drawBlock(reinterpret_cast<Address>(block), reinterpret_cast<Address>(block), 7, 9);
    std::cout.flush();
    p.keep = false;
    std::cout.rdbuf(old);
    const std::string bytes = p.copy;
    for (auto _ : state)
        if (::write(pty().slave, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            state.SkipWithError("short write");
    state.counters["bytes_per_frame"] = static_cast<double>(bytes.size());
}

void BM_RedrawToPtyReadableBlock(benchmark::State& state)
{
    alignas(16) static unsigned char block[240];
    for (unsigned i = 0; i < sizeof block; ++i)
        block[i] = static_cast<unsigned char>(i * 7);
    redrawToPty(state, reinterpret_cast<Address>(block));
}

void BM_RedrawToPtyUnreadableBlock(benchmark::State& state)
{
    redrawToPty(state, 0x1000);
}

void BM_RedrawToPtyHalfReadableBlock(benchmark::State& state)
{
    static const Address boundary = readableThenUnreadable();
    redrawToPty(state, boundary - BLOCK_BYTES / 2);
}

#endif

}  // namespace

BENCHMARK(BM_RedrawReadableBlock);
BENCHMARK(BM_RedrawUnreadableBlock);
BENCHMARK(BM_RedrawHalfReadableBlock);
#if !defined(_WIN32)
BENCHMARK(BM_FloorOneWriteOfTheFrame);
BENCHMARK(BM_RedrawToPtyReadableBlock);
BENCHMARK(BM_RedrawToPtyUnreadableBlock);
BENCHMARK(BM_RedrawToPtyHalfReadableBlock);
#endif
