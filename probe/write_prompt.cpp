#include "probe/write_prompt.h"

// Not in service yet: nothing is asked and nothing is stored.
void promptWrite(Address, unsigned, unsigned)
{
}
