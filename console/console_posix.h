#pragma once
// Between the POSIX console files only: the parts beginConsole puts together.
// Each sits on the terminal of terminal_posix.h; keys and values sit on the
// output as well, and neither calls back up.

// Gives std::cout its buffer: written out at each flush, and a record of what
// the screen shows since it was last cleared.
void installOutput();
// How many bytes std::cout has taken so far.
unsigned long long outputWritten();
// Draws the screen again from that record: after the program was stopped and
// continued, or the terminal resized, where nobody else redraws it.
void replayScreen();
// Everything written out, and the line breaks a cut-down screen held back at
// its end: before the terminal is given back.
void finishOutput();
// Gives std::cin its source: typed values, read apart from the keys.
void installValueLine();
