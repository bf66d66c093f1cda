#pragma once
// std::cout's text while it lives, and what of it had been flushed.

#include <iostream>
#include <sstream>
#include <string>

class CapturedOutput : private std::stringbuf {
public:
    CapturedOutput() : previous_(std::cout.rdbuf(this)) {}
    ~CapturedOutput() override { std::cout.rdbuf(previous_); }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::string text() const { return str(); }
    // What had been written at the last flush.
    const std::string& flushed() const { return flushed_; }

private:
    int sync() override
    {
        flushed_ = str();
        return 0;
    }
    std::streambuf* previous_;
    std::string flushed_;
};
