#include "probe/guard.h"

#include "probe/guard_access.h"

std::optional<unsigned char> readByteGuarded(Address address)
{
    FaultReach reach{};
    return readByteGuarded(address, reach);
}

std::optional<unsigned char> readByteGuarded(Address address, FaultReach& reach)
{
    const int value = gleanhexLoadByte(address);
    if (value < 0) {
        reach = latestFaultReach();
        return std::nullopt;
    }
    return static_cast<unsigned char>(value);
}

bool writeByteGuarded(Address address, unsigned char value)
{
    return gleanhexStoreByte(address, value) == 0;
}
