#pragma once
// Three habits of every POSIX call here: a call cut short by a signal is made
// again, a stretch of code can hold signals off, and a signal handler leaves
// errno as it found it. All of them are async-signal-safe.

#include <signal.h>

#include <cerrno>
#include <initializer_list>

// Calls `call` again for as long as a signal cuts it short; its last result.
template <typename Call>
auto retryOnInterrupt(Call call)
{
    auto result = call();
    while (result < 0 && errno == EINTR)
        result = call();
    return result;
}

// A set of signals, built in place.
inline sigset_t signalSet(std::initializer_list<int> signals)
{
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : signals)
        sigaddset(&set, sig);
    return set;
}

// Holds `set` off while it lives, and lets in again only what it held. Where
// the mask cannot be changed (it never fails with a valid set) the code runs
// unheld rather than not at all.
struct SignalsHeld {
    explicit SignalsHeld(const sigset_t& set) : held(::sigprocmask(SIG_BLOCK, &set, &before) == 0) {}
    ~SignalsHeld()
    {
        if (held)
            ::sigprocmask(SIG_SETMASK, &before, nullptr);
    }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

    sigset_t before{};
    bool held;
};

// A handler's calls may set errno; the code it interrupted must not see that.
struct ErrnoKept {
    ErrnoKept() = default;
    ~ErrnoKept() { errno = saved; }
    ErrnoKept(const ErrnoKept&) = delete;
    ErrnoKept& operator=(const ErrnoKept&) = delete;

    int saved = errno;
};
