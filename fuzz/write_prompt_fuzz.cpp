// Coverage-guided fuzzing of the write prompt's value reading: any line of
// bytes, typed where the prompt asks for a value, through the same line buffer
// that std::cin reads from in the program.
//
// The line arrives on standard input (a pipe) followed by a line the prompt can
// never accept, so that a line of white space cannot wait for more. Each input
// is tried on a writable byte and on a read-only one. Checked every time:
//  - a byte is stored exactly when the line starts, after white space, with a
//    number whose unsigned 32-bit reading is at most 255 (a minus sign wraps it
//    modulo 2^32), and it is that number; no other byte ever changes;
//  - the prompt says what it says to a line it surely rejects exactly when
//    nothing was accepted, and what it says to a store that surely fails
//    exactly when an accepted value met read-only memory.

#include <poll.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "console/console_posix.h"
#include "probe/write_prompt.h"
#include "tests/support/extraction.h"
#include "tests/support/pages.h"

namespace {

constexpr unsigned char FILL = 0xa5;
constexpr std::size_t TARGET = 100;  // offset of the selected byte in its page

int keysWrite = -1;
unsigned char* writable = nullptr;
unsigned char* readOnly = nullptr;

// What the prompt says for a value it takes, one it rejects and a store that
// fails, learned from it at the start: every line must give one of these exactly.
std::string accepted;
std::string rejected;
std::string refused;

[[noreturn]] void fail(const char* what, const std::string& line)
{
    std::fprintf(stderr, "write prompt: %s (line of %zu bytes)\n", what, line.size());
    std::abort();
}

void drainKeys()
{
    pollfd p{STDIN_FILENO, POLLIN, 0};
    char scratch[256];
    while (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0 && ::read(STDIN_FILENO, scratch, sizeof scratch) > 0) {
    }
}

// One W on the byte at TARGET of `page`, with `line` typed; what the prompt wrote.
std::string prompt(unsigned char* page, const std::string& line)
{
    // After the line: one the prompt rejects, and a key for its pause.
    const std::string typed = line + "\nnot a value\nk";
    if (::write(keysWrite, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size()))
        std::abort();
    installValueLine();
    std::ostringstream screen;
    std::streambuf* const shown = std::cout.rdbuf(screen.rdbuf());
    promptWrite(reinterpret_cast<Address>(page) + TARGET - selectedAddress(0, 3, 5), 3, 5);
    std::cout.rdbuf(shown);
    std::cin.rdbuf(nullptr)->~basic_streambuf();  // in static storage: the next one takes its place
    drainKeys();
    return screen.str();
}

void check(unsigned char* page, bool canWrite, const std::string& line, std::optional<unsigned char> expected)
{
    const std::string shown = prompt(page, line);
    const bool stored = expected.has_value() && canWrite;
    for (std::size_t i = 0; i < pageBytes(); ++i) {
        const unsigned char want = i == TARGET && stored ? *expected : FILL;
        if (page[i] != want)
            fail(i == TARGET ? "the selected byte holds the wrong value" : "a byte beside the selected one changed", line);
    }
    const std::string& want = !expected ? rejected : canWrite ? accepted : refused;
    if (shown != want)
        fail(!expected ? "a value that is no byte was not reported as invalid"
                       : canWrite ? "an accepted value was reported" : "a failed write was not reported",
             line);
    if (stored)
        page[TARGET] = FILL;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    int fds[2];
    if (::pipe(fds) != 0 || ::dup2(fds[0], STDIN_FILENO) < 0)
        std::abort();
    ::close(fds[0]);
    keysWrite = fds[1];
    static const Pages pages(2);
    writable = pages.page(0);
    readOnly = pages.page(1);
    std::memset(writable, FILL, 2 * pageBytes());
    pages.protect(1, PageAccess::read);
    accepted = prompt(writable, "0");
    writable[TARGET] = FILL;
    rejected = prompt(writable, "x");
    refused = prompt(readOnly, "0");
    if (accepted == rejected || accepted == refused || rejected == refused)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One line: up to its end, if the input has one.
    std::string line(reinterpret_cast<const char*>(data), size);
    if (const std::size_t end = line.find('\n'); end != std::string::npos)
        line.resize(end);
    const std::optional<std::uint32_t> value = extractUnsigned(line).value;
    std::optional<unsigned char> expected;
    if (value && *value <= 255)
        expected = static_cast<unsigned char>(*value);
    check(writable, true, line, expected);
    check(readOnly, false, line, expected);
    return 0;
}
