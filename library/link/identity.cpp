#include "identity.h"

#include <charconv>

#include "morlix/morlix.h"
#include "morlix/printer_codes.h"
#include "platform/debug_output.h"

namespace morlix {

using platform::debugOutput;
using platform::debugPrintf;

bool ParseModelFromID(PrinterData* record) {
    record->printerType = morlix::PRINTER_TYPE_NOT_FOUND;
    const std::string_view identity = fieldText(record->deviceId);
    const std::size_t key = identity.find("MDL:");
    record->printerType = morlix::PRINTER_TYPE_KTL;
    if (key == std::string_view::npos) return false;

    std::string_view model = identity.substr(key + 4);
    model = model.substr(0, model.find(';'));
    // A "G" anywhere after the first character marks the G command language.
    if (model.size() > 1 && model.find('G', 1) != std::string_view::npos)
        record->printerType = morlix::PRINTER_TYPE_G;
    setFieldText(record->printerName, model);

    record->printerModel = morlix::PRINTER_MODEL_UNKNOWN;
    debugOutput("**************************** printerData->printerName");
    debugOutput(fieldText(record->printerName));
    const std::string_view name = fieldText(record->printerName);
    if (name.find("RVB") != std::string_view::npos) {
        debugOutput("RVB found");
        record->printerModel = morlix::PRINTER_MODEL_RVB;
    }
    if (name.find("RVA") != std::string_view::npos) {
        debugOutput("RVA found");
        record->printerModel = morlix::PRINTER_MODEL_RVA;
    }
    return true;
}

void GetFWVersionFromID(PrinterData* record) {
    debugOutput("GetFWVersionFromID - entry");
    const std::string_view identity = fieldText(record->deviceId);
    const std::size_t key = identity.find("FWV:");
    if (key == std::string_view::npos) {
        setFieldText(record->firmwareVersion, "Not found");
        debugOutput("GetFWVersionFromID - Printer model NOT found in ID!");
        return;
    }

    std::size_t position = key + 4;
    while (position < identity.size() && identity[position] == 'x') {
        debugOutput("Found x!!!!!!!!!");
        ++position;
    }
    // The version ends at a space, a "(" or the end of the identity; a ";"
    // does not end it.
    std::size_t end = identity.find_first_of(" (", position);
    if (end == std::string_view::npos) end = identity.size();
    const std::string_view version = identity.substr(position, end - position);

    for (char c : version) {
        if (c < '0' || c > '9') continue;
        if (c == '1') {
            record->logicBdType = morlix::LOGIC_BD_I;
            debugOutput("GetFWVersionFromID - LOGIC_BD_I");
        } else if (c == '2') {
            record->logicBdType = morlix::LOGIC_BD_II;
            debugOutput("GetFWVersionFromID - LOGIC_BD_II");
        } else {
            record->logicBdType = morlix::LOGIC_BD_MXR_PLUS;
            debugOutput("GetFWVersionFromID - LOGIC_BD_MXR_PLUS");
        }
        break;
    }
    setFieldText(record->firmwareVersion, version);
    debugOutput("Printer version number");
    debugOutput(fieldText(record->firmwareVersion));
}

float firmwareVersionNumber(std::string_view versionText) {
    const std::size_t firstDigit = versionText.find_first_of("0123456789");
    if (firstDigit == std::string_view::npos) return 0.0f;
    float value = 0.0f;
    const char* begin = versionText.data() + firstDigit;
    auto result =
        std::from_chars(begin, versionText.data() + versionText.size(), value, std::chars_format::general);
    // A number out of a float's range counts as no version at all.
    return result.ec == std::errc{} ? value : 0.0f;
}

}  // namespace morlix

extern "C" int32_t GetPrinterVersionVB(float* version) {
    if (version)
        *version = morlix::firmwareVersionNumber(morlix::fieldText(morlix::printerData.firmwareVersion));
    return 0;
}
