#include "printer_data.h"

#include <cstring>

#include "morlix/morlix.h"
#include "platform/debug_output.h"

namespace morlix {

PrinterData printerData{};
std::int32_t printerHandle = 0;

void storeDeviceId(PrinterData& record, std::span<const std::uint8_t> identity) {
    // An empty span may have no bytes behind it at all.
    const void* nul = identity.empty() ? nullptr : std::memchr(identity.data(), '\0', identity.size());
    std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - identity.data())
            : identity.size();
    setFieldText(record.deviceId, std::string_view(reinterpret_cast<const char*>(identity.data()), length));
}

}  // namespace morlix

using morlix::platform::debugPrintf;

extern "C" int32_t GetPrinterDetailVB(int32_t* portType, int32_t* logicBoardType, int32_t* printerType,
                                      int32_t* printerModel) {
    const morlix::PrinterData& record = morlix::printerData;
    debugPrintf("GetPrinterDetailVB - Logic Board type = %d", record.logicBdType);
    if (portType) *portType = record.portType;
    if (logicBoardType) *logicBoardType = record.logicBdType;
    if (printerType) *printerType = record.printerType;
    if (printerModel) *printerModel = record.printerModel;
    return 0;
}
