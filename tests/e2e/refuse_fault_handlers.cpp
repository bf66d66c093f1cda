// Preloaded into the program by a test: the system refuses any handler for
// SIGSEGV and SIGBUS, as a sandbox may. Asking what is installed still works.

#include <signal.h>

#include <cerrno>

extern "C" {

int __sigaction(int sig, const struct sigaction* act, struct sigaction* old);

int sigaction(int sig, const struct sigaction* act, struct sigaction* old)
{
    if (act != nullptr && (sig == SIGSEGV || sig == SIGBUS)) {
        errno = EPERM;
        return -1;
    }
    return __sigaction(sig, act, old);
}

}  // extern "C"
