// Spooler port redirection. Not built yet: no printer table can be built.
#include "morlix/morlix.h"

extern "C" int32_t SetPortsToFile(void) { return 1; }

extern "C" int32_t RestorePortsToOriginal(void) { return 0; }
