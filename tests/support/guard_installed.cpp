// Every test program runs with the guard in place from its start, as the
// browser has it from the top of main.

#include "probe/guard.h"

namespace {

[[maybe_unused]] const bool installed = installGuard();

}  // namespace
