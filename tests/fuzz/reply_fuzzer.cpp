// Fuzzes what the library makes of a printer's replies: the identity (with
// a device's length prefix, a parallel port's autoprobe text, and the model
// and firmware read from it), the flash reply and the decimal numbers in it.
// Beyond what the sanitizers catch, every text stays inside its field.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "link/identity.h"
#include "link/printer_data.h"
#include "link/query_protocol.h"
#include "platform/device_io.h"

namespace {

template <std::size_t N>
void requireTerminated(const char (&field)[N]) {
    if (std::memchr(field, '\0', N) == nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> reply(data, size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // A device's identity: the text inside its length prefix never reaches outside.
    const std::span<const std::uint8_t> identity = morlix::platform::deviceIdText(reply);
    if (!identity.empty() && (identity.data() < data || identity.data() + identity.size() > data + size))
        std::abort();
    morlix::platform::identityFromAutoprobe(text);

    for (const std::span<const std::uint8_t> received : {reply, identity}) {
        morlix::PrinterData record{};
        morlix::storeDeviceId(record, received);
        morlix::ParseModelFromID(&record);
        morlix::GetFWVersionFromID(&record);
        requireTerminated(record.deviceId);
        requireTerminated(record.printerName);
        requireTerminated(record.firmwareVersion);
    }
    morlix::firmwareVersionNumber(text);

    // The flash reply and its number.
    if (const auto free = morlix::flashSpaceFromReply(reply); free && (size == 0 || data[0] != 'A'))
        std::abort();
    morlix::parseDecimalPrefix(reply);
    return 0;
}
