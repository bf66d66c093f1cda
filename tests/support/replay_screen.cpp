// The screen a terminal shows after a log of what it was sent: for the scripts
// that drive real terminal emulators and read the program's output back.
//   replay_screen ROWS COLS < LOG
// Prints the screen's rows, then one "violation: ..." line for each thing the
// screen model would not accept.

#include <charconv>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "support/screen.h"

namespace {

bool sizeOf(const char* text, int& size)
{
    const char* const end = text + std::strlen(text);
    return std::from_chars(text, end, size).ptr == end && size > 0 && size <= 1000;
}

}  // namespace

int main(int argc, char* argv[])
{
    int rows = 0;
    int cols = 0;
    if (argc != 3 || !sizeOf(argv[1], rows) || !sizeOf(argv[2], cols)) {
        std::cerr << "usage: replay_screen ROWS COLS < LOG\n";
        return 2;
    }
    Screen screen(rows, cols);
    const std::string log{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    screen.feed(log);
    std::cout << screen.text();
    for (const std::string& what : screen.violations())
        std::cout << "violation: " << what << '\n';
    return 0;
}
