// The memory map where the system offers none this program can read: the scan
// then walks block by block.

#include "probe/memory_map.h"

bool readMemoryMap(MemoryMap&)
{
    return false;
}
