// The soft font converter's exported entry point.
#include <cstdio>
#include <new>

#include "morlix/conversion_result.h"
#include "morlix/morlix.h"
#include "platform/debug_output.h"
#include "soft_font_converter.h"

extern "C" int32_t qkSoftFontFileName(const char* softFontPath) {
    int32_t result = morlix::CONVERSION_NO_MEMORY;
    try {
        result =
            morlix::softfont::convertSoftFontFile(softFontPath, morlix::softfont::Report::standardOutput());
    } catch (...) {
        // Only memory can run out here; nothing was written.
        morlix::platform::debugOutput("qkSoftFontFileName - out of memory\r\n");
    }
    std::fflush(stdout);
    return result;
}
