#pragma once
// Standard input replaced by a pipe holding `keys`, its write end closed so
// that a reader that reads too far meets end of input instead of hanging.

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

class StdinFrom {
public:
    explicit StdinFrom(const std::string& keys) : saved_(::dup(STDIN_FILENO))
    {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        EXPECT_EQ(::write(fds[1], keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
        ::close(fds[1]);
        ::dup2(fds[0], STDIN_FILENO);
        ::close(fds[0]);
    }
    ~StdinFrom()
    {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }
    StdinFrom(const StdinFrom&) = delete;
    StdinFrom& operator=(const StdinFrom&) = delete;

    // What nobody read.
    static std::string rest()
    {
        std::string left;
        char c = 0;
        while (::read(STDIN_FILENO, &c, 1) == 1)
            left += c;
        return left;
    }

private:
    int saved_;
};
