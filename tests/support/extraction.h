#pragma once
// What an unsigned 32-bit stream extraction reads from the start of a value
// line, worked out apart from the stream: the oracle the soak and the write
// prompt's fuzz target hold the program to. Header-only, so that the fuzz
// target, which links no test library, can use it too.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

struct Extraction {
    std::optional<std::uint32_t> value;  // nothing when the extraction fails
    std::size_t end;                     // where it stopped reading
};

// Leading white space, an optional sign, decimal digits; a minus wraps modulo
// 2^32, and a number too large for 32 bits fails.
inline Extraction extractUnsigned(std::string_view text)
{
    const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    std::size_t i = 0;
    while (i < text.size() && space(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t digits = i;
    std::uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
        if (magnitude > UINT32_MAX)
            return {std::nullopt, i};
    }
    if (i == digits)
        return {std::nullopt, i};
    return {static_cast<std::uint32_t>(negative ? (std::uint64_t{1} << 32) - magnitude : magnitude), i};
}
