// Preloaded into the program by the heap tests: counts every call into the
// heap, by kind, in a file named by GLEANHEX_HEAP_COUNTS. The file is mapped
// shared, so the counts are there however the program ends, exit handlers and
// all, with nothing left to write at the end.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "heap_counts.h"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {

HeapCounts* counts = nullptr;
bool opened = false;

// Opened at the first call, whoever makes it: the loader and the libraries'
// constructors allocate before any constructor of this library could run.
void count(HeapCall call)
{
    if (!opened) {
        opened = true;
        const char* path = std::getenv("GLEANHEX_HEAP_COUNTS");
        const int fd = path != nullptr ? ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600) : -1;
        if (fd >= 0 && ::ftruncate(fd, sizeof(HeapCounts)) == 0) {
            void* at = ::mmap(nullptr, sizeof(HeapCounts), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (at != MAP_FAILED)
                counts = static_cast<HeapCounts*>(at);
        }
        if (fd >= 0)
            ::close(fd);
    }
    if (counts != nullptr)
        ++counts->calls[static_cast<std::size_t>(call)];
}

void* aligned(std::size_t alignment, std::size_t size)
{
    count(HeapCall::ALIGNED);
    return __libc_memalign(alignment, size);
}

}  // namespace

extern "C" {

void* malloc(std::size_t size)
{
    count(HeapCall::MALLOC);
    return __libc_malloc(size);
}

void* calloc(std::size_t n, std::size_t size)
{
    count(HeapCall::CALLOC);
    return __libc_calloc(n, size);
}

void* realloc(void* block, std::size_t size)
{
    count(HeapCall::REALLOC);
    return __libc_realloc(block, size);
}

void free(void* block)
{
    count(HeapCall::FREE);
    __libc_free(block);
}

void* memalign(std::size_t alignment, std::size_t size) { return aligned(alignment, size); }
void* aligned_alloc(std::size_t alignment, std::size_t size) { return aligned(alignment, size); }
void* valloc(std::size_t size) { return aligned(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)), size); }

int posix_memalign(void** block, std::size_t alignment, std::size_t size)
{
    void* at = aligned(alignment, size);
    if (at == nullptr)
        return ENOMEM;
    *block = at;
    return 0;
}

}  // extern "C"

// The runtime's other forms of new and delete (arrays, nothrow) come through
// these, and its aligned ones through aligned_alloc and free.
void* operator new(std::size_t size)
{
    count(HeapCall::NEW);
    if (void* block = __libc_malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    count(HeapCall::DELETE);
    __libc_free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    operator delete(block);
}
