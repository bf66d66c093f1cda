#pragma once
// The terminal itself, beneath the console services: its modes while the
// program has it, the signal handlers that give it back on every way out, and
// the flags those handlers leave for the key wait. Calls nothing above it.
// The terminal is touched (modes, escape sequences, output) only while the
// program's process group is the terminal's foreground group.

#include <cstddef>
#include <cstdint>

// Takes the terminal for single unechoed keys, without autowrap, and installs
// the handlers. Resizes, continues and hang-ups are held back from then on
// except while waitForInput waits, so none can slip in just before it blocks.
void takeTerminal();
// Gives the terminal back as it was, for good: modes, autowrap, colours.
// Async-signal-safe, and not to be interrupted half way.
void giveTerminalBack();

// Standard input is a terminal whose modes the program manages.
bool inputIsTerminal();
// Standard output is a terminal that takes escape sequences: not a file or a
// pipe, and TERM is set and not "dumb". Otherwise the output is plain text.
bool outputTakesSequences();
// The terminal's own editing character for `index` (VERASE, VKILL, VWERASE,
// VEOF), or -1 when it has none or input is no terminal.
int editingChar(int index);

// The attribute the terminal shows now; -1 when unknown, as after giving the
// terminal back for a while.
int shownAttribute();
void noteShownAttribute(int attr);

struct WindowSize {
    int rows = 0;  // 0: unknown, as for output that is no terminal
    int cols = 0;
};
// The window's size, read again after each resize.
WindowSize windowSize();

// Output may reach standard output now: it is no terminal, or the program is
// in the terminal's foreground.
bool outputInForeground();
// Writes all of `text` to standard output, going on after a signal and waiting
// while a non-blocking descriptor is full. 0, or the errno of a failure that
// will not go away. Async-signal-safe.
int writeOutput(const char* text, std::size_t size);
// Standard output cannot be written: gives the terminal back, says why on
// standard error and ends the program with status 1.
[[noreturn]] void failOutput(int error);

enum class InputWait { READY, TIMED_OUT, STALE, ENDED };
// Waits for a byte on standard input, at most `timeoutMs` (-1: no limit).
// STALE when the terminal was resized or the program resumed since the
// last takeScreenChange (only when `watchScreen`); ENDED after a hang-up.
// While the program is in the background it waits for no key, only for being
// brought back or ended.
InputWait waitForInput(int timeoutMs, bool watchScreen);
enum class InputRead { BYTE, NONE, ENDED };
// Reads the byte waitForInput found, without ever waiting: NONE when it is
// gone again (another reader of the terminal took it, or the program left the
// foreground), ENDED at the end of input or a hang-up.
InputRead readInput(std::uint8_t& byte);
// Clears the resized-or-resumed flag; whether it was set.
bool takeScreenChange();
