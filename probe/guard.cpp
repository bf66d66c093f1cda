#include "probe/guard.h"

#include "probe/guard_access.h"

std::optional<unsigned char> readByteGuarded(Address address)
{
    ensureGuard();
    const int value = gleanhexLoadByte(address);
    if (value < 0)
        return std::nullopt;
    return static_cast<unsigned char>(value);
}

bool writeByteGuarded(Address address, unsigned char value)
{
    ensureGuard();
    return gleanhexStoreByte(address, value) == 0;
}
