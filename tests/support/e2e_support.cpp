#include "support/e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>
#include <vector>

unsigned long long numberAfter(const PtySession& s, int row, const std::string& prefix, int base)
{
    const std::string text = s.line(row);
    const size_t at = text.find(prefix);
    if (at == std::string::npos)
        return static_cast<unsigned long long>(-1);
    return std::stoull(text.substr(at + prefix.size()), nullptr, base);
}

// A grid row's address ends where " :" begins.
int hexColumn(const PtySession& s, int r, int c)
{
    return hexColumn(s.line(FIRST_GRID_ROW + r).find(" :"), c);
}

int charColumn(const PtySession& s, int r, int c)
{
    return charColumn(s.line(FIRST_GRID_ROW + r).find(" :"), c);
}

std::string hexCell(const PtySession& s, int r, int c)
{
    return s.line(FIRST_GRID_ROW + r).substr(static_cast<size_t>(hexColumn(s, r, c)), 2);
}

std::string charCell(const PtySession& s, int r, int c)
{
    return s.screen().cell(FIRST_GRID_ROW + r, charColumn(s, r, c)).glyph;
}

bool highlighted(const PtySession& s, int screenRow, int screenCol)
{
    const Cell& cell = s.screen().cell(screenRow, screenCol);
    return cell.fg == 92 && cell.bg == 42;
}

std::string textOfOwnBytes(const PtySession& s, unsigned kept)
{
    std::string text;
    for (int row = 0; row < s.screen().rows(); ++row) {
        const int r = row - FIRST_GRID_ROW;
        std::vector<bool> blanked(static_cast<std::size_t>(s.screen().cols()));
        for (int c = 0; r >= 0 && r < 15 && c < 16; ++c) {
            if (static_cast<unsigned>(r * 16 + c) < kept)
                continue;
            const int hex = hexColumn(s, r, c);
            for (const int col : {hex, hex + 1, charColumn(s, r, c)})
                blanked.at(static_cast<std::size_t>(col)) = true;
        }
        std::string line;
        std::size_t keep = 0;
        for (int col = 0; col < s.screen().cols(); ++col) {
            const std::string& glyph = s.screen().cell(row, col).glyph;
            line += blanked[static_cast<std::size_t>(col)] ? std::string_view(" ") : std::string_view(glyph);
            if (line.back() != ' ')
                keep = line.size();
        }
        line.resize(keep);
        text += line + "\n";
    }
    return text;
}

void press(PtySession& s, const std::string& keys, int frames)
{
    s.send(keys);
    for (int i = 0; i < frames; ++i)
        ASSERT_TRUE(s.nextFrame()) << "no frame after keys; screen:\n" << s.screen().text();
}

void pageDown(PtySession& s, unsigned long long count)
{
    press(s, repeated(xterm::PAGE_DOWN, count), static_cast<int>(count));
}

void expectCleanScreen(const PtySession& s)
{
    EXPECT_TRUE(s.screen().violations().empty()) << "control code reached the terminal: " << s.screen().violations().front();
}

void expectEndedCleanly(PtySession& s)
{
    const int status = s.waitExit();
    ASSERT_NE(status, -1) << "still running";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_TRUE(sameModes(s.modes(), s.modesAtStart()));
    expectCleanScreen(s);
}

void quit(PtySession& s)
{
    s.send("x");
    expectEndedCleanly(s);
}

StackHome stackHome(PtySession& s)
{
    if (!s.nextFrame())
        return {};
    return {blockStartShown(s), mappingEnd(s.pid(), "[stack]")};
}

PipedRun runPiped(const std::vector<std::string>& args, const std::string& keys, const std::string& outputPath,
                  const std::string& term)
{
    int in[2];
    int out[2];
    int err[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0)
        return {};
    // All in the pipe before the program starts: it may end without reading
    // them, and a write after that would be a SIGPIPE here.
    [[maybe_unused]] const ssize_t sent = ::write(in[1], keys.data(), keys.size());
    ::close(in[1]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        const int target = outputPath.empty() ? out[1] : ::open(outputPath.c_str(), O_WRONLY);
        ::dup2(target, STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        for (const int fd : {in[0], out[0], out[1], err[0], err[1]})
            ::close(fd);
        if (term.empty())
            ::unsetenv("TERM");
        else
            ::setenv("TERM", term.c_str(), 1);
        std::vector<std::string> words{GLEANHEX_BINARY};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    for (const int fd : {in[0], out[1], err[1]})
        ::close(fd);
    PipedRun run;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* const texts[2] = {&run.output, &run.errors};
    for (int open = 2; open > 0 && ::poll(fds, 2, 5000) > 0;) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                texts[i]->append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    ::waitpid(pid, &run.status, 0);
    return run;
}
