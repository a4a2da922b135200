// The operator's message for each result code of the soft font converter:
// the program's conversion step and the preview show the same texts.
#pragma once

#include <array>
#include <cstdint>

namespace velquin {

// Messages of the result codes 0 to 29, by code.
inline constexpr std::array<const char*, 30> CONVERSION_MESSAGES = {
    "Good",
    "Soft font file not found",
    "Error application could not allocate memory",
    "Soft Font header too long",
    "Error application could not read Soft Font header",
    "Error application bad character",
    "Error Soft Font is type INTELLIFONT BOUND SCALEABLE",
    "Error Soft Font is type INTELLIFONT UNBOUND SCALEABLE",
    "Error Soft Font is type TRUE TYPE SCALEABLE",
    "Error Soft Font is RESOLUTION SPECIFIED BITMAP",
    "Error Soft Font is FONT TYPE 1 Not compatable",
    "Error Soft Font is FONT TYPE 2 Not compatable",
    "Error Soft Font is FONT TYPE 10 Not compatable",
    "Error Soft Font is FONT TYPE 11 Not compatable",
    "Error Soft Font is LANDSCAPE MODE",
    "Error Soft Font is REVERSE PORTRAIT MODE",
    "Error Soft Font is REVERSE LANDSCAPE MODE",
    "Error Soft Font is of UNKNOWN ORIENTATION",
    "Error Soft Font spacing unknown",
    "Error Soft Font type greater than 2",
    "Error application reading character generator data",
    "Error first byte of character generator NOT escape character",
    "Error second byte of character generator NOT Asterisk",
    "Error third byte of character generator is NOT c",
    "Error no terminating E in character generator",
    "Error read character default",
    nullptr,  // 26 ends a font inside the converter and never reaches the program
    "Error application could not write the converted file",
    "Error Soft Font converts to more than any printer's flash can hold (9,000,000 bytes)",
    "Error Soft Font file larger than any soft font can be (16 MiB)",
};

// The message of a result code, or nullptr for a code that has none.
inline constexpr const char* conversionMessage(std::int32_t code) {
    return code >= 0 && code < static_cast<std::int32_t>(CONVERSION_MESSAGES.size())
               ? CONVERSION_MESSAGES[static_cast<std::size_t>(code)]
               : nullptr;
}

}  // namespace velquin
