// Keys and typed values on POSIX. Both come from standard input, read one byte
// at a time and never ahead, so that keys can be scripted through a pipe: keys
// are decoded from the raw terminal's bytes; a value is read as a whole line,
// kept apart from the keys in std::cin's buffer. The terminal stays raw for a
// value too, with the echo and editing done here: so typed-ahead text shows as
// well, and a stopped and continued prompt can be drawn again with its text.

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>

#include "console/console.h"
#include "console/console_posix.h"
#include "console/key_decoder.h"
#include "console/terminal_posix.h"

namespace {

// How long a lone Escape waits for the rest of a sequence before it counts as
// the Escape key itself.
constexpr int ESCAPE_WAIT_MS = 100;

KeyDecoder decoder;
int pendingCode = -1;
bool inputEnded = false;  // for keys and values alike: nothing more can be read

enum class Got { BYTE, TIMED_OUT, STALE, ENDED };

Got readByte(std::uint8_t& byte, int timeoutMs, bool watchScreen)
{
    for (;;) {
        switch (waitForInput(timeoutMs, watchScreen)) {
        case InputWait::TIMED_OUT: return Got::TIMED_OUT;
        case InputWait::STALE: takeScreenChange(); return Got::STALE;
        case InputWait::ENDED: inputEnded = true; return Got::ENDED;
        case InputWait::READY: break;
        }
        const ssize_t n = ::read(STDIN_FILENO, &byte, 1);
        if (n == 1)
            return Got::BYTE;
        if (n < 0 && errno == EINTR)
            continue;
        inputEnded = true;  // end of file, hang-up or a read error alike
        return Got::ENDED;
    }
}

// The next whole key press. Not done when input has ended, and then `stale`
// tells whether the screen must be drawn again first.
Key nextKey(bool& stale)
{
    stale = false;
    while (!inputEnded) {
        std::uint8_t byte = 0;
        const bool started = keyStarted(decoder);
        const Got got = readByte(byte, started ? ESCAPE_WAIT_MS : -1, !started);
        if (got == Got::STALE) {
            stale = true;
            return Key{};
        }
        if (got != Got::BYTE)
            return finishKey(decoder);
        const Key key = feedKeyByte(decoder, byte);
        if (key.done)
            return key;
    }
    return Key{};
}

// A typed byte as the echo shows it: never as a control code.
std::string echoOf(std::uint8_t byte)
{
    if (byte >= 0x20 && byte < 0x7f)
        return std::string(1, static_cast<char>(byte));
    if (byte < 0x20)
        return {'^', static_cast<char>(byte + '@')};
    return byte == 0x7f ? "^?" : "?";
}

void rubOut(std::string& line)
{
    for (std::size_t n = echoOf(static_cast<std::uint8_t>(line.back())).size(); n > 0; --n)
        std::cout << "\b \b";
    line.pop_back();
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool is(std::uint8_t byte, int editing)
{
    return editing >= 0 && byte == editing;
}

// One byte of a value typed at the terminal, with the terminal's own editing
// characters; true once the line is done.
bool typed(std::string& line, std::uint8_t byte)
{
    if (byte == '\r' || byte == '\n') {
        line.push_back('\n');
    } else if (is(byte, editingChar(VEOF))) {
        // An entry, not the end of input: one that no number can be read from.
        line = "\x04\n";
    } else if (is(byte, editingChar(VERASE)) || byte == '\b') {
        if (!line.empty())
            rubOut(line);
        return false;
    } else if (is(byte, editingChar(VKILL))) {
        while (!line.empty())
            rubOut(line);
        return false;
    } else if (is(byte, editingChar(VWERASE))) {
        while (!line.empty() && isBlank(line.back()))
            rubOut(line);
        while (!line.empty() && !isBlank(line.back()))
            rubOut(line);
        return false;
    } else {
        if (line.size() < VALUE_LINE_MAX) {
            line.push_back(static_cast<char>(byte));
            std::cout << echoOf(byte);
        }
        std::cout.flush();
        return false;
    }
    std::cout << '\n' << std::flush;
    return true;
}

// Reads one line, up to and including its end and never beyond it: whatever
// follows on the descriptor stays there as keys.
void readValueLine(std::string& line)
{
    const bool fromTerminal = inputIsTerminal();
    for (;;) {
        std::uint8_t byte = 0;
        const Got got = readByte(byte, -1, true);
        if (got == Got::ENDED)
            return;
        if (got == Got::STALE) {
            replayScreen();  // the text typed so far is part of what it shows
            continue;
        }
        if (fromTerminal) {
            if (typed(line, byte))
                return;
            continue;
        }
        if (byte == '\n' || line.size() < VALUE_LINE_MAX)
            line.push_back(static_cast<char>(byte));
        if (byte == '\n')
            return;
    }
}

struct ValueLineBuffer;

// std::cin's tie: every read of a value first writes out the screen, the
// rest of the line it will read included.
struct BeforeValueRead : std::streambuf {
    ValueLineBuffer* values = nullptr;
    int sync() override;
};

// std::cin's source. Keys and values share one descriptor here, while a console
// keeps them apart; reading whole lines into this buffer keeps them apart too:
// what is left of a value line stays here for the next value and never
// reaches the keys.
struct ValueLineBuffer : std::streambuf {
    BeforeValueRead before;
    std::ostream tie{&before};
    std::string line;
    // The output as it stood once the line was last shown: a prompt that
    // reads on from there has not written anything since.
    unsigned long long shownAtOutput = 0;

    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        line.clear();
        if (!inputEnded)
            readValueLine(line);
        shownAtOutput = outputWritten();  // typed lines echo as they are typed
        // At the end of input readKey reports it too, so the browse loop ends.
        if (line.empty())
            return traits_type::eof();
        setg(line.data(), line.data(), line.data() + line.size());
        return traits_type::to_int_type(line[0]);
    }

    // What an earlier value left of a typed line, echoed when a new prompt
    // starts to read it.
    void showRest()
    {
        if (!inputIsTerminal() || gptr() == egptr() || outputWritten() == shownAtOutput)
            return;
        for (const char* p = gptr(); p < egptr() && *p != '\n'; ++p)
            std::cout << echoOf(static_cast<std::uint8_t>(*p));
        shownAtOutput = outputWritten();
    }

    ValueLineBuffer() { before.values = this; }
    ValueLineBuffer(const ValueLineBuffer&) = delete;
    ValueLineBuffer& operator=(const ValueLineBuffer&) = delete;
    ~ValueLineBuffer() override
    {
        if (std::cin.tie() == &tie)
            std::cin.tie(&std::cout);
    }
};

int BeforeValueRead::sync()
{
    values->showRest();
    std::cout.flush();
    return 0;
}

}  // namespace

void installValueLine()
{
    // Never destroyed: std::cin may be read until the very end.
    auto* const values = new ValueLineBuffer;
    std::cin.rdbuf(values);
    std::cin.tie(&values->tie);
}

void pauseForKey()
{
    std::cout << "Press any key to continue . . . " << std::flush;
    pendingCode = -1;
    for (;;) {
        bool stale = false;
        const Key key = nextKey(stale);
        if (stale)
            replayScreen();
        else if (key.done || inputEnded)
            break;
    }
    std::cout << '\n';
}

int readKey()
{
    if (pendingCode >= 0) {
        const int code = pendingCode;
        pendingCode = -1;
        return code;
    }
    std::cout.flush();
    for (;;) {
        if (inputEnded && !keyStarted(decoder))
            return END_OF_INPUT;
        bool stale = false;
        const Key key = nextKey(stale);
        if (stale)
            return SCREEN_STALE;
        if (!key.done || key.count == 0)
            continue;
        if (key.count == 2)
            pendingCode = key.code[1];
        return key.code[0];
    }
}
