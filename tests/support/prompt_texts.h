#pragma once
// What the program must print, written out here rather than taken from the
// program, so that a changed text fails the checks that use them.

#include <string>

// As the screen shows them, one line each.
inline const std::string PROMPT_LINE =
    "Enter byte value (in decimal, 0-255, any invalid value (such as -1) will abort)";
inline const std::string VALUE_LABEL = "Byte Value:";
inline const std::string PAUSE_LINE = "Press any key to continue . . .";
inline const std::string INVALID_LINE = "Value is invalid, aborting.";
inline const std::string FAILED_LINE = "Write failed";
inline const std::string USAGE_LINES[] = {
    "Usage: To try to start you out near main()'s stack frame, use '-mainframe'",
    "This will point to a local variable (a char array) in main()",
};

// As the program writes them.
inline const std::string PROMPT = "\n" + PROMPT_LINE + "\n" + VALUE_LABEL + " ";
inline const std::string PAUSE = PAUSE_LINE + " \n";
inline const std::string INVALID = "\n" + INVALID_LINE + "\n" + PAUSE;
inline const std::string FAILED = "\n" + FAILED_LINE + "\n" + PAUSE;
inline const std::string USAGE = USAGE_LINES[0] + "\n" + USAGE_LINES[1] + "\n";
inline const std::string SCAN_MESSAGE = "\nScanning for accessible memory, this may take... forever.....";
