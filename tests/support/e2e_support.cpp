#include "support/e2e_support.h"

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
