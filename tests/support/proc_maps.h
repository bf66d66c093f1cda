#pragma once
// The mappings of a live process, as /proc/PID/maps lists them.

#include <sys/types.h>

#include <string>
#include <vector>

struct Mapping {
    unsigned long long start;
    unsigned long long end;  // one past the last byte
    std::string perms;
    std::string name;
};
std::vector<Mapping> mappingsOf(pid_t pid);
// Where the mapping called `name` ends; 0 if there is none.
unsigned long long mappingEnd(pid_t pid, const std::string& name);
