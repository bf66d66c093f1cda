#pragma once
// What the soak types: real terminals' key sequences, junk keys, and value
// lines for the write prompt, each with what the browser must make of it.

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

using Rng = std::mt19937_64;

// Every sequence each key has among the terminals in the key table.
using KeyTable = std::map<std::string, std::vector<std::string>>;
const KeyTable& keyTable();

// The browse loop's view of one key: what it does. Every key is one frame.
enum class Effect { UP, DOWN, LEFT, RIGHT, PAGE_UP, PAGE_DOWN, HOME, SCAN_UP, SCAN_DOWN, WRITE, QUIT, NOTHING };

struct KeyPress {
    std::string bytes;
    Effect effect = Effect::NOTHING;
    std::string name;
};

std::size_t pick(Rng& rng, std::size_t n);

// One key of a kind, in the sequence of a randomly chosen terminal.
KeyPress namedKey(Rng& rng, const std::string& key);
KeyPress arrowKey(Rng& rng);
// Cursor keys with Shift, Ctrl or Alt as xterm-like terminals send them: the key itself.
KeyPress modifiedArrow(Rng& rng);
KeyPress functionKey(Rng& rng);
// A printable or control byte that means nothing to the browser (never w, x or
// a signal character).
KeyPress junkByte(Rng& rng);
// Alt with a letter (x and w among them), or a non-ASCII character: consumed whole.
KeyPress silentKey(Rng& rng);
KeyPress loneEscape();
// Any single key, as the pause after a message takes it.
KeyPress anyKey(Rng& rng);

bool blank(const std::string& text);

// A value line (without its Enter) whose entry stores `value`, with the forms
// a user may type: leading blanks, a plus or zeros, minus wrapping round,
// letters after the number.
std::string validEntry(Rng& rng, unsigned char value);
// A value line no byte is stored from: too large, negative, not a number, junk.
std::string invalidEntry(Rng& rng);
