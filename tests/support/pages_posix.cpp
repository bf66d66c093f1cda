#include "support/pages.h"

#include <sys/mman.h>

#include <gtest/gtest.h>

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

unsigned char* map(std::size_t size, int prot, int flags, int fd)
{
    void* const base = ::mmap(nullptr, size, prot, flags, fd, 0);
    if (base == MAP_FAILED) {
        ADD_FAILURE() << "mmap failed";
        return nullptr;
    }
    return static_cast<unsigned char*>(base);
}

}  // namespace

Pages::Pages(std::size_t count, PageAccess access)
    : size_(count * PAGE), base_(map(size_, accessProtection(access), MAP_PRIVATE | MAP_ANONYMOUS, -1))
{
}

Pages::Pages(std::size_t count, int fd)
    : size_(count * PAGE), base_(map(size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd))
{
}

Pages::~Pages()
{
    if (base_ != nullptr)
        ::munmap(base_, size_);
}

void Pages::protect(std::size_t i, PageAccess access) const
{
    EXPECT_EQ(::mprotect(page(i), PAGE, accessProtection(access)), 0);
}

void Pages::unmap(std::size_t i) const
{
    ASSERT_EQ(::munmap(page(i), PAGE), 0);
}

void Pages::restore(std::size_t i) const
{
    EXPECT_NE(::mmap(page(i), PAGE, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0), MAP_FAILED);
}
