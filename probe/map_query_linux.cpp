// The kernel's question about one address (Linux 6.11 on).

#include "probe/map_query_linux.h"

#include <sys/ioctl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace {

// The kernel's question and answer, laid out as its interface defines them
// (older system headers lack it).
struct procmap_query {
    std::uint64_t size;
    std::uint64_t query_flags;
    std::uint64_t query_addr;
    std::uint64_t vma_start;
    std::uint64_t vma_end;
    std::uint64_t vma_flags;
    std::uint64_t vma_page_size;
    std::uint64_t vma_offset;
    std::uint64_t inode;
    std::uint32_t dev_major;
    std::uint32_t dev_minor;
    std::uint32_t vma_name_size;
    std::uint32_t build_id_size;
    std::uint64_t vma_name_addr;
    std::uint64_t build_id_addr;
};
static_assert(sizeof(procmap_query) == 104);

constexpr unsigned long PROCMAP_QUERY = _IOWR('f', 17, procmap_query);
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) || defined(__riscv) || \
    defined(__s390x__)
static_assert(PROCMAP_QUERY == 0xC0686611);
#endif
// VM_READ, VM_WRITE, VM_EXEC: not whether a load succeeds (write-only and
// execute-only pages may read), only that the mapping is not inaccessible.
constexpr std::uint64_t QUERY_ACCESS = 0x1 | 0x2 | 0x4;
constexpr std::uint64_t QUERY_COVERING_OR_NEXT = 0x10;
// Those three and VM_SHARED, as MapEntry::protection holds them.
constexpr std::uint64_t QUERY_PROTECTION = 0xf;
static_assert(ENTRY_READ == PROT_READ && ENTRY_WRITE == PROT_WRITE && ENTRY_EXEC == PROT_EXEC);

Found ask(int fd, Address a, MapEntry& m)
{
    procmap_query q{};
    q.size = sizeof q;
    q.query_flags = QUERY_COVERING_OR_NEXT;
    q.query_addr = a;
    int result = 0;
    do
        result = ::ioctl(fd, PROCMAP_QUERY, &q);
    while (result < 0 && errno == EINTR);
    Found found = Found::YES;
    if (result < 0)
        found = errno == ENOENT ? Found::NONE : Found::FAILED;
    else
        m = {static_cast<Address>(q.vma_start), static_cast<Address>(q.vma_end - 1), (q.vma_flags & QUERY_ACCESS) != 0,
             static_cast<unsigned>(q.vma_flags & QUERY_PROTECTION)};
    if (HAS_OUTSIDE && a <= OUTSIDE.last && (found == Found::NONE || (found == Found::YES && m.first > OUTSIDE.last))) {
        m = OUTSIDE;
        found = Found::YES;
    }
    return found;
}

}  // namespace

Found askOrRecall(KeptAnswers& answers, int fd, Address a, MapEntry& m)
{
    for (std::size_t i = 0; i < answers.count; ++i) {
        const KeptAnswers::Answer& known = answers.held[i];
        if (a >= known.from && a <= known.to) {
            m = known.m;
            return known.found;
        }
    }
    const Found found = ask(fd, a, m);
    if (found == Found::FAILED)
        return found;
    answers.held[answers.next] = found == Found::YES ? KeptAnswers::Answer{std::min(a, m.first), m.last, found, m}
                                                     : KeptAnswers::Answer{a, TOP, found, m};
    answers.next = (answers.next + 1) % answers.held.size();
    answers.count = std::min(answers.count + 1, answers.held.size());
    return found;
}
