// The library's one printer record and its other globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace morlix {

struct PrinterData {
    char printerName[2048];      // model text from the identity's "MDL:" key
    char firmwareVersion[1024];  // version text from "FWV:", or "Not found"
    char deviceId[1024];         // the identity exactly as last received
    std::int32_t portType;
    std::int32_t logicBdType;
    std::int32_t printerType;
    std::int32_t printerModel;
};

// Zero at load; written by every search and network connection.
extern PrinterData printerData;

// Handle of the local printer found by the last successful search; the
// flash-space query asks through it. 0 when there is none.
extern std::int32_t printerHandle;

// Stores received identity bytes as the text of `deviceId`: at most what
// fits with its terminator, cut at the first NUL.
void storeDeviceId(PrinterData& record, std::span<const std::uint8_t> identity);

// The text of a fixed-width field, up to its terminator or its end.
template <std::size_t N>
std::string_view fieldText(const char (&field)[N]) {
    std::size_t length = 0;
    while (length < N && field[length] != '\0') ++length;
    return {field, length};
}

// Copies `text` into a fixed-width field, cut to fit, always terminated.
template <std::size_t N>
void setFieldText(char (&field)[N], std::string_view text) {
    std::size_t length = text.size() < N ? text.size() : N - 1;
    for (std::size_t i = 0; i < length; ++i) field[i] = text[i];
    field[length] = '\0';
}

}  // namespace morlix
