#include <unistd.h>

#include "support/constants.h"

const Address PAGE = static_cast<Address>(::sysconf(_SC_PAGESIZE));
