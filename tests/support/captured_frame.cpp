#include "support/captured_frame.h"

#include <iostream>
#include <new>

namespace {

struct Capture {
    FrameBuffer buffer;
    Shown shown;
    char bytes[256];  // small: presents cross the sink's end
    Sink sink{bytes, sizeof bytes, 0, nullptr};
    std::string text;
    Window* window = nullptr;
    bool sequences = true;
};

alignas(Capture) unsigned char storage[sizeof(Capture)];
Capture* capture = nullptr;

void take(Sink& sink)
{
    capture->text.append(sink.bytes, sink.size);
    sink.size = 0;
}

void show(const FrameBuffer& buffer)
{
    present(buffer.frame, capture->shown, layoutFor(capture->sequences, *capture->window), *capture->window,
            capture->sink);
}

}  // namespace

CapturedFrame::CapturedFrame(int rows, int cols, bool sequences) : window_{rows, cols}, sequences_(sequences)
{
    if (capture != nullptr)
        capture->~Capture();
    capture = new (storage) Capture;
    capture->sink.flush = take;
    capture->buffer.show = show;
    capture->window = &window_;
    capture->sequences = sequences_;
    previous_ = std::cout.rdbuf(&capture->buffer);
}

CapturedFrame::~CapturedFrame()
{
    std::cout.rdbuf(previous_);
}

const std::string& CapturedFrame::presented()
{
    std::cout.flush();
    return capture->text;
}

void CapturedFrame::forget()
{
    capture->shown.valid = false;
}

void CapturedFrame::finish()
{
    std::cout.flush();
    presentHeldBreaks(capture->buffer.frame, capture->shown, capture->sink);
}
