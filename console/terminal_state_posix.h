#pragma once
// The terminal's state, one record for the whole process, shared by the two
// files that implement terminal_posix.h (the terminal itself, and waiting for
// and reading input) and by nothing else.

#include <signal.h>
#include <termios.h>

#include <cstddef>
#include <cstdint>

#include "console/terminal_posix.h"

struct Terminal {
    // What standard input and output are, found at the start.
    bool input = false;      // the controlling terminal, whose modes are managed
    bool output = false;     // the controlling terminal
    bool takesSequences = false;  // ... and it takes escape sequences
    pid_t group = 0;
    // The modes to give back, as read in the foreground, and key mode made of them.
    termios saved{};
    termios keys{};
    volatile sig_atomic_t haveModes = 0;
    // From takeTerminal to the final give-back: whenever the program is in the
    // foreground, key mode and its sequences are to be in force.
    volatile sig_atomic_t wanted = 0;
    // Key mode and the sequences are in force, as far as the program knows.
    volatile sig_atomic_t taken = 0;
    // Bumped by every resize, stop and continue: what they may change (the
    // window's size, the foreground) is asked again.
    volatile sig_atomic_t changes = 0;
    // Bumped by whatever leaves the screen to be drawn again: a resize, or
    // taking the terminal back from a shell that had it.
    volatile sig_atomic_t redraws = 0;
    volatile sig_atomic_t hungUp = 0;
    // Read by the program's own flow only.
    bool inputOver = false;
    sig_atomic_t screenSeen = 0;
    sig_atomic_t frontAsked = -1;
    bool front = true;
    sig_atomic_t sizeRead = -1;
    WindowSize window;
    // Bytes read from the terminal and not yet taken: all a key's bytes come in
    // one read, and keys and values take them from here alike. A pipe is read
    // a byte at a time, never ahead: what the program leaves of it is still
    // there for whatever reads it next (a script's next command).
    std::uint8_t bytes[256]{};
    std::size_t bytesAt = 0;
    std::size_t bytesRead = 0;
    // Written when the terminal is taken and when it is given back: autowrap,
    // the keypad's mode, the colours.
    char takeSequences[48] = "";
    char giveBackSequences[48] = "";
    // The mask the key wait opens: the held signals come in only there, so
    // none can slip in between a check of the state and the wait.
    sigset_t waitMask{};
    bool signalsHeld = false;
    // In the background, unable to stop: input is waiting that the program did
    // not read, so the wait cannot wake on input and looks again now and then.
    bool foreignInput = false;
};


extern Terminal terminalState;
