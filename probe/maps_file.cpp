#include "probe/maps_file.h"

#include <cerrno>

namespace {

// Where a line's reading has got to.
enum class Field { FIRST, END, PERMS, REST };

struct Line {
    Field field = Field::FIRST;
    Address first = 0;
    Address end = 0;
    unsigned digits = 0;
    unsigned perms = 0;  // permission letters seen
    unsigned protection = 0;
    bool usable = true;
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

struct Listing {
    std::span<MapEntry> out;
    std::size_t count = 0;
    bool ok = true;
};

// A line is complete once its permissions are read.
void finish(Listing& listing, const Line& line)
{
    if (!line.usable || line.field != Field::REST || line.end <= line.first)
        return;
    if (listing.count > 0 && listing.out[listing.count - 1].last >= line.first) {
        listing.ok = false;
        return;
    }
    if (listing.count == listing.out.size()) {
        listing.ok = false;
        return;
    }
    const bool accessible = (line.protection & (ENTRY_READ | ENTRY_WRITE | ENTRY_EXEC)) != 0;
    listing.out[listing.count++] = {line.first, line.end - 1, accessible, line.protection};
}

void hex(Line& line, Address& value, char c, Field next, char separator)
{
    const int d = hexDigit(c);
    if (d >= 0) {
        if (++line.digits > 2 * sizeof(Address))
            line.usable = false;
        value = value << 4 | static_cast<Address>(d);
    } else if (c == separator && line.digits > 0) {
        line.field = next;
        line.digits = 0;
    } else {
        line.usable = false;
        line.field = Field::REST;
    }
}

void take(Listing& listing, Line& line, char c)
{
    if (c == '\n') {
        finish(listing, line);
        line = Line{};
        return;
    }
    switch (line.field) {
    case Field::FIRST: hex(line, line.first, c, Field::END, '-'); break;
    case Field::END: hex(line, line.end, c, Field::PERMS, ' '); break;
    case Field::PERMS:
        // "rwxp": read, write, execute, then shared or private.
        if (c != '-' && c != 'p')
            line.protection |= 1U << line.perms;
        if (++line.perms == 4)
            line.field = Field::REST;
        break;
    case Field::REST: break;
    }
}

}  // namespace

std::optional<std::size_t> readMapsListing(ReadSome read, void* context, std::span<char> chunk,
                                           std::span<MapEntry> out)
{
    Listing listing{out};
    Line line;
    for (;;) {
        const long n = read(context, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        for (long i = 0; i < n && listing.ok; ++i)
            take(listing, line, chunk[static_cast<std::size_t>(i)]);
        if (!listing.ok)
            return std::nullopt;
    }
    finish(listing, line);
    if (!listing.ok)
        return std::nullopt;
    return listing.count;
}
