#pragma once
// Pages from the platform's own allocator, one protection each, for tests that
// need memory that faults in a chosen way.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstddef>
#include <stdexcept>

#include "common/block.h"
#include "support/constants.h"

// Released when the test ends.
class Pages {
public:
    explicit Pages(std::size_t count)
        : base_(static_cast<unsigned char*>(VirtualAlloc(nullptr, count * PAGE, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)))
    {
        if (base_ == nullptr)
            throw std::runtime_error("VirtualAlloc failed");
    }
    ~Pages() { VirtualFree(base_, 0, MEM_RELEASE); }
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;

    unsigned char* page(std::size_t i) const { return base_ + i * PAGE; }
    Address at(std::size_t i, std::size_t offset = 0) const { return reinterpret_cast<Address>(page(i) + offset); }
    void protect(std::size_t i, DWORD protection) const
    {
        DWORD old = 0;
        if (!VirtualProtect(page(i), PAGE, protection, &old))
            throw std::runtime_error("VirtualProtect failed");
    }
    DWORD protection(std::size_t i) const
    {
        MEMORY_BASIC_INFORMATION info{};
        VirtualQuery(page(i), &info, sizeof info);
        return info.Protect;
    }

private:
    unsigned char* base_;
};
