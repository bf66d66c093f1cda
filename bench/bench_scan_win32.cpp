// Insert and Delete on Windows over the live process: from a readable block,
// across its largest unreadable stretch and across the wrap, each against the
// floor: one VirtualQuery and one guarded read. Google Benchmark is not built
// for mingw-w64, so the cases time themselves: the minimum and the median of
// ten runs, each run's time per scan, their ratios to the floor's, and the
// VirtualQuery calls a scan makes. It reports; it judges nothing.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <vector>

#include "probe/guard.h"
#include "probe/memory_map.h"
#include "probe/scan.h"

namespace {

std::uint64_t queriesMade;

SIZE_T WINAPI countingQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T size)
{
    static const auto query = reinterpret_cast<decltype(&VirtualQuery)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "VirtualQuery")));
    ++queriesMade;
    return query(address, info, size);
}

}  // namespace

// The import entry every call to VirtualQuery in this program goes through
// (the build links VirtualQuery's own to it), filled here instead of by the
// loader, so that the calls are counted.
extern "C" {
extern decltype(&VirtualQuery) countedVirtualQuery;
decltype(&VirtualQuery) countedVirtualQuery = countingQuery;
}

namespace {

// Keeps the scan's message off the report.
class NullBuf : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

double now()
{
    static const double perSecond = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t{};
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / perSecond;
}

struct Figures {
    double minimum;  // seconds per scan
    double median;
    double queries;  // per scan
};

// Ten runs of as many scans as take some 20 ms.
template <typename Scan>
Figures timed(Scan scan)
{
    std::size_t count = 1;
    for (double start = now(); now() - start < 0.02; count *= 2) {
        start = now();
        for (std::size_t i = 0; i < count; ++i)
            scan();
    }
    std::vector<double> runs;
    const std::uint64_t before = queriesMade;
    for (int run = 0; run < 10; ++run) {
        const double start = now();
        for (std::size_t i = 0; i < count; ++i)
            scan();
        runs.push_back((now() - start) / static_cast<double>(count));
    }
    std::sort(runs.begin(), runs.end());
    const double scans = 10.0 * static_cast<double>(count);
    return {runs.front(), (runs[4] + runs[5]) / 2, static_cast<double>(queriesMade - before) / scans};
}

// The largest unreadable range between readable ones, within the user's part.
MapRange largestGap(const MemoryMap& map)
{
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const auto highest = reinterpret_cast<Address>(system.lpMaximumApplicationAddress);
    MapRange best{0, 0, MapAccess::UNREADABLE};
    for (std::size_t i = 1; i + 1 < map.ranges.size(); ++i) {
        const MapRange& r = map.ranges[i];
        if (r.access == MapAccess::UNREADABLE && r.last <= highest && r.last - r.first > best.last - best.first)
            best = r;
    }
    return best;
}

void report(const char* what, const Figures& f, const Figures& floor)
{
    std::printf("%-34s %8.2f %8.2f %8.1f %8.1f %8.1f\n", what, f.minimum * 1e6, f.median * 1e6, f.minimum / floor.minimum,
                f.median / floor.median, f.queries);
}

}  // namespace

int main()
{
    if (!installGuard())
        return 1;
    NullBuf sink;
    std::streambuf* const old = std::cout.rdbuf(&sink);
    static const char here = 0;
    const auto at = reinterpret_cast<Address>(&here);
    MemoryMap map{};
    if (!readMemoryMap(map))
        return 1;
    const MapRange gap = largestGap(map);
    // The walks round the top start just past the highest and the lowest readable range.
    Address lowest = TOP;
    Address highest = 0;
    for (const MapRange& r : map.ranges) {
        if (r.access == MapAccess::READABLE) {
            lowest = std::min(lowest, r.first);
            highest = r.last;
        }
    }

    const Figures floor = timed([at] {
        MEMORY_BASIC_INFORMATION info{};
        VirtualQuery(&here, &info, sizeof info);
        return readByteGuarded(at).has_value();
    });
    struct Case {
        const char* what;
        Address start;
        int direction;
    };
    const Case cases[] = {
        {"from a readable block, up", at, +1},
        {"from a readable block, down", at, -1},
        {"up across the largest gap", gap.first, +1},
        {"down across the largest gap", gap.last, -1},
        {"up across the wrap", highest + 1, +1},
        {"down across the wrap", lowest - 1, -1},
    };
    std::vector<Figures> figures;
    for (const Case& c : cases)
        figures.push_back(timed([&c] { return scanForReadable(c.start, c.direction); }));
    std::cout.rdbuf(old);

    char title[64];
    std::snprintf(title, sizeof title, "scan, %d-bit, %zu ranges in the map", static_cast<int>(8 * sizeof(Address)),
                  map.ranges.size());
    std::printf("%-34s %8s %8s %8s %8s %8s\n", title, "min us", "med us", "min x", "med x", "queries");
    report("floor: one VirtualQuery, one read", floor, floor);
    for (std::size_t i = 0; i < figures.size(); ++i)
        report(cases[i].what, figures[i], floor);
    return 0;
}
