#pragma once
// What the write prompt must print, written out here rather than taken from the
// program, so that a changed text fails the checks that use them.

#include <string>

inline const std::string PROMPT =
    "\nEnter byte value (in decimal, 0-255, any invalid value (such as -1) will abort)\nByte Value: ";
inline const std::string PAUSE = "Press any key to continue . . . \n";
inline const std::string INVALID = "\nValue is invalid, aborting.\n" + PAUSE;
inline const std::string FAILED = "\nWrite failed\n" + PAUSE;
