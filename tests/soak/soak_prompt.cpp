// The write prompt, and the ways a stream ends: X, or a signal while waiting
// for a key, at the value prompt or at the pause after a message.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/e2e_support.h"
#include "support/extraction.h"
#include "soak_session.h"

std::string SoakRun::readMemory(Address at, std::size_t n) const
{
    const int fd = ::open(("/proc/" + std::to_string(session_.pid()) + "/mem").c_str(), O_RDONLY);
    std::string out(n, '\0');
    const bool ok = fd >= 0 && ::pread(fd, out.data(), n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
    if (fd >= 0)
        ::close(fd);
    if (!ok)
        throw SoakFailure("cannot read the program's memory");
    return out;
}

bool SoakRun::inHome(Address a) const { return a - home_ < expected_.size(); }

// Only a store the program must refuse may be tried away from home.
bool SoakRun::surelyUnwritable(Address a) const
{
    Address stackStart = 0;
    for (const Mapping& m : mappingsOf(session_.pid())) {
        if (a >= m.start && a < m.end)
            return m.perms[1] != 'w';
        if (m.name == "[stack]")
            stackStart = m.start;
    }
    return !(a < stackStart && stackStart - a < (256ULL << 20));  // the stack may grow there
}

void SoakRun::write()
{
    const Address target = selected();
    const bool home = inHome(target);
    const bool refused = !home && surelyUnwritable(target);
    std::string typed;
    std::string line = rest_;  // the prompt reads what the last line left, without waiting
    if (blank(rest_)) {
        const unsigned char value = static_cast<unsigned char>(pick(rng_, 256));
        typed = (home && pick(rng_, 10) < 7) || (refused && pick(rng_, 2) == 0) ? validEntry(rng_, value)
                                                                                 : invalidEntry(rng_);
        line = (typed.size() > 1 && typed[1] == '\x7f' ? typed.substr(2) : typed) + "\n";
    } else {
        const std::optional<std::uint32_t> left = extractUnsigned(rest_).value;
        if (left && *left <= 255 && !home && !refused)
            return;  // would store into memory the run does not own
        ++stats_.fromRest;
    }
    const Extraction e = extractUnsigned(line);
    rest_ = e.value ? line.substr(e.end) : "";
    const std::size_t mark = session_.output().size();
    ++stats_.keys;
    send("W", pick(rng_, 2) == 0 ? "w" : "W");
    wait(VALUE_LABEL);
    if (!typed.empty())
        send("value line", typed + "\r");
    const bool stores = e.value && *e.value <= 255 && home;
    const std::string* message = !e.value || *e.value > 255 ? &INVALID_LINE : home ? nullptr : &FAILED_LINE;
    if (message != nullptr) {
        wait(PAUSE_LINE);
        const KeyPress k = anyKey(rng_);
        ++stats_.keys;
        send("pause key " + k.name, k.bytes);
        ++(e.value && *e.value <= 255 ? stats_.failed : stats_.invalid);
    }
    frames(1);
    const std::string said = session_.output().substr(mark);
    for (const std::string* text : {&INVALID_LINE, &FAILED_LINE})
        if ((said.find(*text) != std::string::npos) != (message == text))
            throw SoakFailure("wrong message after the entry (about \"" + *text + "\")");
    if (stores) {
        expected_[target - home_] = static_cast<char>(*e.value);
        ++stats_.stored;
        if (readMemory(target, 1)[0] != static_cast<char>(*e.value))
            throw SoakFailure("the value was not stored");
    }
    check();
}

// The terminal is given back as it was: modes, and colours reset last.
void SoakRun::expectTerminalBack(bool exitsCleanly, int signal)
{
    const int status = session_.waitExit(KEY_WAIT);
    if (status == -1)
        throw SoakFailure("the program did not end");
    if (exitsCleanly && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        throw SoakFailure("exit status " + std::to_string(status) + " instead of 0");
    if (!exitsCleanly && !(WIFSIGNALED(status) && WTERMSIG(status) == signal))
        throw SoakFailure("not ended by signal " + std::to_string(signal) + ": status " + std::to_string(status));
    if (exitsCleanly && session_.screen().text().find("Goodbye") == std::string::npos)
        throw SoakFailure("no farewell");
    if (!sameModes(session_.modes(), session_.modesAtStart()))
        throw SoakFailure("terminal modes not given back");
    const std::string& out = session_.output();
    if (out.compare(out.rfind("\x1b["), 4, "\x1b[0m") != 0 || session_.screen().fg() != 0 ||
        session_.screen().bg() != 0)
        throw SoakFailure("colours not reset last");
    if (!session_.screen().violations().empty())
        throw SoakFailure("control code reached the terminal: " + session_.screen().violations().front());
}

void SoakRun::quit()
{
    ++stats_.keys;
    send("quit", pick(rng_, 2) == 0 ? "x" : "X");
    expectTerminalBack(true, 0);
}

void SoakRun::endWithSignal()
{
    ++stats_.signals;
    const std::size_t how = pick(rng_, 6);
    if (how >= 2) {
        // Into the prompt, or on to the pause after an entry that is no value.
        send("W", "w");
        wait(VALUE_LABEL);
        if (blank(rest_))
            send("partial entry", how == 5 ? "-5x\r" : std::to_string(pick(rng_, 300)).substr(0, pick(rng_, 3)));
        if (how == 5 || !blank(rest_))
            wait(PAUSE_LINE);
    }
    switch (how) {
    case 0: ::kill(session_.pid(), SIGTERM); return expectTerminalBack(false, SIGTERM);
    case 1: ::kill(session_.pid(), SIGHUP); return expectTerminalBack(true, 0);
    case 2: send("Ctrl-C", "\x03"); return expectTerminalBack(false, SIGINT);
    case 3: ::kill(session_.pid(), SIGTERM); return expectTerminalBack(false, SIGTERM);
    case 4: ::kill(session_.pid(), SIGHUP); return expectTerminalBack(true, 0);
    default: ::kill(session_.pid(), SIGTERM); return expectTerminalBack(false, SIGTERM);
    }
}
