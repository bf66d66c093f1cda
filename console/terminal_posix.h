#pragma once
// The terminal itself, beneath the console services: its modes while the
// program has it, the signal handlers that give it back on every way out, and
// the flags those handlers leave for the key wait. Calls nothing above it.

#include <cstddef>

// Takes the terminal for single unechoed keys, without autowrap, and installs
// the handlers. Resizes, continues and hang-ups are held back from then on
// except while waitForInput waits, so none can slip in just before it blocks.
void takeTerminal();
// Gives the terminal back as it was: modes, autowrap, colours. Async-signal-safe.
void giveTerminalBack();

// Standard input is a terminal whose modes the program manages.
bool inputIsTerminal();
// The terminal's own editing character for `index` (VERASE, VKILL, VWERASE,
// VEOF), or -1 when it has none or input is no terminal.
int editingChar(int index);

// The attribute the terminal shows now; -1 when unknown, as after giving the
// terminal back for a while.
int shownAttribute();
void noteShownAttribute(int attr);

// Writes all of `text`, going on after a signal. Async-signal-safe.
void writeToTerminal(const char* text, std::size_t size);

enum class InputWait { READY, TIMED_OUT, STALE, ENDED };
// Waits for a byte on standard input, at most `timeoutMs` (-1: no limit).
// STALE when the terminal was resized or the program resumed since the
// last takeScreenChange (only when `watchScreen`); ENDED after a hang-up.
InputWait waitForInput(int timeoutMs, bool watchScreen);
// Clears the resized-or-resumed flag; whether it was set.
bool takeScreenChange();
