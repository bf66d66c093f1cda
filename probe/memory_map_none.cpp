// The memory map where the system offers none this program can read: the scan
// then walks block by block.

#include "probe/memory_map.h"

#include "probe/guard.h"

bool prepareMemoryMap()
{
    return false;
}

bool openMapLookup(MapLookup&, MapSource)
{
    return false;
}

void closeMapLookup(MapLookup&) {}

bool readsElsewhere(Address address)
{
    return readByteGuarded(address).has_value();
}
