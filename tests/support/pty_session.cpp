#include "support/pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <utmp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

constexpr std::string_view FRAME_START = "\x1b[H\x1b[J";

constexpr int SHELL_SIGNALS[] = {SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU};

void defaultSignals()
{
    for (const int sig : SHELL_SIGNALS)
        ::signal(sig, SIG_DFL);
}

void say(const char* text)
{
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, std::strlen(text));
}

// What a job-control shell does for one job: `start` runs in a child of its
// own process group that owns the terminal, and the shell waits, taking the
// terminal back when the job stops. There it reads commands: "fg" continues
// the job in the foreground, "bg" in the background, and "kill" sends it
// SIGTERM and then SIGCONT, as a shell does for a stopped job.
[[noreturn]] void actAsShell(const std::function<void()>& start)
{
    for (const int sig : SHELL_SIGNALS)
        ::signal(sig, SIG_IGN);
    const int tty = STDERR_FILENO;  // standard input may be a pipe
    const pid_t job = ::fork();
    if (job == 0) {
        ::setpgid(0, 0);
        ::tcsetpgrp(tty, ::getpid());
        defaultSignals();
        start();
    }
    ::setpgid(job, job);
    ::tcsetpgrp(tty, job);
    bool inFront = true;
    std::string line;
    for (;;) {
        int status = 0;
        const pid_t changed = ::waitpid(job, &status, inFront ? WUNTRACED : WUNTRACED | WNOHANG);
        if (changed < 0)
            ::_exit(125);
        if (changed == job && WIFEXITED(status))
            ::_exit(WEXITSTATUS(status));
        if (changed == job && WIFSIGNALED(status))
            ::_exit(128 + WTERMSIG(status));
        if (changed == job && WIFSTOPPED(status)) {
            ::tcsetpgrp(tty, ::getpgrp());
            inFront = false;
            say("\r\n[1]+  Stopped\r\n$ ");
        }
        pollfd typed{tty, POLLIN, 0};
        if (inFront || ::poll(&typed, 1, 20) <= 0)
            continue;
        char c = 0;
        if (::read(tty, &c, 1) != 1)
            ::_exit(124);
        line += c == '\r' ? '\n' : c;  // as a line editor reads it, whatever the modes
        c = line.back();
        if (c != '\n')
            continue;
        if (line == "fg\n") {
            ::tcsetpgrp(tty, job);
            inFront = true;
        } else if (line == "kill\n") {
            ::kill(-job, SIGTERM);
        } else if (line != "bg\n") {
            say("$ ");
            line.clear();
            continue;
        }
        ::kill(-job, SIGCONT);
        line.clear();
    }
}

}  // namespace

std::string programPath()
{
    return GLEANHEX_BINARY;
}

PtySession::PtySession(SessionOptions options) : screen_(options.rows, options.cols)
{
    winsize size{};
    size.ws_row = static_cast<unsigned short>(options.rows);
    size.ws_col = static_cast<unsigned short>(options.cols);
    int keys[2] = {-1, -1};
    if (options.pipedKeys && ::pipe(keys) != 0)
        throw std::runtime_error("pipe failed");
    int slave = -1;
    if (::openpty(&master_, &slave, nullptr, nullptr, &size) != 0)
        throw std::runtime_error("openpty failed");
    // Read before the program can touch them: these are the modes it must give back.
    ::tcgetattr(master_, &startModes_);
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::close(master_);
        if (::login_tty(slave) != 0)
            ::_exit(126);
        if (options.pipedKeys) {
            ::dup2(keys[0], STDIN_FILENO);
            ::close(keys[0]);
            ::close(keys[1]);
        }
        // As a terminal starts its shell: nothing ignored or blocked is passed on
        // (a test run in the background ignores SIGINT and SIGQUIT).
        for (const int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGPIPE})
            ::signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (options.term.empty())
            ::unsetenv("TERM");
        else
            ::setenv("TERM", options.term.c_str(), 1);
        ::setenv("LANG", options.locale.c_str(), 1);
        ::setenv("LC_ALL", options.locale.c_str(), 1);
        std::vector<std::string> words = options.prefix;
        words.push_back(GLEANHEX_BINARY);
        words.insert(words.end(), options.args.begin(), options.args.end());
        if (!options.command.empty())
            words = options.command;
        if (options.wrapper) {
            std::string script;
            for (const std::string& word : words)
                script += "'" + word + "' ";
            words = {"/bin/sh", "-c", script + "; true"};
        }
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        const auto start = [&] {
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        };
        if (options.jobControl)
            actAsShell(start);
        start();
    }
    ::close(slave);
    if (options.pipedKeys) {
        ::close(keys[0]);
        keysWrite_ = keys[1];
    }
}

PtySession::~PtySession()
{
    if (status_ == -1 && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (keysWrite_ >= 0)
        ::close(keysWrite_);
    if (master_ >= 0)
        ::close(master_);
}

void PtySession::send(std::string_view bytes)
{
    const int fd = keysWrite_ >= 0 ? keysWrite_ : master_;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error("cannot send keys");
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

void PtySession::closeKeys()
{
    if (keysWrite_ >= 0)
        ::close(keysWrite_);
    keysWrite_ = -1;
}

void PtySession::resize(int rows, int cols)
{
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(cols);
    ::ioctl(master_, TIOCSWINSZ, &size);
}

bool PtySession::pump(std::chrono::milliseconds wait)
{
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0)
        return false;
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0)
        return false;  // EIO once the program has gone and closed its side
    output_.append(buffer, static_cast<size_t>(n));
    screen_.feed(std::string_view(buffer, static_cast<size_t>(n)));
    return true;
}

bool PtySession::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        if (!pump(std::min(left, std::chrono::milliseconds(50))) && status_ != -1)
            return done();
    }
    return true;
}

bool PtySession::waitForText(std::string_view text, std::chrono::milliseconds limit)
{
    return waitUntil([&] { return screen_.text().find(text) != std::string::npos; }, limit);
}

int PtySession::framesSeen() const
{
    return static_cast<int>(countOf(output_, FRAME_START));
}

bool PtySession::nextFrame(std::chrono::milliseconds limit)
{
    const int wanted = framesTaken_ + 1;
    // A frame is whole once its "Address: " line has been followed by the
    // attribute switch that closes every frame.
    const bool ok = waitUntil(
        [&] {
            if (framesSeen() < wanted)
                return false;
            size_t at = 0;
            for (int i = 0; i < wanted; ++i)
                at = output_.find(FRAME_START, at) + 1;
            // At the start of a line: the grid may show those letters from memory, never a line break.
            const size_t address = output_.find("\nAddress: ", at);
            return address != std::string::npos && output_.find('\x1b', address) != std::string::npos;
        },
        limit);
    if (ok)
        framesTaken_ = wanted;
    return ok;
}

namespace {

pid_t firstChild(pid_t parent)
{
    std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
    pid_t child = -1;
    children >> child;
    return child;
}

}  // namespace

pid_t PtySession::job() const
{
    return firstChild(pid_);
}

bool PtySession::programStopped() const
{
    const pid_t leader = firstChild(pid_);
    const pid_t wrapped = firstChild(leader);
    std::ifstream stat("/proc/" + std::to_string(wrapped > 0 ? wrapped : leader) + "/stat");
    std::string fields;
    std::getline(stat, fields);
    const size_t nameEnd = fields.rfind(')');  // the state follows the name, which may hold anything
    return nameEnd != std::string::npos && fields.compare(nameEnd, 3, ") T") == 0;
}

int PtySession::waitExit(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (status_ == -1) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        pump(std::chrono::milliseconds(10));
    }
    while (pump(std::chrono::milliseconds(20))) {
    }
    return status_;
}

termios PtySession::modes() const
{
    termios t{};
    ::tcgetattr(master_, &t);
    return t;
}

void PtySession::setModes(const termios& modes)
{
    ::tcsetattr(master_, TCSANOW, &modes);
}

bool keyMode(const termios& t)
{
    return (t.c_lflag & (ICANON | ECHO)) == 0;
}

std::size_t countOf(std::string_view text, std::string_view part, std::size_t from)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part, from); at != std::string_view::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

bool sameModes(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag && a.c_cflag == b.c_cflag &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}
