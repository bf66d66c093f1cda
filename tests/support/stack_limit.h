#pragma once
// The soft stack limit set to `bytes` while it lives: for the programs this
// process starts meanwhile, and for this process within the stack it has.

#include <sys/resource.h>

#include <cstdint>

class StackLimit {
public:
    explicit StackLimit(std::uintptr_t bytes)
    {
        ::getrlimit(RLIMIT_STACK, &saved_);
        rlimit wanted = saved_;
        wanted.rlim_cur = bytes;
        set_ = (saved_.rlim_max == RLIM_INFINITY || saved_.rlim_max >= bytes) && ::setrlimit(RLIMIT_STACK, &wanted) == 0;
    }
    ~StackLimit() { ::setrlimit(RLIMIT_STACK, &saved_); }
    StackLimit(const StackLimit&) = delete;
    StackLimit& operator=(const StackLimit&) = delete;
    bool set() const { return set_; }

private:
    rlimit saved_{};
    bool set_ = false;
};
