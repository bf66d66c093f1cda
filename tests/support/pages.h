#pragma once
// Pages for the tests, the benchmarks and the fuzz targets, from the platform's
// allocator and released with the object, each with the access its user gives
// it: memory that reads, that refuses a store, or that faults. A call the
// system refuses throws: a test fails, a benchmark or fuzz target stops.

#include <cstddef>

#include "common/block.h"
#include "probe/guard.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

// What a page lets this process do.
enum class PageAccess { none, read, readWrite };

class Pages {
public:
#if defined(_WIN32)
    using Protection = DWORD;  // PAGE_GUARD among them
#else
    using Protection = int;  // PROT_EXEC among them
#endif

    explicit Pages(std::size_t count, PageAccess access = PageAccess::readWrite);
#if !defined(_WIN32)
    // The first `count` pages of the file `fd`, shared.
    Pages(std::size_t count, int fd);
#endif
    ~Pages();
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;

    // `offset` bytes from the first page's start.
    unsigned char* at(std::size_t offset) const { return base_ + offset; }
    Address address(std::size_t offset) const { return reinterpret_cast<Address>(at(offset)); }
    unsigned char* page(std::size_t i) const { return at(i * pageBytes()); }

    void protect(std::size_t page, PageAccess access) const;
    // The platform's own protections, for `count` pages from `page`.
    void protect(std::size_t page, Protection protection, std::size_t count = 1) const;
    // Takes one page out of the address space; `restore` puts pages back with
    // no access, before anything else can be placed there.
    void unmap(std::size_t page) const;
    void restore(std::size_t page, std::size_t count = 1) const;
#if defined(_WIN32)
    DWORD protection(std::size_t page) const;
#endif

private:
    std::size_t size_;
    unsigned char* base_;
};
