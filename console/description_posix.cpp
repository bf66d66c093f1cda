#include "console/description_posix.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/sanitizers.h"
#include "console/console.h"

// Under AddressSanitizer, which keeps a larger stack of its own, the switch
// of stacks would only draw its warning.
#if GLEANHEX_TERMINFO && __has_include(<ucontext.h>) && !GLEANHEX_ASAN
#define GLEANHEX_READ_ON_OWN_STACK 1
#include <ucontext.h>
#else
#define GLEANHEX_READ_ON_OWN_STACK 0
#endif

namespace {

TerminalDescription description;

void copy(char* to, std::size_t room, const char* from)
{
    const std::size_t n = std::strlen(from);
    if (n >= room)
        return;  // longer than any terminal's: not used at all
    std::memcpy(to, from, n + 1);
}

bool startsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Without a description: xterm's forms, which most terminals take; and the
// terminals that are known to erase in their own colours.
void describeFromName(const char* type)
{
    copy(description.keypadOn, sizeof description.keypadOn, "\x1b[?1h\x1b=");
    copy(description.keypadOff, sizeof description.keypadOff, "\x1b[?1l\x1b>");
    description.eraseInColour = !(startsWith(type, "screen") || startsWith(type, "tmux") || startsWith(type, "vt"));
}

#if GLEANHEX_TERMINFO
bool describeFromTerminfo(const char* type);

// The terminfo library reads an entry into buffers on the stack, some 100 KiB
// of it, far more than the program itself needs: it reads on a stack of its own.
#if GLEANHEX_READ_ON_OWN_STACK
alignas(16) char readingStack[std::size_t{256} * 1024];
ucontext_t caller;
ucontext_t reading;
const char* readingType = nullptr;
bool readingDone = false;

void readOnItsOwnStack()
{
    readingDone = describeFromTerminfo(readingType);
}

bool describeFromTerminfoOnItsOwnStack(const char* type)
{
    readingType = type;
    if (::getcontext(&reading) != 0)
        return describeFromTerminfo(type);
    reading.uc_stack.ss_sp = readingStack;
    reading.uc_stack.ss_size = sizeof readingStack;
    reading.uc_link = &caller;
    ::makecontext(&reading, readOnItsOwnStack, 0);
    if (::swapcontext(&caller, &reading) != 0)
        return describeFromTerminfo(type);
    return readingDone;
}
#else
bool describeFromTerminfoOnItsOwnStack(const char* type)
{
    return describeFromTerminfo(type);
}
#endif
#endif

}  // namespace

void describeTerminal()
{
    const char* const type = std::getenv("TERM");
    if (type == nullptr || *type == '\0')
        return;
#if GLEANHEX_TERMINFO
    if (describeFromTerminfoOnItsOwnStack(type))
        return;
#endif
    describeFromName(type);
}

const TerminalDescription& terminalDescription()
{
    return description;
}

int describedKey(const char* bytes, int size)
{
    for (int i = 0; i < description.keyCount; ++i) {
        const TerminalDescription::Key& k = description.keys[i];
        if (static_cast<int>(std::strlen(k.bytes)) == size && std::memcmp(k.bytes, bytes, static_cast<std::size_t>(size)) == 0)
            return k.code;
    }
    return 0;
}

#if GLEANHEX_TERMINFO
// Last: the terminfo header defines a macro for every capability's name.
#include <term.h>

namespace {

// A string capability, or nothing where the entry has none.
const char* capability(const char* name)
{
    char* const value = ::tigetstr(const_cast<char*>(name));
    // (char*) -1 says the name is no string capability.
    return value == nullptr || reinterpret_cast<std::intptr_t>(value) == -1 ? nullptr : value;
}

bool describeFromTerminfo(const char* type)
{
    int error = 0;
    if (::setupterm(const_cast<char*>(type), -1, &error) != 0)
        return false;
    const char* const on = capability("smkx");
    const char* const off = capability("rmkx");
    if (on != nullptr && off != nullptr) {
        copy(description.keypadOn, sizeof description.keypadOn, on);
        copy(description.keypadOff, sizeof description.keypadOff, off);
    }
    description.eraseInColour = ::tigetflag(const_cast<char*>("bce")) > 0;
    const struct {
        const char* name;
        int code;
    } keys[] = {{"kich1", KEY_INSERT}, {"kdch1", KEY_DELETE}, {"khome", KEY_HOME},  {"kend", KEY_END},
                {"kpp", KEY_PAGE_UP},  {"knp", KEY_PAGE_DOWN}, {"kcuu1", KEY_UP},   {"kcud1", KEY_DOWN},
                {"kcub1", KEY_LEFT},   {"kcuf1", KEY_RIGHT}};
    for (const auto& key : keys) {
        const char* const bytes = capability(key.name);
        if (bytes == nullptr || std::strlen(bytes) >= sizeof description.keys[0].bytes)
            continue;
        TerminalDescription::Key& k = description.keys[description.keyCount++];
        copy(k.bytes, sizeof k.bytes, bytes);
        k.code = key.code;
    }
    ::del_curterm(cur_term);
    return true;
}

}  // namespace
#endif
