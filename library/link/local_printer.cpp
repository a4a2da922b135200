// Local printer discovery and device output. Not built yet: every call
// reports failure.
#include "morlix/morlix.h"
#include "platform/debug_output.h"
#include "platform/device_io.h"
#include "printer_data.h"

extern "C" int32_t GetPrinterHandleVB(int32_t* /*handle*/) {
    morlix::platform::debugOutput("GetPrinterHandleVB - not available");
    return 1;
}

extern "C" int32_t ClosePrinterHandleVB(int32_t handle) {
    morlix::platform::handleClose(handle);
    if (handle == morlix::printerHandle) morlix::printerHandle = 0;
    return 0;
}

extern "C" int32_t WritePrinterVB(int32_t /*handle*/, const uint8_t* /*data*/, uint32_t /*byteCount*/) {
    return 1;
}
