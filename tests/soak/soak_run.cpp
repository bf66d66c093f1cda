// Moving about: the keys that change the view, scans, and the memory check at
// the end of a stream.

#include <memory>
#include <sstream>

#include "support/e2e_support.h"
#include "soak_session.h"

namespace {

std::string hex(const std::string& bytes)
{
    std::ostringstream out;
    for (const char c : bytes)
        out << ' ' << std::hex << (static_cast<unsigned>(c) & 0xffU);
    return out.str();
}

}  // namespace

SoakRun::SoakRun(std::uint64_t seed, bool mainframe, SoakStats& stats)
    : rng_(seed), mainframe_(mainframe), stats_(stats),
      session_({.args = mainframe ? std::vector<std::string>{"-mainframe"} : std::vector<std::string>{}})
{
}

void SoakRun::play(bool mayEndWithSignal)
{
    start();
    const std::size_t steps = 10 + pick(rng_, 50);
    for (std::size_t i = 0; i < steps; ++i) {
        if (std::chrono::steady_clock::now() - began_ > RUN_LIMIT)
            throw SoakFailure("the run took longer than its bound");
        step();
    }
    settleAndCheckMemory();
    if (mayEndWithSignal && pick(rng_, 4) == 0)
        endWithSignal();
    else
        quit();
}

std::string SoakRun::log() const
{
    std::string out;
    for (const std::string& line : log_)
        out += "  " + line + "\n";
    return out + "screen:\n" + session_.screen().text();
}

void SoakRun::note(const std::string& what, const std::string& bytes)
{
    log_.push_back(what + ":" + hex(bytes));
    if (log_.size() > 20)
        log_.pop_front();
}

void SoakRun::send(const std::string& what, const std::string& bytes)
{
    note(what, bytes);
    session_.send(bytes);
}

void SoakRun::frames(int count, std::chrono::milliseconds limit)
{
    for (int i = 0; i < count; ++i) {
        if (!session_.nextFrame(limit))
            throw SoakFailure("no frame after the keys (hang, or a key lost)");
        ++stats_.frames;
    }
    if (session_.framesSeen() != stats_.frames - framesBefore_)
        throw SoakFailure("more frames than keys that draw one");
}

void SoakRun::wait(const std::string& text)
{
    if (!session_.waitForText(text, KEY_WAIT))
        throw SoakFailure("never shown: " + text);
}

void SoakRun::start()
{
    began_ = std::chrono::steady_clock::now();
    framesBefore_ = stats_.frames;
    frames(1);
    home_ = blockStart_ = blockStartShown(session_);
    if (mainframe_) {
        expected_ = readMemory(home_, WELCOME.size());
        if (expected_ != WELCOME)
            throw SoakFailure("-mainframe does not start at s");
    } else {
        expected_ = readMemory(home_, 1);
        for (const Mapping& m : mappingsOf(session_.pid())) {
            if (m.name != "[stack]")
                continue;
            const std::string stack = readMemory(m.start, m.end - m.start);
            const std::size_t at = stack.rfind(WELCOME);
            if (at != std::string::npos)
                sAddress_ = m.start + at;
        }
    }
    check();
}

// The header and the address line must show what the model says.
void SoakRun::check()
{
    if (blockStartShown(session_) != blockStart_)
        throw SoakFailure("block start " + std::to_string(blockStartShown(session_)) + " shown, model has " +
                      std::to_string(blockStart_));
    if (selectedShown(session_) != selected())
        throw SoakFailure("selected address differs from the model");
    const Address d = selected() - home_;
    const Address distance = (d >> 63) != 0 ? 0 - d : d;  // read as signed, shown as its size
    if (distanceShown(session_) != distance)
        throw SoakFailure("distance from home differs from the model");
}

void SoakRun::apply(Effect e)
{
    switch (e) {
    case Effect::UP: row_ = (row_ + 14) % 15; break;
    case Effect::DOWN: row_ = (row_ + 1) % 15; break;
    case Effect::LEFT: col_ = (col_ + 15) % 16; break;
    case Effect::RIGHT: col_ = (col_ + 1) % 16; break;
    case Effect::PAGE_UP: blockStart_ -= 240; break;
    case Effect::PAGE_DOWN: blockStart_ += 240; break;
    case Effect::HOME: blockStart_ = home_; row_ = col_ = 0; break;
    default: break;
    }
}

void SoakRun::press(const std::vector<KeyPress>& keys)
{
    std::string bytes;
    std::string names;
    for (const KeyPress& k : keys) {
        bytes += k.bytes;
        names += (names.empty() ? "" : "+") + k.name;
    }
    stats_.keys += static_cast<long>(keys.size());
    send(names, bytes);
    frames(static_cast<int>(keys.size()));
    for (const KeyPress& k : keys)
        apply(k.effect);
    check();
}

KeyPress SoakRun::simpleKey()
{
    switch (pick(rng_, 6)) {
    case 0: return namedKey(rng_, pick(rng_, 2) == 0 ? "PageUp" : "PageDown");
    case 1: return functionKey(rng_);
    case 2: return junkByte(rng_);
    case 3: return modifiedArrow(rng_);
    case 4: return silentKey(rng_);
    default: return arrowKey(rng_);
    }
}

void SoakRun::scan()
{
    const bool up = pick(rng_, 2) == 0;
    const KeyPress k = namedKey(rng_, up ? "Insert" : "Delete");
    const std::size_t mark = session_.output().size();
    ++stats_.keys;
    ++stats_.scans;
    send(k.name, k.bytes);
    frames(1, SCAN_WAIT);
    if (session_.output().find(SCAN_MESSAGE, mark) == std::string::npos)
        throw SoakFailure("a scan without its message");
    const Address found = blockStartShown(session_);
    bool readable = found == blockStart_;
    for (const Mapping& m : mappingsOf(session_.pid()))
        readable = readable || (found >= m.start && found < m.end && m.perms[0] == 'r');
    if (!readable)
        throw SoakFailure("a scan landed on a block whose first byte is not readable");
    blockStart_ = found;
    check();
}

// Many pages at once, out of the home mapping: from `s` mostly up past the
// top of the stack, where writes are refused and scans have gaps to cross.
void SoakRun::pageAway()
{
    const bool down = pick(rng_, 4) != 0 || !mainframe_;
    std::vector<KeyPress> pages(5 + pick(rng_, 36), namedKey(rng_, down ? "PageDown" : "PageUp"));
    if (!mainframe_ && pick(rng_, 2) == 0)
        pages.assign(pages.size(), namedKey(rng_, "PageUp"));
    press(pages);
}

void SoakRun::step()
{
    const std::size_t roll = pick(rng_, 100);
    if (roll < 26)
        press({arrowKey(rng_)});
    else if (roll < 32)
        press({namedKey(rng_, pick(rng_, 2) == 0 ? "PageUp" : "PageDown")});
    else if (roll < 35)
        press({namedKey(rng_, "Home")});
    else if (roll < 40)
        scan();
    else if (roll < 50)
        write();
    else if (roll < 56) {
        // Back home first, where a value may really be stored.
        std::vector<KeyPress> keys{namedKey(rng_, "Home")};
        keys.resize(1 + (mainframe_ ? pick(rng_, 15) : 0), namedKey(rng_, "Right"));
        press(keys);
        write();
    }
    else if (roll < 59)
        press({loneEscape()});
    else if (roll < 64)
        press({silentKey(rng_), arrowKey(rng_)});
    else if (roll < 69)
        press({functionKey(rng_)});
    else if (roll < 71)
        press({namedKey(rng_, "End")});
    else if (roll < 79)
        press({junkByte(rng_)});
    else if (roll < 83)
        press({modifiedArrow(rng_)});
    else if (roll < 88)
        pageAway();
    else {
        std::vector<KeyPress> burst;
        for (std::size_t n = 2 + pick(rng_, 4); burst.size() < n;)
            burst.push_back(simpleKey());
        burst.push_back(arrowKey(rng_));  // a burst never ends in a key that draws nothing
        press(burst);
    }
}

// Nothing is drawn or written that the stream did not ask for.
void SoakRun::settleAndCheckMemory()
{
    session_.waitUntil([] { return false; }, 150ms);
    if (session_.framesSeen() != stats_.frames - framesBefore_)
        throw SoakFailure("a frame drawn with no key to cause it");
    if (readMemory(home_, expected_.size()) != expected_)
        throw SoakFailure(mainframe_ ? "s holds bytes the stream never wrote" : "the home byte changed unasked");
    if (sAddress_ != 0 && readMemory(sAddress_, WELCOME.size()) != WELCOME)
        throw SoakFailure("s changed though the run never went there");
}

std::string soakRun(std::uint64_t seed, bool mainframe, bool mayEndWithSignal, SoakStats& stats)
{
    ++stats.runs;
    std::unique_ptr<SoakRun> run;
    try {
        run = std::make_unique<SoakRun>(seed, mainframe, stats);
        run->play(mayEndWithSignal);
        return "";
    } catch (const std::exception& e) {
        std::ostringstream out;
        out << e.what() << "\nseed " << seed << (mainframe ? " from -mainframe" : " from the heap block")
            << "; last keys:\n"
            << (run ? run->log() : std::string());
        return out.str();
    }
}
