// Output on a POSIX terminal: attributes as SGR sequences in the output
// stream, the screen cleared in place, and one buffer for std::cout that keeps
// what the screen has shown since the last clear, so that it can be drawn again
// where the program cannot redraw it itself (a prompt that is being answered).

#include <cstddef>
#include <iostream>
#include <streambuf>
#include <string>

#include "console/console.h"
#include "console/console_posix.h"
#include "console/terminal_posix.h"

namespace {

constexpr char CLEAR[] = "\x1b[H\x1b[J";
// A frame with its prompts is a few KiB; past this the record stops growing.
constexpr std::size_t RECORD_MAX = std::size_t{64} * 1024;

// Written by hand so that the stream's number base, which the view owns, stays as it is.
std::string sgr(unsigned char attr)
{
    // Console colour bits are blue=1, green=2, red=4; SGR numbers red=1, green=2, blue=4.
    const auto sgrColour = [](unsigned bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); };
    const unsigned fg = attr & 0x0fU;
    const unsigned bg = (attr >> 4) & 0x0fU;
    const unsigned fgCode = ((fg & 8) != 0 ? 90 : 30) + sgrColour(fg);
    const unsigned bgCode = ((bg & 8) != 0 ? 100 : 40) + sgrColour(bg);
    return "\x1b[0;" + std::to_string(fgCode) + ';' + std::to_string(bgCode) + 'm';
}

struct TerminalOutput : std::streambuf {
    std::string pending;
    std::string shown;  // since the last clear
    unsigned long long written = 0;

    int_type overflow(int_type ch) override
    {
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            pending.push_back(traits_type::to_char_type(ch));
            ++written;
        }
        if (pending.size() >= RECORD_MAX)
            sync();
        return traits_type::not_eof(ch);
    }

    std::streamsize xsputn(const char* text, std::streamsize n) override
    {
        pending.append(text, static_cast<std::size_t>(n));
        written += static_cast<unsigned long long>(n);
        if (pending.size() >= RECORD_MAX)
            sync();
        return n;
    }

    int sync() override
    {
        if (pending.empty())
            return 0;
        writeToTerminal(pending.data(), pending.size());
        if (shown.size() < RECORD_MAX)
            shown += pending;
        pending.clear();
        return 0;
    }

    // The record starts again at a clear, in the attribute the clear is made in.
    void clear()
    {
        sync();
        shown.assign(shownAttribute() >= 0 ? sgr(static_cast<unsigned char>(shownAttribute())) : "");
        pending += CLEAR;
    }
};

// Never destroyed: std::cout may be written until the very end.
TerminalOutput* output = nullptr;

}  // namespace

void installOutput()
{
    output = new TerminalOutput;
    // Both at their full size from the start: they stay where they are in
    // memory instead of moving about near the blocks being browsed.
    output->pending.reserve(RECORD_MAX);
    output->shown.reserve(RECORD_MAX);
    std::cout.rdbuf(output);
}

unsigned long long outputWritten()
{
    return output != nullptr ? output->written : 0;
}

void replayScreen()
{
    std::cout.flush();
    if (output == nullptr)
        return;
    if (output->shown.find(CLEAR) == std::string::npos)
        writeToTerminal(CLEAR, sizeof CLEAR - 1);  // nothing cleared it yet
    writeToTerminal(output->shown.data(), output->shown.size());
    noteShownAttribute(-1);  // whatever the record ended in
}

ConsoleHandle outputHandle()
{
    return &std::cout;
}

void setTextAttribute(ConsoleHandle, unsigned char attr)
{
    if (shownAttribute() == attr)
        return;
    std::cout << sgr(attr);
    noteShownAttribute(attr);
}

void clearScreen()
{
    // Home and erase below rather than erase-all: some terminals push a whole-screen
    // erase into their scrollback, which would fill it with a copy of every frame.
    if (output != nullptr && std::cout.rdbuf() == output)
        output->clear();
    else
        std::cout << CLEAR;
}
