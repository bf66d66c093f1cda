// Guarded one-byte access and the block snapshot over every kind of memory a
// user can page into, and the guard's manners towards the rest of the process
// and towards AddressSanitizer.

#include "probe/guard.h"

#include <pty.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/sanitizers.h"
#include "console/console.h"
#include "probe/snapshot.h"
#include "support/constants.h"

#if GLEANHEX_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {


// Pages of our own, released at the end of the test.
class Pages {
public:
    explicit Pages(std::size_t count, int prot = PROT_READ | PROT_WRITE, int fd = -1)
        : size_(count * PAGE),
          base_(::mmap(nullptr, size_, prot, fd < 0 ? MAP_PRIVATE | MAP_ANONYMOUS : MAP_SHARED, fd, 0))
    {
        EXPECT_NE(base_, MAP_FAILED);
    }
    ~Pages() { ::munmap(base_, size_); }
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;

    unsigned char* at(std::size_t offset) const { return static_cast<unsigned char*>(base_) + offset; }
    Address address(std::size_t offset) const { return reinterpret_cast<Address>(at(offset)); }
    void protect(std::size_t page, int prot) const { EXPECT_EQ(::mprotect(at(page * PAGE), PAGE, prot), 0); }

private:
    std::size_t size_;
    void* base_;
};

void expectUnreadableAndUnwritable(Address a)
{
    EXPECT_EQ(readByteGuarded(a), std::nullopt) << std::hex << a;
    EXPECT_FALSE(writeByteGuarded(a, 0x5a)) << std::hex << a;
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

TEST(Guard, ProtNonePageFaults)
{
    const Pages none(1, PROT_NONE);
    expectUnreadableAndUnwritable(none.address(0));
    expectUnreadableAndUnwritable(none.address(PAGE - 1));
}

TEST(Guard, UnmappedPageFaults)
{
    Pages pages(3);
    ASSERT_EQ(::munmap(pages.at(PAGE), PAGE), 0);
    expectUnreadableAndUnwritable(pages.address(PAGE));
    expectUnreadableAndUnwritable(pages.address(2 * PAGE - 1));
    EXPECT_TRUE(writeByteGuarded(pages.address(PAGE - 1), 1)) << "its neighbours are untouched";
    EXPECT_TRUE(writeByteGuarded(pages.address(2 * PAGE), 2));
    ASSERT_NE(::mmap(pages.at(PAGE), PAGE, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0), MAP_FAILED);
}

TEST(Guard, ReadOnlyPageReadsButRefusesWrites)
{
    Pages pages(1);
    pages.at(5)[0] = 0x77;
    pages.protect(0, PROT_READ);
    EXPECT_EQ(readByteGuarded(pages.address(5)), 0x77);
    EXPECT_FALSE(writeByteGuarded(pages.address(5), 0x11));
    EXPECT_EQ(readByteGuarded(pages.address(5)), 0x77) << "the byte keeps its value";

    // The program's own constant data.
    static const unsigned char constant[] = {0xab, 0xcd};
    const Address c = reinterpret_cast<Address>(&constant[1]);
    EXPECT_FALSE(writeByteGuarded(c, 0x00));
    EXPECT_EQ(readByteGuarded(c), 0xcd);
}

TEST(Guard, FileMappingPastItsEndFaultsWithSigbus)
{
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(::ftruncate(::fileno(file), 10), 0);
    const Pages pages(2, PROT_READ | PROT_WRITE, ::fileno(file));
    pages.at(3)[0] = 0x42;
    EXPECT_EQ(readByteGuarded(pages.address(3)), 0x42);
    EXPECT_EQ(readByteGuarded(pages.address(PAGE - 1)), 0x00) << "the rest of the last page reads as zero";
    expectUnreadableAndUnwritable(pages.address(PAGE));
    expectUnreadableAndUnwritable(pages.address(2 * PAGE - 1));
    std::fclose(file);
}

TEST(Guard, AddressesNoProcessCanOwnFault)
{
    expectUnreadableAndUnwritable(0);
    expectUnreadableAndUnwritable(1);
#if UINTPTR_MAX > 0xffff'ffffU
    expectUnreadableAndUnwritable(0x0000800000000000);  // first of the non-canonical hole
    expectUnreadableAndUnwritable(0x7fffffffffffffff);
    expectUnreadableAndUnwritable(0x8000000000000000);
    expectUnreadableAndUnwritable(0xffff800000000000);  // the kernel's half
#endif
    expectUnreadableAndUnwritable(TOP);
}

TEST(Snapshot, UnmappedBlockIsAllFill)
{
    const Pages none(1, PROT_NONE);
    Snapshot want;
    for (auto& row : want)
        row.fill(UNREADABLE_FILL);
    EXPECT_EQ(snapshotBlock(none.address(8)), want);
    EXPECT_EQ(snapshotBlock(0), want);
}

TEST(Snapshot, BlockStraddlingTheTopOfTheSpaceWrapsToZero)
{
    // First row from the top of the space, the rest from address 0 upward;
    // neither end can be mapped by a process, so all of it reads as the fill.
    Snapshot want;
    for (auto& row : want)
        row.fill(UNREADABLE_FILL);
    EXPECT_EQ(snapshotBlock(TOP - 15), want);
    EXPECT_EQ(snapshotBlock(TOP), want);
}

TEST(Snapshot, BlockRunningIntoAnUnreadablePageStopsAtTheBoundary)
{
    Pages pages(2);
    for (std::size_t i = 0; i < PAGE; ++i)
        pages.at(i)[0] = static_cast<unsigned char>(0x80 + i % 61);  // never 0x3f
    pages.protect(1, PROT_NONE);
    const std::size_t readable = 100;
    const Snapshot chr = snapshotBlock(pages.address(PAGE - readable));
    for (std::size_t i = 0; i < BLOCK_BYTES; ++i) {
        const unsigned char want = i < readable ? pages.at(PAGE - readable + i)[0] : UNREADABLE_FILL;
        EXPECT_EQ(chr[i / BLOCK_COLS][i % BLOCK_COLS], want) << "byte " << i;
    }
}

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

    const Pages none(1, PROT_NONE);
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
    // The guard takes over the signal here and must still catch its own fault.
    if (readByteGuarded(0x40).has_value())
        std::_Exit(44);
    *foreignAddress = 1;
    std::_Exit(45);
}

TEST(GuardDeathTest, ForeignFaultReachesTheEarlierHandler)
{
    // A fresh process, so that the handler really is installed before the guard.
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

#ifndef GLEANHEX_PORTABLE_GUARD  // that build of these tests has no console
// Deep enough to run out of stack; the compiler cannot tell that it never ends.
int descend(unsigned long depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == 0)
        return frame[0];
    return descend(depth + 1) + frame[0];
}

// The console writes its sequences to a terminal only: the overflow runs in a
// child whose output is a pseudo-terminal, and what reaches it is passed on to
// standard error, where the death test sees it, before this process dies as
// the child did.
void overflowTheStackWithTheConsole()
{
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        std::_Exit(70);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(master);
        ::dup2(slave, STDOUT_FILENO);
        ::setenv("TERM", "xterm", 1);
        beginConsole();
        std::_Exit(descend(1));
    }
    ::close(slave);
    char buffer[256];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
        static_cast<void>(::write(STDERR_FILENO, buffer, static_cast<size_t>(n)));
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFSIGNALED(status))
        std::_Exit(71);
    ::signal(WTERMSIG(status), SIG_DFL);
    ::raise(WTERMSIG(status));
    std::_Exit(72);
}

TEST(ConsoleDeathTest, StackOverflowStillGivesTheTerminalBack)
{
#if GLEANHEX_ASAN
    GTEST_SKIP() << "AddressSanitizer reports the overflow itself";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Autowrap back on and colours reset: the handler ran, on a stack of its own.
    EXPECT_EXIT(overflowTheStackWithTheConsole(), ::testing::KilledBySignal(SIGSEGV), "\\?7h.\\[0m");
}
#endif

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
    if (readByteGuarded(0).has_value() || blocked(SIGUSR1))
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

}  // namespace
