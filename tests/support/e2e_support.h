#pragma once
// Reading a gleanhex frame off the emulated screen.

#include <string>
#include <vector>

#include "support/pty_session.h"

// The number after `prefix` on `row`, read in `base`; -1 if it is not there.
unsigned long long numberAfter(const PtySession& s, int row, const std::string& prefix, int base = 16);

// Block start from the header, selected address from the "Address: " line.
inline unsigned long long blockStartShown(const PtySession& s)
{
    return numberAfter(s, HEADER_ROW, "Block starting at address: ");
}
inline unsigned long long selectedShown(const PtySession& s)
{
    return numberAfter(s, ADDRESS_ROW, "Address: ");
}
inline unsigned long long distanceShown(const PtySession& s)
{
    return numberAfter(s, HEADER_ROW, " (", 10);
}

// Where a -mainframe session's first frame starts, and where the stack mapping
// that holds it ends; 0 for what did not come.
struct StackHome {
    unsigned long long block = 0;
    unsigned long long stackEnd = 0;
};
StackHome stackHome(PtySession& s);

// What xterm sends for the keys the tests press most.
namespace xterm {
inline const std::string UP = "\x1b[A", DOWN = "\x1b[B", RIGHT = "\x1b[C", LEFT = "\x1b[D";
inline const std::string PAGE_UP = "\x1b[5~", PAGE_DOWN = "\x1b[6~", HOME = "\x1b[H";
inline const std::string INSERT = "\x1b[2~", DELETE = "\x1b[3~";
}  // namespace xterm

// Sends keys and waits for the frames they draw.
void press(PtySession& s, const std::string& keys, int frames = 1);
// `count` blocks on, one frame each.
void pageDown(PtySession& s, unsigned long long count);

// No control code reached the terminal.
void expectCleanScreen(const PtySession& s);
// The program ended by itself, with status 0, and gave the terminal back.
void expectEndedCleanly(PtySession& s);
// X, and the program ends cleanly.
void quit(PtySession& s);

// `key` sent `count` times in one write, as key repeat delivers it.
inline std::string repeated(const std::string& key, unsigned long long count)
{
    std::string keys;
    for (unsigned long long i = 0; i < count; ++i)
        keys += key;
    return keys;
}

// Grid cell (r, c): the screen column of its two hex digits and of its
// character, and what they show.
int hexColumn(const PtySession& s, int r, int c);
int charColumn(const PtySession& s, int r, int c);
std::string hexCell(const PtySession& s, int r, int c);
std::string charCell(const PtySession& s, int r, int c);
bool highlighted(const PtySession& s, int screenRow, int screenCol);

// A run with keys piped in and standard output going to `outputPath`, or to a
// pipe when it is empty; TERM is `term`, or unset when that is empty.
struct PipedRun {
    int status = -1;  // as waitpid gives it
    std::string output;
    std::string errors;
};
PipedRun runPiped(const std::vector<std::string>& args, const std::string& keys, const std::string& outputPath,
                  const std::string& term);

// What the tests own of a -mainframe block: its first bytes, main()'s `s`.
inline const std::string WELCOME("[Welcome Home]\0", 15);
// The screen's text with every grid byte past the block's first `kept` blanked.
// Past `s` lie main()'s other variables, which some builds change between frames.
std::string textOfOwnBytes(const PtySession& s, unsigned kept);
