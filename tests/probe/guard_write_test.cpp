// The guarded write as W uses it: a refused store changes no byte anywhere
// around its target, a good one changes exactly its byte, and the program's
// own code is as safe as its constant data.

#include "probe/guard.h"

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "support/constants.h"

namespace {


// Three pages of a known pattern; the middle one is where the tests aim.
class PatternPages : public ::testing::Test {
protected:
    void SetUp() override
    {
        void* const map = ::mmap(nullptr, 3 * PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(map, MAP_FAILED);
        base_ = static_cast<unsigned char*>(map);
        for (size_t i = 0; i < 3 * PAGE; ++i)
            base_[i] = pattern(i);
    }

    void TearDown() override { ::munmap(base_, 3 * PAGE); }

    static unsigned char pattern(size_t i) { return static_cast<unsigned char>(i * 31 + 7); }
    Address at(size_t i) const { return reinterpret_cast<Address>(base_ + i); }
    void protectMiddle(int prot) { ASSERT_EQ(::mprotect(base_ + PAGE, PAGE, prot), 0); }

    // Every readable byte holds its pattern, but `changed`, which holds `value`.
    void expectPattern(size_t changed = SIZE_MAX, unsigned char value = 0)
    {
        for (size_t i = 0; i < 3 * PAGE; ++i) {
            const auto byte = readByteGuarded(at(i));
            if (!byte) {
                i += PAGE - 1 - i % PAGE;  // the whole page is unreadable
                continue;
            }
            ASSERT_EQ(*byte, i == changed ? value : pattern(i)) << "byte " << i;
        }
    }

    unsigned char* base_ = nullptr;
};

TEST_F(PatternPages, StoresExactlyOneByteRightUpToAProtectedPage)
{
    protectMiddle(PROT_NONE);
    EXPECT_TRUE(writeByteGuarded(at(PAGE - 1), 0x41));
    expectPattern(PAGE - 1, 0x41);
    EXPECT_TRUE(writeByteGuarded(at(PAGE - 1), pattern(PAGE - 1)));
    EXPECT_TRUE(writeByteGuarded(at(2 * PAGE), 0x00));
    expectPattern(2 * PAGE, 0x00);
}

TEST_F(PatternPages, EveryValueIsStoredAsItIs)
{
    for (unsigned v = 0; v < 256; ++v) {
        ASSERT_TRUE(writeByteGuarded(at(PAGE + 5), static_cast<unsigned char>(v)));
        ASSERT_EQ(base_[PAGE + 5], v);
    }
    base_[PAGE + 5] = pattern(PAGE + 5);
    expectPattern();
}

TEST_F(PatternPages, RefusedStoresChangeNoByteAroundThem)
{
    const size_t targets[] = {PAGE, PAGE + 1, PAGE + PAGE / 2, 2 * PAGE - 1};
    protectMiddle(PROT_READ);
    for (const size_t i : targets)
        EXPECT_FALSE(writeByteGuarded(at(i), static_cast<unsigned char>(~pattern(i)))) << "read-only, byte " << i;
    expectPattern();

    protectMiddle(PROT_NONE);
    for (const size_t i : targets)
        EXPECT_FALSE(writeByteGuarded(at(i), static_cast<unsigned char>(~pattern(i)))) << "inaccessible, byte " << i;
    protectMiddle(PROT_READ);
    expectPattern();

    ASSERT_EQ(::munmap(base_ + PAGE, PAGE), 0);
    for (const size_t i : targets)
        EXPECT_FALSE(writeByteGuarded(at(i), 0x41)) << "unmapped, byte " << i;
    expectPattern();
    ASSERT_NE(::mmap(base_ + PAGE, PAGE, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0), MAP_FAILED);
}

// This program's own constant data, string literals and code: mapped and
// readable, never writable.
const unsigned char CONSTANT[] = {0x10, 0x20, 0x30, 0x40};

TEST(GuardedWrite, ProgramsOwnConstantsAndCodeRefuse)
{
    const auto constant = reinterpret_cast<Address>(CONSTANT);
    const auto code = reinterpret_cast<Address>(&writeByteGuarded);
    const auto literal = reinterpret_cast<Address>("a literal");
    const auto library = reinterpret_cast<Address>(&::puts);
    for (const Address a : {constant + 1, literal, code, code + 1, library}) {
        const auto before = readByteGuarded(a);
        ASSERT_TRUE(before.has_value());
        EXPECT_FALSE(writeByteGuarded(a, static_cast<unsigned char>(~*before)));
        EXPECT_EQ(readByteGuarded(a), before);
    }
    EXPECT_EQ(readByteGuarded(constant), 0x10);
    EXPECT_EQ(readByteGuarded(constant + 2), 0x30);
}

}  // namespace
