#pragma once
// Between the POSIX console files only: the parts beginConsole puts together.
// Each sits on the terminal of terminal_posix.h; keys sit on values and the
// output, values on the output, and none calls back up.

// Gives std::cout its frame (frame_posix.h), presented to the terminal at each flush.
void installOutput();
// How many bytes std::cout has taken so far.
unsigned long long outputWritten();
// Draws the screen again from the frame: after the program was stopped and
// continued, or the terminal resized, where nobody else redraws it.
void replayScreen();
// Everything written out, and the line breaks a cut-down screen held back at
// its end: before the terminal is given back.
void finishOutput();

// Gives std::cin its source: typed values, read apart from the keys.
void installValueLine();
// The rest of a piped value line too long to hold is dropped before keys are
// read: it is never taken as keys.
void dropRestOfPipedLine();
