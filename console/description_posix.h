#pragma once
// What the terminal says of itself: the sequences that switch its keypad to
// transmit mode and back, whether an erase paints in the current colours
// (background-colour erase), and what its editing and cursor keys send. From
// its terminfo entry where the program was built with terminfo and TERM has
// one; else the forms most terminals take.

struct TerminalDescription {
    char keypadOn[32] = "";
    char keypadOff[32] = "";
    bool eraseInColour = true;
    struct Key {
        char bytes[16];
        int code;
    };
    Key keys[12]{};
    int keyCount = 0;
};

// Read once, before the first frame: reading terminfo allocates. Safe to read
// from a signal handler afterwards.
const TerminalDescription& terminalDescription();
void describeTerminal();
// The key whose sequence `bytes` is, by the terminal's own description; 0 for none.
int describedKey(const char* bytes, int size);
