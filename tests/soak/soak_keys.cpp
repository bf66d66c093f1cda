#include "soak_keys.h"

#include "support/terminal_keys.h"

namespace {

const std::string ESC = "\x1b";

Effect effectOf(const std::string& key)
{
    static const std::map<std::string, Effect> effects = {
        {"Up", Effect::UP},           {"Down", Effect::DOWN},          {"Left", Effect::LEFT},
        {"Right", Effect::RIGHT},     {"PageUp", Effect::PAGE_UP},     {"PageDown", Effect::PAGE_DOWN},
        {"Home", Effect::HOME},       {"Insert", Effect::SCAN_UP},     {"Delete", Effect::SCAN_DOWN},
    };
    const auto it = effects.find(key);
    return it == effects.end() ? Effect::NOTHING : it->second;
}

std::string letters(Rng& rng, std::size_t count)
{
    static const std::string pool = "abcdefghijklmnopqrstuvyzABCDEFGHIJKLMNOPQRSTUVYZ .,;:!?/*=_()[]{}<>'\"#%&|~^@";
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += pool[pick(rng, pool.size())];
    return out;
}

// Junk that is never all blanks, so a prompt never waits for another line.
std::string word(Rng& rng, std::size_t count)
{
    std::string out = letters(rng, count);
    if (out[0] == ' ')
        out[0] = '?';
    return out;
}

std::string blanks(Rng& rng) { return std::string(pick(rng, 3) == 0 ? pick(rng, 4) + 1 : 0, ' '); }

}  // namespace

std::size_t pick(Rng& rng, std::size_t n)
{
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
}

const KeyTable& keyTable()
{
    static const KeyTable table = [] {
        KeyTable t;
        for (const TerminalKey& row : terminalKeys())
            t[row.key].push_back(row.bytes);
        return t;
    }();
    return table;
}

KeyPress namedKey(Rng& rng, const std::string& key)
{
    const std::vector<std::string>& forms = keyTable().at(key);
    return {forms[pick(rng, forms.size())], effectOf(key), key};
}

KeyPress arrowKey(Rng& rng)
{
    static const char* const arrows[] = {"Up", "Down", "Left", "Right"};
    return namedKey(rng, arrows[pick(rng, 4)]);
}

KeyPress modifiedArrow(Rng& rng)
{
    static const char finals[] = {'A', 'B', 'C', 'D'};
    static const Effect effects[] = {Effect::UP, Effect::DOWN, Effect::RIGHT, Effect::LEFT};
    const std::size_t i = pick(rng, 4);
    const std::string modifier = std::to_string(2 + pick(rng, 7));  // Shift .. Ctrl+Alt+Shift
    return {ESC + "[1;" + modifier + finals[i], effects[i], "modified arrow"};
}

KeyPress functionKey(Rng& rng)
{
    return namedKey(rng, "F" + std::to_string(1 + pick(rng, 12)));
}

KeyPress junkByte(Rng& rng)
{
    for (;;) {
        const auto b = static_cast<unsigned char>(pick(rng, 128));
        // Signal characters stay out: Ctrl-C, Ctrl-\ and Ctrl-Z act on the process.
        if (b == 0x03 || b == 0x1c || b == 0x1a || b == 0x1b || b == 'w' || b == 'W' || b == 'x' || b == 'X')
            continue;
        return {std::string(1, static_cast<char>(b)), Effect::NOTHING, "junk byte"};
    }
}

KeyPress silentKey(Rng& rng)
{
    static const char* const forms[] = {"\x1bx", "\x1bX", "\x1bw", "\x1bW", "\x1b\x61", "\x1b\x7f", "\x1b\r",
                                        "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\x1b\xc3\xa9"};
    return {forms[pick(rng, std::size(forms))], Effect::NOTHING, "alt or non-ascii"};
}

KeyPress loneEscape()
{
    return {ESC, Effect::NOTHING, "escape"};
}

KeyPress anyKey(Rng& rng)
{
    switch (pick(rng, 7)) {
    case 0: return arrowKey(rng);
    case 1: return functionKey(rng);
    case 2: return silentKey(rng);
    case 3: return loneEscape();
    case 4: return {std::string(1, "xXwW"[pick(rng, 4)]), Effect::NOTHING, "quit or write key"};
    case 5: return namedKey(rng, pick(rng, 2) == 0 ? "Delete" : "PageDown");
    default: return junkByte(rng);
    }
}

bool blank(const std::string& text)
{
    return text.find_first_not_of(" \t\n\v\f\r") == std::string::npos;
}

std::string validEntry(Rng& rng, unsigned char value)
{
    std::string number = std::to_string(value);
    switch (pick(rng, 8)) {
    case 0: number = "+" + number; break;
    case 1: number = std::string(1 + pick(rng, 5), '0') + number; break;
    case 2:  // taken modulo 2^32
        if (value == 0)
            number = "-0";
        else
            number = "-" + std::to_string((std::uint64_t{1} << 32) - value);
        break;
    default: break;
    }
    std::string entry = blanks(rng) + number;
    if (pick(rng, 4) == 0)
        entry += letters(rng, 1 + pick(rng, 6));  // stays behind for the next prompt
    if (pick(rng, 6) == 0)
        entry = letters(rng, 1) + "\x7f" + entry;  // rubbed out before the value
    return entry;
}

std::string invalidEntry(Rng& rng)
{
    std::string entry;
    switch (pick(rng, 6)) {
    case 0: entry = std::to_string(256 + pick(rng, 100000)); break;
    case 1: entry = std::to_string(256 + std::uniform_int_distribution<std::uint64_t>(0, UINT32_MAX - 256)(rng)); break;
    case 2: entry = "-" + std::to_string(1 + pick(rng, 1000000)); break;
    case 3: entry = std::string(11 + pick(rng, 20), '9'); break;
    case 4: entry = std::string(1, "+-"[pick(rng, 2)]) + letters(rng, pick(rng, 4)); break;
    default: entry = word(rng, 1 + pick(rng, 12)); break;
    }
    if (pick(rng, 4) == 0)
        entry += letters(rng, 1 + pick(rng, 4));
    return blanks(rng) + entry;
}
