// The kernel's text listing of mappings, read from a source that serves it in
// pieces, interrupts every read once, and may fail.

#include "probe/maps_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A listing served a few bytes at a time, each read interrupted once first;
// from `failAt` on, reads fail outright.
struct Served {
    std::string text;
    std::size_t at = 0;
    std::size_t piece = 7;
    std::size_t failAt = std::string::npos;
    bool interrupted = false;

    static long read(void* context, char* buffer, std::size_t size)
    {
        auto& self = *static_cast<Served*>(context);
        self.interrupted = !self.interrupted;
        if (self.at >= self.failAt || self.interrupted) {
            errno = self.at >= self.failAt ? EIO : EINTR;
            return -1;
        }
        const std::size_t n = std::min({size, self.piece, self.text.size() - self.at});
        self.text.copy(buffer, n, self.at);
        self.at += n;
        return static_cast<long>(n);
    }
};

std::optional<std::size_t> readServed(Served& served, std::span<MapEntry> out)
{
    std::array<char, 64> chunk{};
    return readMapsListing(Served::read, &served, chunk, out);
}

TEST(MapsListing, ReadWholeThroughInterruptionsWhateverTheLinesLength)
{
    Served served;
    served.text = "10000-11000 r--p 00000000 08:01 12 /usr/bin/x\n"
                  "11000-13000 ---p 00000000 00:00 0 \n"
                  "13000-14000 -w-s 00000000 00:00 0 " + std::string(5000, 'n') + "\n"
                  "zz-14000 r--p not a mapping\n"
                  "7ff00000-7ff21000 rw-p 00000000 00:00 0                          [stack]";
    std::vector<MapEntry> out(8);
    const std::optional<std::size_t> count = readServed(served, out);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(out[0].first, 0x10000u);
    EXPECT_EQ(out[0].last, 0x10fffu);
    EXPECT_TRUE(out[0].accessible);
    EXPECT_FALSE(out[1].accessible);
    EXPECT_TRUE(out[2].accessible);
    EXPECT_EQ(out[3].first, 0x7ff00000u);
    EXPECT_EQ(out[3].last, 0x7ff20fffu);
}

TEST(MapsListing, AFailedReadTooManyMappingsOrDisorderGiveNoMap)
{
    std::string text;
    for (int i = 1; i <= 100; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%x-%x r--p 00000000 00:00 0\n", i * 0x2000, i * 0x2000 + 0x1000);
        text += line;
    }
    std::vector<MapEntry> out(100);
    Served whole{text};
    EXPECT_EQ(readServed(whole, out), 100u);
    Served failing{text};
    failing.failAt = text.size() / 2;
    EXPECT_EQ(readServed(failing, out), std::nullopt);
    Served tooMany{text};
    EXPECT_EQ(readServed(tooMany, std::span<MapEntry>(out).first(99)), std::nullopt);
    Served disordered{text + "1000-2000 r--p 00000000 00:00 0\n"};
    std::vector<MapEntry> room(200);
    EXPECT_EQ(readServed(disordered, room), std::nullopt);
}

}  // namespace
