#pragma once
// Between the soak's files only: one run's session, its model of the browser,
// and the checks made along the way. A failed check throws SoakFailure.

#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/e2e_support.h"
#include "support/prompt_texts.h"
#include "soak_keys.h"
#include "soak_run.h"

using namespace std::chrono_literals;

constexpr auto KEY_WAIT = 5s;
constexpr auto SCAN_WAIT = 20s;
constexpr auto RUN_LIMIT = 60s;

struct SoakFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class SoakRun {
public:
    using Address = unsigned long long;

    SoakRun(std::uint64_t seed, bool mainframe, SoakStats& stats);
    void play(bool mayEndWithSignal);
    // The last keys sent and the screen, to replay a failure.
    std::string log() const;

private:
    Address selected() const { return blockStart_ + row_ * 16ULL + col_; }
    void note(const std::string& what, const std::string& bytes);
    void send(const std::string& what, const std::string& bytes);
    void frames(int count, std::chrono::milliseconds limit = KEY_WAIT);
    void wait(const std::string& text);
    std::string readMemory(Address at, std::size_t n) const;

    void start();
    void check();
    void apply(Effect e);
    void press(const std::vector<KeyPress>& keys);
    KeyPress simpleKey();
    void scan();
    void pageAway();
    void step();
    void settleAndCheckMemory();

    bool inHome(Address a) const;
    bool surelyUnwritable(Address a) const;
    void write();
    void expectTerminalBack(bool exitsCleanly, int signal);
    void quit();
    void endWithSignal();

    Rng rng_;
    bool mainframe_;
    SoakStats& stats_;
    PtySession session_;
    std::chrono::steady_clock::time_point began_;
    long framesBefore_ = 0;
    Address home_ = 0;
    Address blockStart_ = 0;
    unsigned row_ = 0;
    unsigned col_ = 0;
    std::string expected_;  // s, or the heap home byte, as the stream left it
    Address sAddress_ = 0;  // s when browsing starts on the heap
    std::string rest_;      // what the last value line left for the next prompt
    std::deque<std::string> log_;
};
