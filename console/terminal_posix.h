#pragma once
// Between the POSIX console files only: the terminal that keys, typed values
// and the screen share, and the mode it is in while the program has it.

#include <cstddef>

// Longer value lines are still read to their end, but only this much is kept:
// nothing typed or piped can grow memory without bound.
constexpr std::size_t VALUE_LINE_MAX = 4096;

// Standard input is a terminal whose modes the program manages.
bool inputIsTerminal();
// Single keys without echo: the mode between prompts.
void useKeyMode();
// A value being typed: echo and the terminal's own line editing until Enter.
void useLineMode();
// The terminal hung up (SIGHUP): input has ended.
bool hungUp();
// Resized or resumed: the screen must be redrawn. takeScreenChange also clears it.
bool screenChanged();
bool takeScreenChange();
// Gives std::cin its source; called once by beginConsole.
void installValueLine();
