// Output on a POSIX terminal: std::cout's text and the attributes set go into
// the frame (frame_posix.h), which each flush presents in one write, and only
// while the program is in the terminal's foreground. What is kept is drawn
// again where the program cannot redraw it itself: a prompt being answered
// when the terminal was resized, or the program stopped and continued.

#include <cstddef>
#include <iostream>
#include <new>

#include "console/console.h"
#include "console/console_posix.h"
#include "console/description_posix.h"
#include "console/frame_posix.h"
#include "console/terminal_posix.h"

namespace {

struct TerminalOutput {
    FrameBuffer buffer;
    Shown shown;
    char bytes[std::size_t{64} * 1024];
    Sink sink{bytes, sizeof bytes, 0, drain};
    bool lost = false;  // the foreground was lost half way through a present

    static void drain(Sink& sink);
};

// Never destroyed: std::cout may be written until the very end.
alignas(TerminalOutput) unsigned char outputStorage[sizeof(TerminalOutput)];
TerminalOutput* output = nullptr;

void TerminalOutput::drain(Sink& sink)
{
    const std::size_t size = sink.size;
    sink.size = 0;
    if (output->lost || size == 0)
        return;
    const int error = writeOutput(sink.bytes, size);
    if (error == LOST_FOREGROUND)
        output->lost = true;  // the rest goes out once the program is back in front
    else if (error != 0)
        failOutput(error);
}

void presentToTerminal(const FrameBuffer& buffer)
{
    TerminalOutput& out = *output;
    if (!outputInForeground()) {
        out.shown.valid = false;  // the shell's meanwhile: drawn whole when back
        return;
    }
    const WindowSize size = windowSize();
    const Window window{size.rows, size.cols};
    out.lost = false;
    present(buffer.frame, out.shown, layoutFor(outputTakesSequences(), window), window, out.sink,
            !terminalDescription().eraseInColour);
    if (out.lost)
        out.shown.valid = false;
}

FrameBuffer* frameBehindCout()
{
    return dynamic_cast<FrameBuffer*>(std::cout.rdbuf());
}

}  // namespace

void installOutput()
{
    output = new (outputStorage) TerminalOutput;
    output->buffer.show = presentToTerminal;
    std::cout.rdbuf(&output->buffer);
}

unsigned long long outputWritten()
{
    return output != nullptr ? output->buffer.taken() : 0;
}

void replayScreen()
{
    if (output == nullptr)
        return;
    output->shown.valid = false;
    std::cout.flush();
}

void finishOutput()
{
    std::cout.flush();
    if (output != nullptr && std::cout.rdbuf() == &output->buffer && outputInForeground())
        presentHeldBreaks(output->buffer.frame, output->shown, output->sink);
}

ConsoleHandle outputHandle()
{
    return frameBehindCout();
}

void setTextAttribute(ConsoleHandle handle, unsigned char attr)
{
    if (handle != nullptr)
        static_cast<FrameBuffer*>(handle)->setAttribute(attr);
}

void clearScreen()
{
    if (FrameBuffer* const buffer = frameBehindCout(); buffer != nullptr)
        buffer->clear();
}
