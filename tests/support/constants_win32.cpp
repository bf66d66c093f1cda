#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "support/constants.h"

namespace {

Address pageSize()
{
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize;
}

}  // namespace

const Address PAGE = pageSize();
