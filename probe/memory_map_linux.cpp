// Linux: the map from the PROCMAP_QUERY question on /proc/self/maps, which
// answers for one address at a time (map_query_linux.cpp); where the kernel
// refuses it, the listing in the same file, read once a scan into static storage.
// Neither allocates, so the map holds for the probes made after it. The file
// stays open from before the first frame to the end of the run.

#include "probe/memory_map.h"

#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>

#include "probe/guard.h"
#include "probe/map_query_linux.h"
#include "probe/map_ranges.h"
#include "probe/maps_file.h"

namespace {

// Linux on arm64 always lets user space tag the top byte of an address.
#if defined(__aarch64__)
constexpr Address IGNORED_BITS = Address{0xff} << 56;
#else
constexpr Address IGNORED_BITS = 0;
#endif

// The listing's room: the kernel's usual ceiling on mappings (vm.max_map_count),
// and [vsyscall]. Static, so it is there before the first scan.
constexpr std::size_t MAX_MAPPINGS = 65536 + 64;
MapEntry listed[MAX_MAPPINGS];
std::array<char, 8192> chunk;

// Places where mappings end, or that lie in one: this program's own data, its
// heap's top, the C library's and the loader's data, the kernel's vDSO and
// this stack; and 0, below them all.
constexpr std::size_t HINTS = 7;

// The one scan's map: there is one thread, and a scan does not nest.
struct LinuxMap {
    int fd = -1;  // kept open for the whole run, and opened again in a forked child
    MapSource source = MapSource::QUERY;
    bool refused = false;  // the kernel does not know the question: the listing, from then on
    std::size_t count = 0;  // of `listed`, for MAPS_FILE
    Mappings mappings{};
    KeptAnswers answers{};
    std::array<Address, HINTS> hints{};
    Address stackLimit = 0;  // 0 until asked for, once a scan
    Address growthStep = 0;  // the same
    Address growthAsked = 0;  // the mapping whether it grows was asked of, and the answer
    GrowsDown grows = GrowsDown::PERHAPS;
};
LinuxMap current;

long readFd(void* context, char* buffer, std::size_t size)
{
    return ::read(*static_cast<int*>(context), buffer, size);
}

bool readListing(LinuxMap& map)
{
    if (::lseek(map.fd, 0, SEEK_SET) != 0)
        return false;
    const std::optional<std::size_t> count = readMapsListing(readFd, &map.fd, chunk, listed);
    map.count = count.value_or(0);
    return count.has_value();
}

// The first listed mapping that ends at or above `a`.
const MapEntry* listedFrom(const LinuxMap& map, Address a)
{
    const MapEntry* const begin = listed;
    return std::lower_bound(begin, begin + map.count, a, [](const MapEntry& x, Address y) { return x.last < y; });
}

Found fromListing(const LinuxMap& map, Address a, MapEntry& m)
{
    const MapEntry* const end = listed + map.count;
    const MapEntry* const at = listedFrom(map, a);
    if (at == end)
        return Found::NONE;
    m = *at;
    return Found::YES;
}

Found belowInListing(const void*, Address a, MapEntry& m)
{
    const MapEntry* const at = listedFrom(current, a);
    if (at == listed)
        return Found::NONE;
    m = *(at - 1);
    return Found::YES;
}

// The listing takes over when the question fails: it is read once a scan,
// and answers from then on.
bool fallBackToListing(LinuxMap& map)
{
    map.source = MapSource::MAPS_FILE;
    map.mappings.below = belowInListing;
    return readListing(map);
}

Found fromCurrent(const void*, Address a, MapEntry& m)
{
    if (current.source == MapSource::QUERY) {
        const Found found = askOrRecall(current.answers, current.fd, a, m);
        if (found != Found::FAILED)
            return found;
        current.refused = current.refused || errno == ENOTTY || errno == EINVAL;
        if (!fallBackToListing(current))
            return found;
    }
    return fromListing(current, a, m);
}

bool rangeAtCurrent(const void*, Address a, int direction, MapRange& range)
{
    return rangeFromMappings(current.mappings, a, direction, range);
}

Address stackLimit(const void*)
{
    if (current.stackLimit == 0) {
        rlimit limit{};
        if (::getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= TOP)
            current.stackLimit = TOP;
        else
            current.stackLimit = std::max<Address>(static_cast<Address>(limit.rlim_cur), 1);
    }
    return current.stackLimit;
}

// Growth up to the memory and swap there are is never refused for want of
// memory, whatever the kernel's overcommit policy.
Address growthStep(const void*)
{
    if (current.growthStep == 0) {
        struct sysinfo info {};
        std::uint64_t bytes = 0;
        if (::sysinfo(&info) == 0)
            bytes = (std::uint64_t{info.totalram} + info.totalswap) * std::max<std::uint64_t>(info.mem_unit, 1);
        current.growthStep = bytes >= TOP ? TOP : std::max<Address>(static_cast<Address>(bytes), 1);
    }
    return current.growthStep;
}

// Whether a mapping grows down. On x86 the kernel says so without a read:
// asked to keep a mapping's own protection down to its start, it refuses for
// any mapping that does not grow down, and for one that does, changes nothing.
// Executable and shared mappings are left to the probes (a security module may
// check, and log, a change of theirs), as is every mapping elsewhere, where a
// protection may carry more than these bits.
GrowsDown growsDown(const void*, const MapEntry& m)
{
    if (HAS_OUTSIDE && m.first == OUTSIDE.first)
        return GrowsDown::NO;
#if defined(__x86_64__) || defined(__i386__)
    if (m.protection == 0 || (m.protection & (ENTRY_EXEC | ENTRY_SHARED)) != 0)
        return GrowsDown::PERHAPS;
    if (current.growthAsked != m.first || m.first == 0) {
        int result = 0;
        do
            // NOLINTNEXTLINE(performance-no-int-to-ptr): the mapping's own start, as the kernel gave it
            result = ::mprotect(reinterpret_cast<void*>(m.first), current.mappings.pageSize,
                                static_cast<int>(m.protection) | PROT_GROWSDOWN);
        while (result != 0 && errno == EINTR);
        current.growthAsked = m.first;
        current.grows = result == 0 ? GrowsDown::YES : errno == EINVAL ? GrowsDown::NO : GrowsDown::PERHAPS;
    }
    return current.grows;
#else
    return GrowsDown::PERHAPS;
#endif
}

void gatherHints(LinuxMap& map)
{
    static const char data = 0;
    const auto address = [](const volatile void* p) { return reinterpret_cast<Address>(p); };
    const Address heapEnd = address(::sbrk(0));  // all ones when there is no heap to tell of
    map.hints = {0,
                 address(&data),
                 heapEnd - 1,
                 address(&environ),
                 address(&_r_debug),
                 static_cast<Address>(::getauxval(AT_SYSINFO_EHDR)),
                 address(__builtin_frame_address(0))};
    for (Address& hint : map.hints)
        hint &= ~IGNORED_BITS;
    std::sort(map.hints.begin(), map.hints.end());
}

// A forked child has its own memory, which the descriptor it inherited does
// not describe.
void forgetInChild()
{
    if (current.fd >= 0)
        ::close(current.fd);
    current.fd = -1;
}

}  // namespace

bool prepareMemoryMap()
{
    static const bool registered = ::pthread_atfork(nullptr, nullptr, forgetInChild) == 0;
    if (!registered)
        return false;
    while (current.fd < 0) {
        current.fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
        if (current.fd < 0 && errno != EINTR)
            return false;
    }
    return true;
}

bool openMapLookup(MapLookup& lookup, MapSource first)
{
    if (first == MapSource::NONE || !prepareMemoryMap())
        return false;
    const Address pageSize = pageBytes();
    current.answers = {};
    current.stackLimit = 0;
    current.growthStep = 0;
    current.growthAsked = 0;
    gatherHints(current);
    current.source = current.refused ? MapSource::MAPS_FILE : first;
    current.mappings = {fromCurrent,  nullptr,     &current, pageSize, stackLimit, IGNORED_BITS, growsDown,
                        current.hints.data(), current.hints.size()};
    if (current.source == MapSource::MAPS_FILE && !fallBackToListing(current))
        return false;
    lookup = {rangeAtCurrent, &current, pageSize, growthStep};
    return true;
}

// The descriptor stays open for the next scan.
void closeMapLookup(MapLookup&) {}

bool readsElsewhere(Address address)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(readByteGuarded(address) ? 0 : 1);
    if (child < 0)
        return readByteGuarded(address).has_value();
    int status = 0;
    pid_t waited = 0;
    do
        waited = ::waitpid(child, &status, 0);
    while (waited < 0 && errno == EINTR);
    return waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
