// Finding a printer attached to this host, by opening its USB or parallel
// device directly, and reading its identity.
#pragma once

#include <cstdint>

#include "printer_data.h"

namespace morlix {

// One row of the known USB printer devices; a row labelled "END" ends the table.
struct UsbPrinterRow {
    char modelName[256];
    char devicePath[256];
};

inline constexpr int USB_PRINTER_ROWS = 16;
extern const UsbPrinterRow usbPrinterTable[USB_PRINTER_ROWS + 1];

// A parallel port keeps at least this write time-out, so that a printer
// that is slow to take data is not taken for a failed write.
inline constexpr std::uint32_t PARALLEL_WRITE_TIMEOUT_MS = 15000;

// Looks for a printer on the USB rows, then on LPT1 to LPT3; sets portType.
bool GetPrinterHandle(std::int32_t* handle, PrinterData& record);

// Opens the first USB row that opens.
bool FindUsbPrinter(std::int32_t* handle);

// Finds the printer on LPT1, LPT2 or LPT3 and makes sure the port's write
// time-out is long enough.
bool findPrinterPARALLEL(std::int32_t* handle);

// True when the printer answers a status read on LPT`portNumber`
// (1 to 3; other numbers mean LPT1); `handle` then holds a shared handle.
bool IsPrinterPARALLEL(std::int32_t* handle, int portNumber);

// Reads the device's identity into the record's deviceId.
bool QueryDeviceId(std::int32_t handle, PrinterData& record);

}  // namespace morlix
