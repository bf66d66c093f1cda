#include "support/terminal_keys.h"

#include <fstream>
#include <sstream>

const std::vector<TerminalKey>& terminalKeys()
{
    static const std::vector<TerminalKey> rows = [] {
        std::vector<TerminalKey> all;
        std::ifstream in(GLEANHEX_TEST_DATA "/terminal-keys.tsv");
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#')
                continue;
            std::istringstream fields(line);
            TerminalKey row;
            std::getline(fields, row.terminal, '\t');
            std::getline(fields, row.mode, '\t');
            std::getline(fields, row.key, '\t');
            for (unsigned byte = 0; fields >> std::hex >> byte;)
                row.bytes.push_back(static_cast<char>(byte));
            all.push_back(row);
        }
        return all;
    }();
    return rows;
}
