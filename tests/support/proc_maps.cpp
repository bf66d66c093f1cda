#include "support/proc_maps.h"

#include <fstream>
#include <sstream>

std::vector<Mapping> mappingsOf(pid_t pid)
{
    std::vector<Mapping> out;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    for (std::string text; std::getline(maps, text);) {
        std::istringstream in(text);
        Mapping m{};
        std::string range, offset, device, inode;
        in >> range >> m.perms >> offset >> device >> inode;
        std::getline(in >> std::ws, m.name);
        m.start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
        m.end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
        out.push_back(m);
    }
    return out;
}

unsigned long long mappingEnd(pid_t pid, const std::string& name)
{
    for (const Mapping& m : mappingsOf(pid))
        if (m.name == name)
            return m.end;
    return 0;
}
