// Whether the program's process group can stop, read from /proc: it can while
// some member has a parent in the same session but outside the group, which
// is the shell that can continue it. The members looked at are the program
// and the line of parents it has within its group (a script that runs it).

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>

#include "common/system_posix.h"
#include "console/terminal_posix.h"

namespace {

struct Process {
    pid_t parent = 0;
    pid_t group = 0;
    pid_t session = 0;
};

// "/proc/<pid>/stat" without the library's formatting, which is not safe in a handler.
void statPath(pid_t pid, char (&path)[32])
{
    char digits[16];
    std::size_t n = 0;
    for (auto v = static_cast<unsigned long>(pid); n == 0 || v > 0; v /= 10)
        digits[n++] = static_cast<char>('0' + v % 10);
    std::size_t at = 0;
    for (const char c : "/proc/")
        if (c != '\0')
            path[at++] = c;
    while (n > 0)
        path[at++] = digits[--n];
    for (const char c : "/stat")
        path[at++] = c;  // the terminating zero too
}

bool readNumber(const char*& p, const char* end, pid_t& value)
{
    while (p < end && *p == ' ')
        ++p;
    if (p == end || *p < '0' || *p > '9')
        return false;
    long v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        v = v * 10 + (*p - '0');
    value = static_cast<pid_t>(v);
    return true;
}

bool processOf(pid_t pid, Process& process)
{
    char path[32];
    statPath(pid, path);
    const int fd = retryOnInterrupt([&path] { return ::open(path, O_RDONLY | O_CLOEXEC); });
    if (fd < 0)
        return false;
    char text[512];
    const ssize_t n = retryOnInterrupt([fd, &text] { return ::read(fd, text, sizeof text); });
    ::close(fd);
    if (n <= 0)
        return false;
    // "pid (name) state parent group session ...": the name may hold anything, ")" too.
    const char* const end = text + n;
    const char* p = end;
    while (p > text && p[-1] != ')')
        --p;
    if (p == text || p + 2 >= end)
        return false;
    p += 2;  // ") "
    while (p < end && *p != ' ')
        ++p;  // the state
    return readNumber(p, end, process.parent) && readNumber(p, end, process.group) &&
           readNumber(p, end, process.session);
}

}  // namespace

bool groupCanStop()
{
    Process self;
    if (!processOf(::getpid(), self))
        return true;  // not to be told: as if it could, which gives the terminal back
    for (int depth = 0; depth < 64 && self.parent > 1; ++depth) {
        Process parent;
        if (!processOf(self.parent, parent))
            return true;
        if (parent.group != self.group)
            return parent.session == self.session;
        self.parent = parent.parent;
    }
    return false;
}
