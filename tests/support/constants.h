#pragma once
// The page size under the name the scan tests know it by; the rest ask pageBytes().

#include "probe/guard.h"

inline const Address PAGE = pageBytes();
