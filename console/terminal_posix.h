#pragma once
// The terminal itself, beneath the console services: what standard input and
// output are, the modes and sequences the program sets while it has the
// terminal, whether it is in the foreground, and waiting for, reading and
// writing bytes. Its state is process-wide and plain, since the signal
// handlers (signals_posix.h) reach it too; it calls nothing above it.
//
// What the program writes to a terminal beyond text, and why:
//   ESC [ ? 7 l    autowrap off while it has the terminal: a line wider than the
//                  window is cut at its edge instead of pushing the frame up;
//   ESC [ ? 7 h    autowrap back on when it gives the terminal back;
//   smkx, rmkx     keypad-transmit mode on while it has the terminal, off when
//                  it gives it back (ESC [ ? 1 h ESC = and ESC [ ? 1 l ESC > for
//                  most; as the terminal's description says where there is one),
//                  so that every cursor and editing key sends the sequence the
//                  description gives it;
//   ESC [ 0 ; f ; b m   the colours of what follows (frame_posix.h), and
//   ESC [ 0 m      the terminal's own colours again when it gives it back;
//   ESC [ H ESC [ J     a clear: home and erase below, in the frame's colours
//                  (an erase of the whole screen would go to the scrollback);
//                  where the terminal does not erase in colour, spaces in the
//                  frame's colours over the whole window after it;
//   BS             (from the value line) the typed value's echo moves back.
// The terminal is touched only while the program's process group is in its
// foreground, with one exception: a stop gives back from the background too,
// where nothing else has changed the modes since.

#include <cstddef>
#include <cstdint>

// What the terminal holds for the program: 0, or the errno of a failure that
// leaves no terminal to work with (the modes cannot be read).
int takeTerminal();
// Gives the terminal back as it was, for good: modes, autowrap, colours.
// 0, or the errno of the call that failed. Async-signal-safe.
int giveTerminalBack();
// For a signal that ends the program: the same, unless it was given back
// already, and the shell's prompt to come starts on a line of its own.
void giveTerminalBackOnSignal();
// For a stop: the same, but for a while, from the background too while the
// terminal still has exactly the program's modes. Async-signal-safe.
void giveTerminalBackForStop();
// After a continue, or found in the foreground: there, the modes are read
// again, the shell's as it gave them to the job, and key mode and the
// sequences are taken again, with the screen to be drawn anew. Async-signal-safe.
void takeTerminalBack();
// A resize: the screen is to be drawn again, and the window's size asked
// again, with the foreground. Async-signal-safe.
void noteScreenChange();
// A stop: the foreground is to be asked again. Async-signal-safe.
void noteStop();
// A hang-up: no key can come any more, and nothing written is seen. Async-signal-safe.
void noteHangUp();
// Whether the program's process group can be stopped at all: an orphaned one
// is not, and a stop signal is discarded. Async-signal-safe.
bool groupCanStop();

// Standard input is the program's controlling terminal, whose modes it manages.
bool inputIsTerminal();
// Standard output is the controlling terminal and takes escape sequences:
// not a file or a pipe, and TERM is set and not "dumb".
bool outputTakesSequences();
// The terminal's own editing character for `index` (VERASE, VKILL, VWERASE,
// VEOF), or -1 when it has none or input is no terminal.
int editingChar(int index);

struct WindowSize {
    int rows = 0;  // 0: unknown, as for output that is no terminal
    int cols = 0;
};
// The window's size, read again after each resize.
WindowSize windowSize();

// Output may reach standard output now: it is no terminal, or the program is
// in the terminal's foreground. Asked of the system only after a signal that
// may have changed it.
bool outputInForeground();
// Writes all of `text` to standard output, waiting while a non-blocking
// descriptor is full. A write cut short by a signal goes on only while the
// program is still in the foreground. 0, LOST_FOREGROUND, or the errno of a
// failure that will not go away.
constexpr int LOST_FOREGROUND = -1;
int writeOutput(const char* text, std::size_t size);
// Standard output cannot be written: gives the terminal back, says why on
// standard error and ends the program with status 1; after a hang-up, with
// status 0 and nothing said, as nobody is there to see it.
[[noreturn]] void failOutput(int error);
// Says why on standard error, after giving the terminal back, and ends with status 1.
[[noreturn]] void failConsole(const char* what, int error);

enum class InputByte { BYTE, TIMED_OUT, STALE, ENDED };
// The next byte of standard input, waited for at most `timeoutMs` (-1: no
// limit). STALE when the screen changed and is to be drawn again (only when
// `watchScreen`; the change is taken with it); ENDED at the end of input or a
// hang-up. In the background no key is waited for, only a signal: being
// continued, or ended.
InputByte nextInputByte(std::uint8_t& byte, int timeoutMs, bool watchScreen);
// Bytes are waiting to be read already.
bool inputWaiting();
// Whether input has ended, for keys and values alike.
bool inputEnded();
// Holds resizes, continues, hang-ups and SIGTTIN off from now on except while
// waitForInput waits, so that none can slip in just before it blocks, and a
// read from the background fails instead of stopping the job. 0 or the errno.
int holdSignalsForTheWait();
