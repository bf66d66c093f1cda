// Linux only (it reads /proc): the memory map, from /proc/self/smaps, whose
// VmFlags tell which mappings grow down. Where only /proc/self/maps can be
// read, [stack] is taken to be the one mapping that does. Reading uses a fixed
// buffer and the ranges' reserved room only, so the heap does not move while
// the map is read.

#include "probe/memory_map.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstddef>
#include <limits>
#include <string_view>

namespace {

constexpr Address TOP = std::numeric_limits<Address>::max();

struct LineReader {
    int fd;
    char buf[8192];
    std::size_t begin;
    std::size_t end;
    bool eof;
};

// The next line without its newline; a line longer than the buffer is cut
// short (only its start matters here). False at the end of the file.
bool nextLine(LineReader& in, std::string_view& line)
{
    for (;;) {
        for (std::size_t i = in.begin; i < in.end; ++i) {
            if (in.buf[i] == '\n') {
                line = std::string_view(in.buf + in.begin, i - in.begin);
                in.begin = i + 1;
                return true;
            }
        }
        if (in.eof) {
            line = std::string_view(in.buf + in.begin, in.end - in.begin);
            in.begin = in.end;
            return !line.empty();
        }
        if (in.begin == 0 && in.end == sizeof in.buf) {
            line = std::string_view(in.buf, in.end);  // over-long: hand out its start, drop the rest
            in.begin = in.end;
            for (char c = 0; c != '\n';) {
                const ssize_t n = ::read(in.fd, &c, 1);
                if (n <= 0)
                    break;
            }
            return true;
        }
        std::size_t kept = in.end - in.begin;
        for (std::size_t i = 0; i < kept; ++i)
            in.buf[i] = in.buf[in.begin + i];
        in.begin = 0;
        in.end = kept;
        const ssize_t n = ::read(in.fd, in.buf + in.end, sizeof in.buf - in.end);
        if (n <= 0)
            in.eof = true;
        else
            in.end += static_cast<std::size_t>(n);
    }
}

// One mapping as a header line of the map describes it.
struct Mapping {
    Address first;
    Address last;
    bool accessible;  // any of read, write, execute: a read may succeed
    bool growsDown;
};

bool parseHex(std::string_view& text, Address& value)
{
    std::size_t i = 0;
    value = 0;
    for (; i < text.size() && i < 2 * sizeof(Address); ++i) {
        const char c = text[i];
        const unsigned digit = c >= '0' && c <= '9' ? unsigned(c - '0') : c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10) : 16u;
        if (digit == 16)
            break;
        value = value << 4 | digit;
    }
    text.remove_prefix(i);
    return i > 0;
}

bool parseMapping(std::string_view line, Mapping& m)
{
    Address end = 0;
    if (!parseHex(line, m.first) || line.empty() || line[0] != '-')
        return false;
    line.remove_prefix(1);
    if (!parseHex(line, end) || end <= m.first || line.size() < 5 || line[0] != ' ')
        return false;
    m.last = end - 1;
    const std::string_view perms = line.substr(1, 3);
    m.accessible = perms != "---";
    m.growsDown = line.ends_with(" [stack]");
    return true;
}

struct Ranges {
    std::vector<MapRange>& list;
    bool full;  // a range did not fit in the reserved room
};

void add(Ranges& out, Address first, Address last, MapAccess access)
{
    if (!out.list.empty()) {
        MapRange& prev = out.list.back();
        if (prev.access == access && access == MapAccess::UNREADABLE) {
            prev.last = last;
            return;
        }
    }
    if (out.list.size() == out.list.capacity()) {
        out.full = true;
        return;
    }
    out.list.push_back({first, last, access});
}

// The gap [first, m.first) below mapping `m`, then `m` itself. A read in the gap
// can only succeed by growing `m` down, within the stack limit: the kernel
// refuses growth that makes the mapping larger than `stackLimit`.
void addMapping(Ranges& out, Address first, const Mapping& m, Address stackLimit, Address pageSize)
{
    if (first < m.first) {
        Address growFrom = m.first;
        if (m.growsDown) {
            const Address end = m.last + 1;  // a mapping never ends at the top
            const Address lowest = stackLimit < end ? (end - stackLimit + pageSize - 1) & ~(pageSize - 1) : 0;
            if (lowest < m.first)
                growFrom = lowest > first ? lowest : first;
        }
        if (growFrom > first)
            add(out, first, growFrom - 1, MapAccess::UNREADABLE);
        if (growFrom < m.first)
            add(out, growFrom, m.first - 1, MapAccess::GROWABLE);
    }
    add(out, m.first, m.last, m.accessible ? MapAccess::READABLE : MapAccess::UNREADABLE);
}

enum class Outcome { DONE, FULL, FAILED };

Outcome readFrom(const char* path, bool hasVmFlags, MemoryMap& map, Address stackLimit)
{
    LineReader in{};
    in.fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in.fd < 0)
        return Outcome::FAILED;
    map.ranges.clear();
    Ranges out{map.ranges, false};
    Address next = 0;  // the lowest address not yet covered
    bool covered = false;  // the last mapping reached the top
    Mapping pending{};
    bool havePending = false;
    bool sorted = true;
    std::string_view line;
    while (nextLine(in, line) && sorted) {
        Mapping m{};
        if (parseMapping(line, m)) {
            if (havePending) {
                addMapping(out, next, pending, stackLimit, map.pageSize);
                next = pending.last + 1;
                covered = pending.last == TOP;
            }
            sorted = !covered && m.first >= next;
            pending = m;
            pending.growsDown = pending.growsDown && !hasVmFlags;
            havePending = true;
        } else if (havePending && hasVmFlags && line.starts_with("VmFlags:")) {
            pending.growsDown = line.find(" gd") != std::string_view::npos;
        }
    }
    ::close(in.fd);
    if (!sorted || !havePending)
        return Outcome::FAILED;
    addMapping(out, next, pending, stackLimit, map.pageSize);
    if (pending.last != TOP)
        add(out, pending.last + 1, TOP, MapAccess::UNREADABLE);
    return out.full ? Outcome::FULL : Outcome::DONE;
}

}  // namespace

bool readMemoryMap(MemoryMap& map)
{
    map.pageSize = static_cast<Address>(::sysconf(_SC_PAGESIZE));
    struct rlimit limit {};
    Address stackLimit = TOP;
    if (::getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        stackLimit = limit.rlim_cur < TOP ? static_cast<Address>(limit.rlim_cur) : TOP;
    if (map.ranges.capacity() < 256)
        map.ranges.reserve(256);
    for (;;) {
        Outcome outcome = readFrom("/proc/self/smaps", true, map, stackLimit);
        if (outcome == Outcome::FAILED)
            outcome = readFrom("/proc/self/maps", false, map, stackLimit);
        if (outcome != Outcome::FULL)
            return outcome == Outcome::DONE;
        // Room first, then the map again: the allocation may itself have changed it.
        map.ranges.reserve(map.ranges.capacity() * 2);
    }
}
