// Moving the spooler's printer queues off the USB and parallel devices that
// the library opens itself, and back again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morlix {

// A spooler queue as enumerated: its name and its port, the device URI.
struct PrinterRecord {
    std::string printerName;
    std::string portName;
};

// The file device a moved queue stands on meanwhile. The queue is stopped
// while it stands there, so its jobs wait for it to be put back.
inline constexpr std::string_view FILE_PORT = "file:/dev/null";

// The queues as the last enumeration found them, each with the port it had
// before this library first moved it; and the same with the moved queues on
// FILE_PORT. The two differ exactly in the ports of the moved queues.
extern std::vector<PrinterRecord> enumeratedPrinters;
extern std::vector<PrinterRecord> redirectedPrinters;
extern std::size_t printerCount;

// Reads the spooler's queues into both tables; false when they could not be
// allocated. With no queue (or no spooler) the tables stay as they were.
bool EnumeratePrinters();

// True for the port of a USB or parallel device: a device URI of the scheme
// "usb" or "parallel", compared case-sensitively as the spooler names them.
bool isPortSwap(std::string_view portName);

// With `redirect` set, stops the queue and moves it onto FILE_PORT, noted in
// the redirection record first (a queue another live process moved is left
// to it); otherwise puts the record's port back, provided the queue still
// stands on FILE_PORT (a queue someone else changed meanwhile is left
// alone), and starts it again unless it was stopped before the move.
bool SetPortToFile(PrinterRecord& record, std::uint8_t redirect);

}  // namespace morlix
