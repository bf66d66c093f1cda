#pragma once
// std::cout through the console's own frame while it lives, presented as a
// terminal of the given size gets it: the bytes a real session would write.

#include <string>

#include "console/frame_posix.h"

class CapturedFrame {
public:
    CapturedFrame(int rows, int cols, bool sequences = true);
    ~CapturedFrame();
    CapturedFrame(const CapturedFrame&) = delete;
    CapturedFrame& operator=(const CapturedFrame&) = delete;

    // Flushes std::cout, which presents what is new; everything presented so far.
    const std::string& presented();
    // The next present draws everything again, as after a resize or a continue.
    void forget();
    // Line breaks held back at the end, as before the terminal is given back.
    void finish();
    Window& window() { return window_; }

private:
    std::streambuf* previous_;
    Window window_;
    bool sequences_;
};
