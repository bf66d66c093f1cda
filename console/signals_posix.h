#pragma once
// The signal handlers that give the terminal back on every way out, and take
// it back on every way in: ends (Ctrl-C, kill, a crash), stops and continues,
// resizes and hang-ups. They sit on the terminal of terminal_posix.h.

// Installs them, each where nothing else (nohup, a sanitizer, the memory
// guard) holds the signal already. 0, or the errno of the call that failed.
int installSignalHandlers();
