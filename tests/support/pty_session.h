#pragma once
// Runs the built gleanhex in a pseudo-terminal the way a user meets it: keys go
// in as the bytes a terminal sends, and what comes out is played onto a Screen.

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/proc_maps.h"
#include "support/screen.h"

struct SessionOptions {
    std::vector<std::string> args;
    int rows = 30;
    int cols = 100;
    // Keys come from a pipe instead of the terminal (scripted use); output still
    // goes to the terminal.
    bool pipedKeys = false;
    // The program runs as a job under a small job-control shell in the terminal:
    // Ctrl-Z stops it, the shell says so and takes the terminal, and "fg" typed
    // there continues it in the foreground. pid() is then the shell's, and the
    // shell ends with the program's exit code.
    bool jobControl = false;
    // Runs the program through a script, as `sh -c 'gleanhex ...; true'`, whose
    // shell stops and continues with it.
    bool wrapper = false;
    // Put before the program's path on its command line: a tracer, say.
    std::vector<std::string> prefix{};
    // TERM for the program; empty leaves it unset.
    std::string term = "xterm-256color";
    // LANG and LC_ALL for the program: the character set it writes in.
    std::string locale = "C.UTF-8";
    // Runs this instead of the program: a real shell, which the test then
    // types the program's command line into.
    std::vector<std::string> command{};
};

// The built program's path.
std::string programPath();

class PtySession {
public:
    explicit PtySession(SessionOptions options);
    ~PtySession();
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    void send(std::string_view bytes);
    // Ends the key stream (only with pipedKeys): the program sees end of input.
    void closeKeys();
    // Gives the terminal a new size, which signals the program; the screen
    // model keeps its own.
    void resize(int rows, int cols);

    // Reads output until `done` holds or the time runs out; returns whether it held.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));
    bool waitForText(std::string_view text, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Waits for the next whole frame drawn after the previous call; false on timeout.
    bool nextFrame(std::chrono::milliseconds limit = std::chrono::seconds(5));
    int framesSeen() const;

    // The job-control shell's job (with jobControl): the program, or its wrapper.
    pid_t job() const;
    // The job's program has been stopped (with a wrapper: the wrapper's child).
    bool programStopped() const;

    // Waits for the program to end; the wait status, or -1 if it is still running.
    int waitExit(std::chrono::milliseconds limit = std::chrono::seconds(5));

    const Screen& screen() const { return screen_; }
    std::string line(int row) const { return screen_.line(row); }
    const std::string& output() const { return output_; }
    pid_t pid() const { return pid_; }
    // The terminal's modes now, and as they were before the program started.
    termios modes() const;
    const termios& modesAtStart() const { return startModes_; }
    // Sets the terminal's modes, as a shell does when it takes the terminal back.
    void setModes(const termios& modes);

private:
    bool pump(std::chrono::milliseconds wait);

    Screen screen_;
    std::string output_;
    int master_ = -1;
    int keysWrite_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
    int framesTaken_ = 0;
    termios startModes_{};
};

// Same modes as far as a user can tell: flags and the special characters in use.
bool sameModes(const termios& a, const termios& b);
// Keys come one at a time and unechoed, as the browser reads them.
bool keyMode(const termios& t);

// How many times `part` occurs in `text` from `from` on.
std::size_t countOf(std::string_view text, std::string_view part, std::size_t from = 0);
