#pragma once
// What a build under AddressSanitizer has to know about itself.

#if defined(__SANITIZE_ADDRESS__)
#define GLEANHEX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GLEANHEX_ASAN 1
#endif
#endif
#ifndef GLEANHEX_ASAN
#define GLEANHEX_ASAN 0
#endif

#if GLEANHEX_ASAN
#include <sanitizer/lsan_interface.h>
#endif

// An allocation kept on purpose until the process ends is no leak.
inline void keptForTheWholeRun([[maybe_unused]] const void* allocation)
{
#if GLEANHEX_ASAN
    __lsan_ignore_object(allocation);
#endif
}
