#pragma once
// Pages of a test's own, from the platform's allocator and released when the
// test ends, each with the access the test gives it: memory that reads, that
// refuses a store, or that faults.

#include <cstddef>

#include "common/block.h"
#include "support/constants.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

// What a page lets this process do.
enum class PageAccess { none, read, readWrite };

class Pages {
public:
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
    unsigned char* page(std::size_t i) const { return at(i * PAGE); }

    void protect(std::size_t page, PageAccess access) const;
    // Takes one page out of the address space; `restore` puts it back with no
    // access, before anything else can be placed there.
    void unmap(std::size_t page) const;
    void restore(std::size_t page) const;

#if defined(_WIN32)
    // The platform's own protections, PAGE_GUARD among them.
    void protect(std::size_t page, DWORD protection) const;
    DWORD protection(std::size_t page) const;
#endif

private:
    std::size_t size_;
    unsigned char* base_;
};
