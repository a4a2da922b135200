// The soft font converter's entry point. Not built yet: every input is refused.
#include "morlix/morlix.h"
#include "velquin/conversion_result.h"

extern "C" int32_t qkSoftFontFileName(const char*) { return velquin::CONVERSION_CANNOT_OPEN; }
