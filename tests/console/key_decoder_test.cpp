// The key decoder against the bytes real terminals send: every key a user can
// press must arrive as the one code the browse loop acts on, and nothing a
// terminal sends may leak bytes that act as plain keys.

#include "console/key_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "console/console.h"
#include "support/terminal_keys.h"

namespace {

using Codes = std::vector<int>;

// The code a finished key carries; none for a key that means nothing.
Codes codesOf(const Key& key)
{
    return key.done && key.code != KEY_OTHER ? Codes{key.code} : Codes{};
}

// Feeds `bytes` one at a time and collects every code the finished keys carry.
// `finish` marks the end of input (or the pause after a lone Escape).
Codes decode(const std::string& bytes, bool finish = true)
{
    KeyDecoder decoder;
    Codes codes;
    const auto take = [&](const Key& key) {
        const Codes more = codesOf(key);
        codes.insert(codes.end(), more.begin(), more.end());
    };
    for (const char c : bytes)
        take(feedKeyByte(decoder, static_cast<std::uint8_t>(c)));
    if (finish)
        take(finishKey(decoder));
    return codes;
}

Codes ext(int code) { return {code}; }
Codes fn(int code) { return {code}; }

const std::map<std::string, Codes>& expectedCodes()
{
    static const std::map<std::string, Codes> table = {
        {"Up", ext(KEY_UP)},         {"Down", ext(KEY_DOWN)},     {"Left", ext(KEY_LEFT)},
        {"Right", ext(KEY_RIGHT)},   {"Home", ext(KEY_HOME)},     {"End", ext(KEY_END)},
        {"PageUp", ext(KEY_PAGE_UP)}, {"PageDown", ext(KEY_PAGE_DOWN)}, {"Insert", ext(KEY_INSERT)},
        {"Delete", ext(KEY_DELETE)}, {"F1", fn(KEY_F1)},         {"F2", fn(KEY_F1 + 1)},
        {"F3", fn(KEY_F1 + 2)},      {"F4", fn(KEY_F1 + 3)},     {"F5", fn(KEY_F1 + 4)},
        {"F6", fn(KEY_F1 + 5)},      {"F7", fn(KEY_F1 + 6)},     {"F8", fn(KEY_F1 + 7)},
        {"F9", fn(KEY_F1 + 8)},      {"F10", fn(KEY_F1 + 9)},    {"F11", fn(KEY_F1 + 10)},
        {"F12", fn(KEY_F12)},
    };
    return table;
}

TEST(KeyDecoder, EveryKeyOfEveryTerminalDecodes)
{
    const auto rows = terminalKeys();
    ASSERT_GE(rows.size(), 200U) << "terminal key table missing or short";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.terminal + " " + row.mode + " " + row.key);
        ASSERT_EQ(expectedCodes().count(row.key), 1U);
        // The key is complete with its last byte: no pause is needed to see it.
        KeyDecoder decoder;
        for (std::size_t i = 0; i + 1 < row.bytes.size(); ++i)
            EXPECT_FALSE(feedKeyByte(decoder, static_cast<std::uint8_t>(row.bytes[i])).done);
        const Key key = feedKeyByte(decoder, static_cast<std::uint8_t>(row.bytes.back()));
        ASSERT_TRUE(key.done);
        EXPECT_EQ(codesOf(key), expectedCodes().at(row.key));
        EXPECT_FALSE(keyStarted(decoder));
    }
}

TEST(KeyDecoder, AllKeysOfATerminalBackToBackAreAllDecoded)
{
    // Key repeat and paste deliver many sequences in one read.
    std::map<std::string, std::pair<std::string, Codes>> streams;
    for (const auto& row : terminalKeys()) {
        auto& [bytes, codes] = streams[row.terminal + " " + row.mode];
        bytes += row.bytes;
        const Codes& want = expectedCodes().at(row.key);
        codes.insert(codes.end(), want.begin(), want.end());
    }
    for (const auto& [name, stream] : streams) {
        SCOPED_TRACE(name);
        EXPECT_EQ(decode(stream.first), stream.second);
    }
    std::string repeated;
    Codes want;
    for (int i = 0; i < 500; ++i) {
        repeated += i % 2 == 0 ? "\x1b[B" : "\x1bOA";
        want.push_back(i % 2 == 0 ? KEY_DOWN : KEY_UP);
    }
    repeated += "x";
    want.push_back('x');
    EXPECT_EQ(decode(repeated), want);
}

TEST(KeyDecoder, ModifiedKeysDecodeAsTheKeyItself)
{
    EXPECT_EQ(decode("\x1b[1;5A"), ext(KEY_UP));
    EXPECT_EQ(decode("\x1b[1;2B"), ext(KEY_DOWN));
    EXPECT_EQ(decode("\x1b[1;3D"), ext(KEY_LEFT));
    EXPECT_EQ(decode("\x1b[1;6C"), ext(KEY_RIGHT));
    EXPECT_EQ(decode("\x1b[1;5H"), ext(KEY_HOME));
    EXPECT_EQ(decode("\x1b[1;5F"), ext(KEY_END));
    EXPECT_EQ(decode("\x1b[5;2~"), ext(KEY_PAGE_UP));
    EXPECT_EQ(decode("\x1b[6;5~"), ext(KEY_PAGE_DOWN));
    EXPECT_EQ(decode("\x1b[2;3~"), ext(KEY_INSERT));
    EXPECT_EQ(decode("\x1b[3;5~"), ext(KEY_DELETE));
    EXPECT_EQ(decode("\x1bO5A"), ext(KEY_UP));
    EXPECT_EQ(decode("\x1bO2P"), fn(KEY_F1));
    EXPECT_EQ(decode("\x1b[1;2P"), fn(KEY_F1));
    EXPECT_EQ(decode("\x1b[15;5~"), fn(KEY_F1 + 4));
    EXPECT_EQ(decode("\x1b[24;2~"), fn(KEY_F12));
    // Insert and Delete as a terminal sends them outside keypad-transmit mode.
    EXPECT_EQ(decode("\x1b[4h"), ext(KEY_INSERT));
    EXPECT_EQ(decode("\x1b[P"), ext(KEY_DELETE));
    // rxvt marks Control and Control+Shift with other final bytes.
    EXPECT_EQ(decode("\x1b[5^"), ext(KEY_PAGE_UP));
    EXPECT_EQ(decode("\x1b[7@"), ext(KEY_HOME));
    EXPECT_EQ(decode("\x1b[a"), ext(KEY_UP));
    EXPECT_EQ(decode("\x1bOd"), ext(KEY_LEFT));
}

TEST(KeyDecoder, RxvtShiftedKeysEndAtTheDollar)
{
    // '$' is where rxvt ends Shift+Insert, Shift+Delete, Shift+PgUp...: the key is
    // complete there, and the byte after it is the next key, not part of this one.
    EXPECT_EQ(decode("\x1b[2$"), ext(KEY_INSERT));
    EXPECT_EQ(decode("\x1b[3$"), ext(KEY_DELETE));
    EXPECT_EQ(decode("\x1b[5$"), ext(KEY_PAGE_UP));
    EXPECT_EQ(decode("\x1b[6$"), ext(KEY_PAGE_DOWN));
    EXPECT_EQ(decode("\x1b[7$"), ext(KEY_HOME));
    EXPECT_EQ(decode("\x1b[8$"), ext(KEY_END));
    EXPECT_EQ(decode("\x1b[3$x", false), (Codes{KEY_DELETE, 'x'}));
}

TEST(KeyDecoder, ForeignSequencesAreSwallowedWhole)
{
    const char* const foreign[] = {
        "\x1b[Z",         // Shift+Tab
        "\x1b[200~",      // paste start
        "\x1b[99~",       // no such key
        "\x1b[~",         // no number
        "\x1b[?1;2c",     // a device attribute report
        "\x1b[>0;95;0c",  // secondary report
        "\x1b[1 q",       // intermediate byte
        "\x1b[I",         // focus in
        "\x1bOz",         // no such keypad key
        "\x1bO?A",        // private marker in SS3
        "\x1b[[Z",        // no such console function key
    };
    for (const char* bytes : foreign) {
        SCOPED_TRACE(::testing::PrintToString(std::string(bytes)));
        EXPECT_EQ(decode(bytes), Codes{});
        EXPECT_EQ(decode(std::string(bytes) + "q"), Codes{'q'}) << "the next key must survive";
    }
}

TEST(KeyDecoder, AltWithAKeyIsConsumedAndNeverActsAsThatKey)
{
    for (const char* bytes : {"\x1bx", "\x1bX", "\x1bw", "\x1bW", "\x1b" "a", "\x1b\r", "\x1b\x7f", "\x1b\x01"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(bytes)));
        EXPECT_EQ(decode(bytes), Codes{});
        EXPECT_EQ(decode(std::string(bytes) + "\x1b[A"), ext(KEY_UP));
    }
    EXPECT_EQ(decode("\x1b\xc3\xa9x"), Codes{'x'}) << "Alt with a non-ASCII character";
}

TEST(KeyDecoder, SequencesCutShortLeakNothing)
{
    // Input ends (or pauses) in the middle of a sequence.
    for (const char* bytes : {"\x1b[", "\x1b[1", "\x1b[1;", "\x1b[1;5", "\x1bO", "\x1bO5", "\x1b[[", "\x1b[?1"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(bytes)));
        EXPECT_EQ(decode(bytes), Codes{});
    }
    // A new sequence or a control byte interrupts the old one; only the newcomer counts.
    EXPECT_EQ(decode("\x1b[1;\x1b[A"), ext(KEY_UP));
    EXPECT_EQ(decode("\x1bO\x1b[B"), ext(KEY_DOWN));
    EXPECT_EQ(decode("\x1b[5\r"), Codes{13});
    EXPECT_EQ(decode("\x1b[[\x1b[6~"), ext(KEY_PAGE_DOWN));
}

TEST(KeyDecoder, HugeParametersNameNoKey)
{
    // However many digits arrive, an out-of-range number must not come round to a real key.
    for (const char* bytes : {"\x1b[65539~", "\x1b[65537~", "\x1b[65541~", "\x1b[131075~", "\x1b[99999999999~"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(bytes)));
        EXPECT_EQ(decode(bytes), Codes{});
    }
}

TEST(KeyDecoder, LoneEscapeIsThePlainEscapeKey)
{
    KeyDecoder decoder;
    EXPECT_FALSE(feedKeyByte(decoder, 0x1b).done);
    EXPECT_TRUE(keyStarted(decoder));
    const Key key = finishKey(decoder);
    EXPECT_TRUE(key.done);
    EXPECT_EQ(codesOf(key), Codes{27});
    EXPECT_FALSE(keyStarted(decoder));
    EXPECT_FALSE(finishKey(decoder).done) << "nothing left to finish";

    EXPECT_EQ(decode("\x1b\x1b"), (Codes{27, 27}));
    EXPECT_EQ(decode("\x1b\x1b[A"), (Codes{27, KEY_UP}));
}

TEST(KeyDecoder, NonAsciiCharacterIsOneKeyThatDoesNothing)
{
    for (const char* bytes : {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(bytes)));
        const std::string s(bytes);
        KeyDecoder decoder;
        for (std::size_t i = 0; i + 1 < s.size(); ++i)
            EXPECT_FALSE(feedKeyByte(decoder, static_cast<std::uint8_t>(s[i])).done);
        const Key key = feedKeyByte(decoder, static_cast<std::uint8_t>(s.back()));
        EXPECT_TRUE(key.done);
        EXPECT_EQ(key.code, KEY_OTHER);
        EXPECT_EQ(decode(s + "x"), Codes{'x'});
    }
    EXPECT_EQ(decode("\xc3x"), Codes{'x'}) << "a character cut short gives way to the next key";
}

TEST(KeyDecoder, PlainBytes)
{
    EXPECT_EQ(decode(std::string(1, '\0')), Codes{0});
    EXPECT_EQ(decode("\x7f"), Codes{8});
    EXPECT_EQ(decode("xXwW\r\t"), (Codes{'x', 'X', 'w', 'W', '\r', '\t'}));
    // Every other single byte: ASCII as itself, anything above as no key at all.
    for (int b = 1; b < 256; ++b) {
        if (b == 0x1b || b == 0x7f)
            continue;
        EXPECT_EQ(decode(std::string(1, static_cast<char>(b))), b < 0x80 ? Codes{b} : Codes{}) << "byte " << b;
    }
}

}  // namespace
