#include "support/e2e_support.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

unsigned long long numberAfter(const PtySession& s, int row, const std::string& prefix, int base)
{
    const std::string text = s.line(row);
    const size_t at = text.find(prefix);
    if (at == std::string::npos)
        return static_cast<unsigned long long>(-1);
    return std::stoull(text.substr(at + prefix.size()), nullptr, base);
}

int hexColumn(const PtySession& s, int r, int c)
{
    const std::string text = s.line(FIRST_GRID_ROW + r);
    return static_cast<int>(text.find(" :")) + 3 + 3 * c;
}

int charColumn(const PtySession& s, int r, int c)
{
    return hexColumn(s, r, 15) + 5 + c;
}

bool highlighted(const PtySession& s, int screenRow, int screenCol)
{
    const Cell& cell = s.screen().cell(screenRow, screenCol);
    return cell.fg == 92 && cell.bg == 42;
}

std::string textOfOwnBytes(const PtySession& s, unsigned kept)
{
    std::string text;
    for (int row = 0; row < s.screen().rows(); ++row) {
        const int r = row - FIRST_GRID_ROW;
        std::vector<bool> blanked(static_cast<std::size_t>(s.screen().cols()));
        for (int c = 0; r >= 0 && r < 15 && c < 16; ++c) {
            if (static_cast<unsigned>(r * 16 + c) < kept)
                continue;
            const int hex = hexColumn(s, r, c);
            for (const int col : {hex, hex + 1, charColumn(s, r, c)})
                blanked.at(static_cast<std::size_t>(col)) = true;
        }
        std::string line;
        std::size_t keep = 0;
        for (int col = 0; col < s.screen().cols(); ++col) {
            const std::string& glyph = s.screen().cell(row, col).glyph;
            line += blanked[static_cast<std::size_t>(col)] ? std::string_view(" ") : std::string_view(glyph);
            if (line.back() != ' ')
                keep = line.size();
        }
        line.resize(keep);
        text += line + "\n";
    }
    return text;
}

void press(PtySession& s, const std::string& keys, int frames)
{
    s.send(keys);
    for (int i = 0; i < frames; ++i)
        ASSERT_TRUE(s.nextFrame()) << "no frame after keys; screen:\n" << s.screen().text();
}

void pageDown(PtySession& s, unsigned long long count)
{
    press(s, repeated(xterm::PAGE_DOWN, count), static_cast<int>(count));
}

void expectCleanScreen(const PtySession& s)
{
    EXPECT_TRUE(s.screen().violations().empty()) << "control code reached the terminal: " << s.screen().violations().front();
}

void expectEndedCleanly(PtySession& s)
{
    const int status = s.waitExit();
    ASSERT_NE(status, -1) << "still running";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_TRUE(sameModes(s.modes(), s.modesAtStart()));
    expectCleanScreen(s);
}

void quit(PtySession& s)
{
    s.send("x");
    expectEndedCleanly(s);
}

StackHome stackHome(PtySession& s)
{
    if (!s.nextFrame())
        return {};
    return {blockStartShown(s), mappingEnd(s.pid(), "[stack]")};
}
