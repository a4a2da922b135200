// libmorlix.so holds morlix_core whole; loading and unloading it does nothing.
#include "morlix/morlix.h"
