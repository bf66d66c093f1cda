// Guarded one-byte access over every kind of memory a user can page into, the
// guarded write as W uses it, and the guard's manners towards the rest of the
// process (its signals on POSIX, the other exception handlers on Windows) and
// towards AddressSanitizer.

#include "probe/guard.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/sanitizers.h"
#include "probe/snapshot.h"
#include "support/pages.h"

#if GLEANHEX_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

void expectUnreadableAndUnwritable(Address a)
{
    EXPECT_EQ(readByteGuarded(a), std::nullopt) << std::hex << a;
    EXPECT_FALSE(writeByteGuarded(a, 0x5a)) << std::hex << a;
}

// The read at `a` faults, and says so by changing `reach` from the other answer.
void expectReach(Address a, FaultReach want, const char* what)
{
    FaultReach reach = want == FaultReach::WHOLE_PAGE ? FaultReach::ONE_BYTE : FaultReach::WHOLE_PAGE;
    EXPECT_EQ(readByteGuarded(a, reach), std::nullopt) << what;
    EXPECT_EQ(reach, want) << what;
}

TEST(Guard, ReadsAndWritesOrdinaryMemory)
{
    Pages pages(1);
    volatile unsigned char* byte = pages.at(17);
    *byte = 0xc4;
    EXPECT_EQ(readByteGuarded(pages.address(17)), 0xc4);
    EXPECT_TRUE(writeByteGuarded(pages.address(17), 0x00));
    EXPECT_EQ(*byte, 0x00);
    *byte = 0x3f;  // read afresh each time, never remembered
    EXPECT_EQ(readByteGuarded(pages.address(17)), 0x3f);
    EXPECT_EQ(pages.at(16)[0], 0) << "one byte wide";
    EXPECT_EQ(pages.at(18)[0], 0) << "one byte wide";
}

TEST(Guard, NoAccessPageFaults)
{
    const Pages pages(1, PageAccess::none);
    expectUnreadableAndUnwritable(pages.address(0));
    expectUnreadableAndUnwritable(pages.address(pageBytes() - 1));
    expectReach(pages.address(pageBytes() / 2), FaultReach::WHOLE_PAGE, "no access");
    pages.protect(0, PageAccess::readWrite);
    EXPECT_EQ(pages.at(0)[0], 0x00) << "a failed store changes nothing";
    EXPECT_EQ(pages.at(pageBytes() - 1)[0], 0x00) << "a failed store changes nothing";
}

TEST(Guard, UnmappedPageFaults)
{
    Pages pages(3);
    pages.unmap(1);
    expectUnreadableAndUnwritable(pages.address(pageBytes()));
    expectUnreadableAndUnwritable(pages.address(2 * pageBytes() - 1));
    expectReach(pages.address(pageBytes() + 7), FaultReach::WHOLE_PAGE, "nothing mapped");
    EXPECT_TRUE(writeByteGuarded(pages.address(pageBytes() - 1), 1)) << "its neighbours are untouched";
    EXPECT_TRUE(writeByteGuarded(pages.address(2 * pageBytes()), 2));
    pages.restore(1);
}

TEST(Guard, ReadOnlyPageReadsButRefusesWrites)
{
    Pages pages(1);
    pages.at(5)[0] = 0x77;
    pages.protect(0, PageAccess::read);
    EXPECT_EQ(readByteGuarded(pages.address(5)), 0x77);
    EXPECT_FALSE(writeByteGuarded(pages.address(5), 0x11));
    EXPECT_EQ(readByteGuarded(pages.address(5)), 0x77) << "the byte keeps its value";

    // The program's own constant data.
    static const unsigned char constant[] = {0xab, 0xcd};
    const Address c = reinterpret_cast<Address>(&constant[1]);
    EXPECT_FALSE(writeByteGuarded(c, 0x00));
    EXPECT_EQ(readByteGuarded(c), 0xcd);
}

#if !defined(_WIN32)
TEST(Guard, FileMappingPastItsEndFaultsWithSigbus)
{
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(::ftruncate(::fileno(file), 10), 0);
    const Pages pages(2, ::fileno(file));
    pages.at(3)[0] = 0x42;
    EXPECT_EQ(readByteGuarded(pages.address(3)), 0x42);
    EXPECT_EQ(readByteGuarded(pages.address(pageBytes() - 1)), 0x00) << "the rest of the last page reads as zero";
    expectUnreadableAndUnwritable(pages.address(pageBytes()));
    expectUnreadableAndUnwritable(pages.address(2 * pageBytes() - 1));
    expectReach(pages.address(pageBytes() + 1), FaultReach::WHOLE_PAGE, "past the file's end");
    std::fclose(file);
}
#endif

TEST(Guard, AddressesNoProcessCanOwnFault)
{
    expectUnreadableAndUnwritable(0);
    expectUnreadableAndUnwritable(1);
    expectUnreadableAndUnwritable(0xffff);
#if UINTPTR_MAX > 0xffff'ffffU
    expectUnreadableAndUnwritable(0x0000800000000000);  // first of the non-canonical hole
    expectUnreadableAndUnwritable(0x7fffffffffffffff);
    expectUnreadableAndUnwritable(0x8000000000000000);
    expectUnreadableAndUnwritable(0xffff800000000000);  // the kernel's half
#endif
    expectUnreadableAndUnwritable(TOP);
}

TEST(Guard, ManyFaultsInARowLeaveTheProcessWhole)
{
    const Pages pages(1, PageAccess::none);
    for (std::size_t i = 0; i < 2000; ++i)
        ASSERT_EQ(readByteGuarded(pages.address(i % pageBytes())), std::nullopt);
    pages.protect(0, PageAccess::readWrite);
    pages.at(0)[0] = 0x42;
    EXPECT_EQ(readByteGuarded(pages.address(0)), 0x42);
}

// The guarded write as W uses it: a refused store changes no byte anywhere
// around its target, a good one changes exactly its byte, and the program's
// own code is as safe as its constant data.

// Three pages of a known pattern; the middle one is where the tests aim.
class PatternPages : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (size_t i = 0; i < 3 * pageBytes(); ++i)
            pages_.at(i)[0] = pattern(i);
    }

    static unsigned char pattern(size_t i) { return static_cast<unsigned char>(i * 31 + 7); }
    Address at(size_t i) const { return pages_.address(i); }
    void protectMiddle(PageAccess access) const { pages_.protect(1, access); }

    // Every readable byte holds its pattern, but `changed`, which holds `value`.
    void expectPattern(size_t changed = SIZE_MAX, unsigned char value = 0) const
    {
        for (size_t i = 0; i < 3 * pageBytes(); ++i) {
            const auto byte = readByteGuarded(at(i));
            if (!byte) {
                i += pageBytes() - 1 - i % pageBytes();  // the whole page is unreadable
                continue;
            }
            ASSERT_EQ(*byte, i == changed ? value : pattern(i)) << "byte " << i;
        }
    }

    Pages pages_{3};
};

TEST_F(PatternPages, StoresExactlyOneByteRightUpToAProtectedPage)
{
    protectMiddle(PageAccess::none);
    EXPECT_TRUE(writeByteGuarded(at(pageBytes() - 1), 0x41));
    expectPattern(pageBytes() - 1, 0x41);
    EXPECT_TRUE(writeByteGuarded(at(pageBytes() - 1), pattern(pageBytes() - 1)));
    EXPECT_TRUE(writeByteGuarded(at(2 * pageBytes()), 0x00));
    expectPattern(2 * pageBytes(), 0x00);
}

TEST_F(PatternPages, EveryValueIsStoredAsItIs)
{
    for (unsigned v = 0; v < 256; ++v) {
        ASSERT_TRUE(writeByteGuarded(at(pageBytes() + 5), static_cast<unsigned char>(v)));
        ASSERT_EQ(pages_.at(pageBytes() + 5)[0], v);
    }
    pages_.at(pageBytes() + 5)[0] = pattern(pageBytes() + 5);
    expectPattern();
}

TEST_F(PatternPages, RefusedStoresChangeNoByteAroundThem)
{
    const size_t targets[] = {pageBytes(), pageBytes() + 1, pageBytes() + pageBytes() / 2, 2 * pageBytes() - 1};
    protectMiddle(PageAccess::read);
    for (const size_t i : targets)
        EXPECT_FALSE(writeByteGuarded(at(i), static_cast<unsigned char>(~pattern(i)))) << "read-only, byte " << i;
    expectPattern();

    protectMiddle(PageAccess::none);
    for (const size_t i : targets)
        EXPECT_FALSE(writeByteGuarded(at(i), static_cast<unsigned char>(~pattern(i)))) << "inaccessible, byte " << i;
    protectMiddle(PageAccess::read);
    expectPattern();

    pages_.unmap(1);
    for (const size_t i : targets)
        EXPECT_FALSE(writeByteGuarded(at(i), 0x41)) << "unmapped, byte " << i;
    expectPattern();
    pages_.restore(1);
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

#if defined(_WIN32)
// A guard page raises its own exception, not an access violation, and only on
// the first touch: the platform then drops the guard.
TEST(GuardWin32, GuardPageFaultsOnceThenReads)
{
    Pages pages(2);
    pages.page(0)[5] = 0x77;
    pages.protect(0, PAGE_READWRITE | PAGE_GUARD);
    pages.protect(1, PAGE_READWRITE | PAGE_GUARD);

    EXPECT_EQ(readByteGuarded(pages.address(5)), std::nullopt);
    EXPECT_EQ(pages.protection(0) & PAGE_GUARD, 0u);
    EXPECT_EQ(readByteGuarded(pages.address(5)), 0x77);

    EXPECT_FALSE(writeByteGuarded(pages.address(pageBytes() + 9), 0x33));
    EXPECT_EQ(pages.protection(1) & PAGE_GUARD, 0u);
    EXPECT_EQ(pages.page(1)[9], 0x00) << "the faulted store did not happen";
    EXPECT_TRUE(writeByteGuarded(pages.address(pageBytes() + 9), 0x33));
    EXPECT_EQ(pages.page(1)[9], 0x33);
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

#else
bool sameDisposition(const struct sigaction& a, const struct sigaction& b)
{
    return a.sa_handler == b.sa_handler && a.sa_flags == b.sa_flags;
}

void onUsr1(int) {}

TEST(Guard, LeavesOtherSignalsAndTheSignalMaskAlone)
{
    struct sigaction usr1 {};
    usr1.sa_handler = onUsr1;
    ::sigaction(SIGUSR1, &usr1, nullptr);
    struct sigaction before[3];
    const int sigs[3] = {SIGINT, SIGTERM, SIGUSR1};
    for (int i = 0; i < 3; ++i)
        ::sigaction(sigs[i], nullptr, &before[i]);
    sigset_t maskBefore;
    ::sigprocmask(SIG_SETMASK, nullptr, &maskBefore);

    const Pages none(1, PageAccess::none);
    for (int i = 0; i < 10; ++i)
        expectUnreadableAndUnwritable(none.address(0));

    for (int i = 0; i < 3; ++i) {
        struct sigaction after {};
        ::sigaction(sigs[i], nullptr, &after);
        EXPECT_TRUE(sameDisposition(before[i], after)) << "signal " << sigs[i];
    }
    sigset_t maskAfter;
    ::sigprocmask(SIG_SETMASK, nullptr, &maskAfter);
    for (int sig = 1; sig < NSIG; ++sig)
        EXPECT_EQ(sigismember(&maskBefore, sig), sigismember(&maskAfter, sig)) << "signal " << sig;
    ::signal(SIGUSR1, SIG_DFL);
}

// A fault that is not the guard's own goes on to whoever handled it before.
volatile char* volatile foreignAddress = reinterpret_cast<char*>(0x40);

void onForeignFault(int, siginfo_t* info, void*)
{
    std::_Exit(info->si_addr == foreignAddress ? 42 : 43);
}

void faultOutsideTheGuard(bool withHandler)
{
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (withHandler) {
        struct sigaction act {};
        act.sa_sigaction = onForeignFault;
        act.sa_flags = SA_SIGINFO;
        ::sigaction(SIGSEGV, &act, nullptr);
    }
    // The guard takes over the signal here, as main installs it after the
    // console's handlers, and must still catch its own fault.
    if (!installGuard() || readByteGuarded(0x40).has_value())
        std::_Exit(44);
    *foreignAddress = 1;
    std::_Exit(45);
}

TEST(GuardDeathTest, ForeignFaultReachesTheEarlierHandler)
{
    // A fresh process, so that the handler really is the one the guard finds.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(faultOutsideTheGuard(true), ::testing::ExitedWithCode(42), "");
}

TEST(GuardDeathTest, ForeignFaultStillKillsWithoutAnEarlierHandler)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#if GLEANHEX_ASAN
    // AddressSanitizer's handler came first: the fault must reach it and be reported.
    EXPECT_EXIT(faultOutsideTheGuard(false), ::testing::ExitedWithCode(1),
                "AddressSanitizer: SEGV on unknown address 0x0*40 ");
#else
    EXPECT_EXIT(faultOutsideTheGuard(false), ::testing::KilledBySignal(SIGSEGV), "");
#endif
}

// A SIGSEGV or SIGBUS that was sent, not raised by a fault, is never the
// guard's: with no earlier handler it takes the default action at once.
void sendAfterTheGuard(int sig, bool queued)
{
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (readByteGuarded(0).has_value())
        std::_Exit(44);
    if (queued)
        ::sigqueue(::getpid(), sig, sigval{});
    else
        ::raise(sig);
    std::_Exit(45);
}

TEST(GuardDeathTest, SentSignalTakesTheDefaultActionAtOnce)
{
#if GLEANHEX_ASAN
    GTEST_SKIP() << "AddressSanitizer's handlers came first";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(sendAfterTheGuard(SIGSEGV, false), ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(sendAfterTheGuard(SIGBUS, true), ::testing::KilledBySignal(SIGBUS), "");
}

bool blocked(int sig)
{
    sigset_t mask;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, sig) == 1;
}

// Says how it was called, then returns: a second signal finds the default.
void onceWithReset(int sig, siginfo_t* info, void*)
{
    const bool right = sig == SIGSEGV && info->si_code == SI_TKILL && blocked(SIGUSR1) && blocked(SIGSEGV);
    const char* text = right ? "earlier handler: as installed\n" : "earlier handler: wrong mask or info\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
}

void onNoDefer(int)
{
    std::_Exit(blocked(SIGSEGV) ? 43 : 42);
}

void earlierHandlerThenSignals(bool resetHand)
{
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    struct sigaction act {};
    sigemptyset(&act.sa_mask);
    if (resetHand) {
        act.sa_sigaction = onceWithReset;
        act.sa_flags = static_cast<int>(SA_SIGINFO | SA_RESETHAND);
        sigaddset(&act.sa_mask, SIGUSR1);
    } else {
        act.sa_handler = onNoDefer;
        act.sa_flags = SA_NODEFER;
    }
    ::sigaction(SIGSEGV, &act, nullptr);
    if (!installGuard() || readByteGuarded(0).has_value() || blocked(SIGUSR1))
        std::_Exit(44);
    ::raise(SIGSEGV);
    if (blocked(SIGUSR1) || blocked(SIGSEGV))
        std::_Exit(46);  // the handler's mask outlived it
    ::raise(SIGSEGV);
    std::_Exit(45);
}

TEST(GuardDeathTest, EarlierHandlerGetsItsOwnMaskAndFlags)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(earlierHandlerThenSignals(true), ::testing::KilledBySignal(SIGSEGV), "^earlier handler: as installed\n$");
    EXPECT_EXIT(earlierHandlerThenSignals(false), ::testing::ExitedWithCode(42), "");
}
#endif

// The guarded accesses are the one place that touches arbitrary bytes on
// purpose, and they are assembly, so AddressSanitizer never checks them:
// browsing across its redzones and freed blocks must read bytes, not stop the
// program with a report. Everything else stays instrumented. Without the
// sanitizer there is no redzone to read, only a neighbour to damage.
class GuardUnderSanitizer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!GLEANHEX_ASAN)
            GTEST_SKIP() << "built without AddressSanitizer";
#ifdef GLEANHEX_PORTABLE_GUARD
        GTEST_SKIP() << "the portable guard's accesses are C++, which the sanitizer checks";
#endif
    }

    static bool poisoned([[maybe_unused]] const void* p)
    {
#if GLEANHEX_ASAN
        return __asan_address_is_poisoned(p) != 0;
#else
        return false;
#endif
    }
    static Address at(const void* p) { return reinterpret_cast<Address>(p); }
};

TEST_F(GuardUnderSanitizer, ReadsAHeapRedzoneWithoutAReport)
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

TEST_F(GuardUnderSanitizer, WritesIntoARedzoneWithoutAReport)
{
    const std::unique_ptr<char> block(new char('h'));
    char* const past = block.get() + 1;
    ASSERT_TRUE(poisoned(past));
    ASSERT_TRUE(writeByteGuarded(at(past), 0x5a));
    EXPECT_EQ(readByteGuarded(at(past)), 0x5a);
    EXPECT_EQ(*block, 'h');
}

TEST_F(GuardUnderSanitizer, ReadsAFreedBlockWithoutAReport)
{
    char* freed = new char[32];
    const Address address = at(freed);
    delete[] freed;
    ASSERT_TRUE(poisoned(reinterpret_cast<const void*>(address)));
    for (Address a = address; a < address + 32; ++a)
        EXPECT_TRUE(readByteGuarded(a).has_value());
}

// How far a fault reaches, by its cause, and the snapshot that trusts it: a
// fault that holds for its page ends the reading of that page, not of the block.
TEST(Guard, OtherCausesReachTheByteAlone)
{
#if defined(GLEANHEX_PORTABLE_GUARD) && GLEANHEX_ASAN
    GTEST_SKIP() << "the sanitizer's check of the access reads its shadow memory first, and faults there";
#elif defined(_WIN32)
    // A guard page's exception holds for the touch that raised it: the page reads after it.
    Pages pages(1);
    pages.protect(0, PAGE_READWRITE | PAGE_GUARD);
    expectReach(pages.address(9), FaultReach::ONE_BYTE, "a guard page");
    for (std::size_t i = 0; i < pageBytes(); ++i)
        pages.page(0)[i] = static_cast<unsigned char>(0x80 + i % 61);  // never 0x3f
    pages.protect(0, PAGE_READWRITE | PAGE_GUARD);
    const Snapshot chr = snapshotBlock(pages.address(16));
    EXPECT_EQ(chr[0][0], UNREADABLE_FILL);
    for (unsigned i = 1; i < BLOCK_BYTES; ++i)
        ASSERT_EQ(chr[i / BLOCK_COLS][i % BLOCK_COLS], pages.page(0)[16 + i]) << "byte " << i;
#elif defined(__x86_64__)
    // An address outside the canonical range faults as a general protection
    // fault, which the kernel reports with a code of its own.
    expectReach(0x0000800000000000, FaultReach::ONE_BYTE, "just past the lower half");
    expectReach(0x8000000000000000, FaultReach::ONE_BYTE, "the middle of the hole");
#else
    GTEST_SKIP() << "no fault of another cause to raise on this processor";
#endif
}

}  // namespace
