// The TCP transport. Not built yet: every call reports failure.
#include "morlix/morlix.h"

extern "C" int32_t CreateEthernetSocketVB(int32_t*, const char*, const char*, const char*, const char*,
                                          const char*) {
    return 0;
}
extern "C" int32_t WriteDataEthernetVB(int32_t, const uint8_t*, int32_t, int32_t*) { return 0; }
extern "C" int32_t ReadDataEthernetVB(int32_t, uint8_t*, int32_t*) { return 0; }
extern "C" int32_t CloseEthernetSocketVB(int32_t) { return 1; }
extern "C" int32_t isPrinterReadyEthernetVB(int32_t) { return 0; }
