#include "support/pages.h"

#include <sys/mman.h>

#include <cerrno>
#include <system_error>

namespace {

int accessProtection(PageAccess access)
{
    switch (access) {
    case PageAccess::none:
        return PROT_NONE;
    case PageAccess::read:
        return PROT_READ;
    case PageAccess::readWrite:
        break;
    }
    return PROT_READ | PROT_WRITE;
}

void check(bool done, const char* call)
{
    if (!done)
        throw std::system_error(errno, std::generic_category(), call);
}

unsigned char* map(void* at, std::size_t size, int prot, int flags, int fd)
{
    void* const base = ::mmap(at, size, prot, flags, fd, 0);
    check(base != MAP_FAILED, "mmap");
    return static_cast<unsigned char*>(base);
}

}  // namespace

Pages::Pages(std::size_t count, PageAccess access)
    : size_(count * pageBytes()),
      base_(map(nullptr, size_, accessProtection(access), MAP_PRIVATE | MAP_ANONYMOUS, -1))
{
}

Pages::Pages(std::size_t count, int fd)
    : size_(count * pageBytes()), base_(map(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd))
{
}

Pages::~Pages()
{
    ::munmap(base_, size_);
}

void Pages::protect(std::size_t i, PageAccess access) const
{
    protect(i, accessProtection(access));
}

void Pages::protect(std::size_t i, Protection protection, std::size_t count) const
{
    check(::mprotect(page(i), count * pageBytes(), protection) == 0, "mprotect");
}

void Pages::unmap(std::size_t i) const
{
    check(::munmap(page(i), pageBytes()) == 0, "munmap");
}

void Pages::restore(std::size_t i, std::size_t count) const
{
    map(page(i), count * pageBytes(), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1);
}
