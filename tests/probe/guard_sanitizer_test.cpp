// The guarded accesses are the one place that touches arbitrary bytes on purpose,
// and they are assembly, so AddressSanitizer never checks them: browsing across
// its redzones and freed blocks must read bytes, not stop the program with a
// report. Everything else stays instrumented. Passes trivially without ASan.

#include <gtest/gtest.h>

#include <memory>

#include "common/sanitizers.h"
#include "probe/guard.h"
#include "probe/snapshot.h"

#if GLEANHEX_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

bool poisoned([[maybe_unused]] const void* p)
{
#if GLEANHEX_ASAN
    return __asan_address_is_poisoned(p) != 0;
#else
    return true;
#endif
}

Address at(const void* p) { return reinterpret_cast<Address>(p); }

TEST(GuardUnderSanitizer, ReadsAHeapRedzoneWithoutAReport)
{
    const std::unique_ptr<char> block(new char('h'));
    const char* const past = block.get() + 1;
    ASSERT_TRUE(poisoned(past));
    EXPECT_EQ(readByteGuarded(at(block.get())), 'h');
    EXPECT_TRUE(readByteGuarded(at(past)).has_value());
    // What the default home block looks like on screen: itself and its neighbours.
    const Snapshot around = snapshotBlock(at(block.get()) - 112);
    EXPECT_EQ(around[7][0], 'h');
}

TEST(GuardUnderSanitizer, WritesIntoARedzoneWithoutAReport)
{
    const std::unique_ptr<char> block(new char('h'));
    char* const past = block.get() + 1;
    ASSERT_TRUE(poisoned(past));
    ASSERT_TRUE(writeByteGuarded(at(past), 0x5a));
    EXPECT_EQ(readByteGuarded(at(past)), 0x5a);
    EXPECT_EQ(*block, 'h');
}

TEST(GuardUnderSanitizer, ReadsAFreedBlockWithoutAReport)
{
    char* freed = new char[32];
    const Address address = at(freed);
    delete[] freed;
    ASSERT_TRUE(poisoned(reinterpret_cast<const void*>(address)));
    for (Address a = address; a < address + 32; ++a)
        EXPECT_TRUE(readByteGuarded(a).has_value());
}

}  // namespace
