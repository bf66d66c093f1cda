#include "support/pages.h"

#include <gtest/gtest.h>

namespace {

DWORD accessProtection(PageAccess access)
{
    switch (access) {
    case PageAccess::none:
        return PAGE_NOACCESS;
    case PageAccess::read:
        return PAGE_READONLY;
    case PageAccess::readWrite:
        break;
    }
    return PAGE_READWRITE;
}

}  // namespace

Pages::Pages(std::size_t count, PageAccess access)
    : size_(count * PAGE),
      base_(static_cast<unsigned char*>(VirtualAlloc(nullptr, size_, MEM_RESERVE | MEM_COMMIT, accessProtection(access))))
{
    if (base_ == nullptr)
        ADD_FAILURE() << "VirtualAlloc failed";
}

Pages::~Pages()
{
    if (base_ != nullptr)
        VirtualFree(base_, 0, MEM_RELEASE);
}

void Pages::protect(std::size_t i, PageAccess access) const
{
    protect(i, accessProtection(access));
}

void Pages::protect(std::size_t i, DWORD protection) const
{
    DWORD old = 0;
    EXPECT_TRUE(VirtualProtect(page(i), PAGE, protection, &old));
}

DWORD Pages::protection(std::size_t i) const
{
    MEMORY_BASIC_INFORMATION info{};
    VirtualQuery(page(i), &info, sizeof info);
    return info.Protect;
}

// Reserved but not committed: no access of any kind, and still this test's.
void Pages::unmap(std::size_t i) const
{
    ASSERT_TRUE(VirtualFree(page(i), PAGE, MEM_DECOMMIT));
}

void Pages::restore(std::size_t i) const
{
    EXPECT_NE(VirtualAlloc(page(i), PAGE, MEM_COMMIT, PAGE_NOACCESS), nullptr);
}
