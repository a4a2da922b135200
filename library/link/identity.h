// Turning the printer's identity text into the facts of the printer record.
#pragma once

#include "printer_data.h"

namespace morlix {

// Reads the "MDL:" key: fills printerName, printerType and printerModel.
// False when the identity has no "MDL:" (printerType becomes 1 regardless).
bool ParseModelFromID(PrinterData* record);

// Reads the "FWV:" key: fills firmwareVersion and, from its first digit,
// logicBdType.
void GetFWVersionFromID(PrinterData* record);

// The firmware version text as a number: from its first digit on, decimal
// digits with an optional fraction and exponent; 0 when it has no digit.
float firmwareVersionNumber(std::string_view versionText);

}  // namespace morlix
