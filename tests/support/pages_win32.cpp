#include "support/pages.h"

#include <system_error>

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

void check(bool done, const char* call)
{
    if (!done)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), call);
}

unsigned char* reserve(std::size_t size, DWORD protection)
{
    void* const base = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, protection);
    check(base != nullptr, "VirtualAlloc");
    return static_cast<unsigned char*>(base);
}

}  // namespace

Pages::Pages(std::size_t count, PageAccess access)
    : size_(count * pageBytes()), base_(reserve(size_, accessProtection(access)))
{
}

Pages::~Pages()
{
    VirtualFree(base_, 0, MEM_RELEASE);
}

void Pages::protect(std::size_t i, PageAccess access) const
{
    protect(i, accessProtection(access));
}

void Pages::protect(std::size_t i, Protection protection, std::size_t count) const
{
    DWORD old = 0;
    check(VirtualProtect(page(i), count * pageBytes(), protection, &old), "VirtualProtect");
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
    check(VirtualFree(page(i), pageBytes(), MEM_DECOMMIT), "VirtualFree");
}

void Pages::restore(std::size_t i, std::size_t count) const
{
    check(VirtualAlloc(page(i), count * pageBytes(), MEM_COMMIT, PAGE_NOACCESS) != nullptr, "VirtualAlloc");
}
