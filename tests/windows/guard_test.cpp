// The guard on Windows, against memory whose protection the test sets up with
// the platform's own allocator: every kind of fault of the one access is caught,
// nothing else is.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include "pages.h"
#include "probe/guard.h"
#include "probe/snapshot.h"

namespace {

TEST(GuardWin32, ReadsAndWritesOrdinaryMemory)
{
    Pages pages(1);
    pages.page(0)[7] = 0xa5;
    EXPECT_EQ(readByteGuarded(pages.at(0, 7)), 0xa5);
    EXPECT_TRUE(writeByteGuarded(pages.at(0, 8), 0x5a));
    EXPECT_EQ(pages.page(0)[8], 0x5a);
    EXPECT_EQ(pages.page(0)[7], 0xa5) << "the store is one byte wide";
    EXPECT_EQ(pages.page(0)[9], 0x00) << "the store is one byte wide";
}

TEST(GuardWin32, NoAccessPageFailsBothWays)
{
    Pages pages(1);
    pages.protect(0, PAGE_NOACCESS);
    EXPECT_EQ(readByteGuarded(pages.at(0)), std::nullopt);
    EXPECT_EQ(readByteGuarded(pages.at(0, PAGE - 1)), std::nullopt);
    EXPECT_FALSE(writeByteGuarded(pages.at(0, 1), 0x41));
    pages.protect(0, PAGE_READWRITE);
    EXPECT_EQ(pages.page(0)[1], 0x00) << "a failed store changes nothing";
}

TEST(GuardWin32, ReadOnlyPageRefusesTheStoreAndKeepsTheByte)
{
    Pages pages(1);
    pages.page(0)[3] = 0x11;
    pages.protect(0, PAGE_READONLY);
    EXPECT_FALSE(writeByteGuarded(pages.at(0, 3), 0x22));
    EXPECT_EQ(readByteGuarded(pages.at(0, 3)), 0x11);
    EXPECT_EQ(pages.page(0)[3], 0x11);
}

TEST(GuardWin32, ReadOnlyConstantDataRefusesTheStore)
{
    static const char constant[] = "constant";
    const Address address = reinterpret_cast<Address>(&constant[2]);
    EXPECT_FALSE(writeByteGuarded(address, 'X'));
    EXPECT_EQ(readByteGuarded(address), 'n');
}

// A guard page raises its own exception, not an access violation, and only on
// the first touch: the platform then drops the guard.
TEST(GuardWin32, GuardPageFaultsOnceThenReads)
{
    Pages pages(2);
    pages.page(0)[5] = 0x77;
    pages.protect(0, PAGE_READWRITE | PAGE_GUARD);
    pages.protect(1, PAGE_READWRITE | PAGE_GUARD);

    EXPECT_EQ(readByteGuarded(pages.at(0, 5)), std::nullopt);
    EXPECT_EQ(pages.protection(0) & PAGE_GUARD, 0u);
    EXPECT_EQ(readByteGuarded(pages.at(0, 5)), 0x77);

    EXPECT_FALSE(writeByteGuarded(pages.at(1, 9), 0x33));
    EXPECT_EQ(pages.protection(1) & PAGE_GUARD, 0u);
    EXPECT_EQ(pages.page(1)[9], 0x00) << "the faulted store did not happen";
    EXPECT_TRUE(writeByteGuarded(pages.at(1, 9), 0x33));
    EXPECT_EQ(pages.page(1)[9], 0x33);
}

TEST(GuardWin32, AddressesNoProcessCanTouch)
{
#if UINTPTR_MAX > 0xffff'ffffU
    for (const Address address : {Address{0}, Address{1}, Address{0xffff}, Address{0x8000000000000000},
                                  Address{0xffff800000000000}, ~Address{0}}) {
#else
    for (const Address address : {Address{0}, Address{1}, Address{0xffff}, ~Address{0}}) {
#endif
        SCOPED_TRACE(address);
        EXPECT_EQ(readByteGuarded(address), std::nullopt);
        EXPECT_FALSE(writeByteGuarded(address, 0));
    }
}

TEST(GuardWin32, ManyFaultsInARowLeaveTheProcessWhole)
{
    Pages pages(1);
    pages.protect(0, PAGE_NOACCESS);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(readByteGuarded(pages.at(0, static_cast<std::size_t>(i) % PAGE)), std::nullopt);
    pages.protect(0, PAGE_READWRITE);
    pages.page(0)[0] = 0x42;
    EXPECT_EQ(readByteGuarded(pages.at(0)), 0x42);
}

// Exceptions raised anywhere else still go on to whoever handles them.
constexpr DWORD TEST_EXCEPTION = 0xE0DE0001;
int testExceptionsSeen = 0;

LONG CALLBACK catchTestException(EXCEPTION_POINTERS* exception)
{
    if (exception->ExceptionRecord->ExceptionCode != TEST_EXCEPTION)
        return EXCEPTION_CONTINUE_SEARCH;
    ++testExceptionsSeen;
    return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(GuardWin32, LeavesOtherExceptionsToTheirHandlers)
{
    (void)readByteGuarded(0);  // the guard's handler is installed, first in line
    void* const handler = AddVectoredExceptionHandler(0, catchTestException);
    ASSERT_NE(handler, nullptr);
    RaiseException(TEST_EXCEPTION, 0, 0, nullptr);  // returns once a handler continues it
    RemoveVectoredExceptionHandler(handler);
    EXPECT_EQ(testExceptionsSeen, 1);
}

TEST(SnapshotWin32, BlockRunningIntoANoAccessPageShowsRealBytesThenFill)
{
    Pages pages(2);
    for (std::size_t i = 0; i < PAGE; ++i)
        pages.page(0)[i] = static_cast<unsigned char>(i);
    pages.protect(1, PAGE_NOACCESS);
    const Snapshot chr = snapshotBlock(pages.at(0, PAGE - 40));
    for (unsigned i = 0; i < BLOCK_BYTES; ++i) {
        const unsigned char expected = i < 40 ? static_cast<unsigned char>(PAGE - 40 + i) : UNREADABLE_FILL;
        ASSERT_EQ(chr[i / BLOCK_COLS][i % BLOCK_COLS], expected) << "byte " << i;
    }
}

TEST(SnapshotWin32, BlockStraddlingTheTopOfTheAddressSpace)
{
    const Snapshot chr = snapshotBlock(Address{0} - 16);
    for (const auto& row : chr)
        for (const unsigned char byte : row)
            EXPECT_EQ(byte, UNREADABLE_FILL);
}

// An access violation holds for its whole page; a guard page's exception only
// for the touch that raised it, after which the page reads.
TEST(SnapshotWin32, FaultReachFollowsTheExceptionCode)
{
    Pages pages(2);
    pages.protect(0, PAGE_NOACCESS);
    FaultReach reach = FaultReach::ONE_BYTE;
    EXPECT_EQ(readByteGuarded(pages.at(0, 9), reach), std::nullopt);
    EXPECT_EQ(reach, FaultReach::WHOLE_PAGE);

    for (std::size_t i = 0; i < PAGE; ++i)
        pages.page(1)[i] = static_cast<unsigned char>(0x80 + i % 61);  // never 0x3f
    pages.protect(1, PAGE_READWRITE | PAGE_GUARD);
    const Snapshot chr = snapshotBlock(pages.at(1, 16));
    EXPECT_EQ(chr[0][0], UNREADABLE_FILL);
    for (unsigned i = 1; i < BLOCK_BYTES; ++i)
        ASSERT_EQ(chr[i / BLOCK_COLS][i % BLOCK_COLS], pages.page(1)[16 + i]) << "byte " << i;
}

}  // namespace
