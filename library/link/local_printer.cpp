// Local printer discovery and device output.
#include "local_printer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <span>
#include <string>

#include "identity.h"
#include "morlix/morlix.h"
#include "morlix/printer_codes.h"
#include "platform/debug_output.h"
#include "platform/device_io.h"
#include "platform/operator_message.h"
#include "platform/sleep.h"
#include "query_protocol.h"

namespace morlix {

using platform::debugOutput;
using platform::debugPrintf;

const UsbPrinterRow usbPrinterTable[USB_PRINTER_ROWS + 1] = {
    {"USB printer 1", "/dev/usb/lp0"},
    {"USB printer 2", "/dev/usb/lp1"},
    {"USB printer 3", "/dev/usb/lp2"},
    {"USB printer 4", "/dev/usb/lp3"},
    {"USB printer 5", "/dev/usb/lp4"},
    {"USB printer 6", "/dev/usb/lp5"},
    {"USB printer 7", "/dev/usb/lp6"},
    {"USB printer 8", "/dev/usb/lp7"},
    {"USB printer 9", "/dev/usb/lp8"},
    {"USB printer 10", "/dev/usb/lp9"},
    {"USB printer 11", "/dev/usb/lp10"},
    {"USB printer 12", "/dev/usb/lp11"},
    {"USB printer 13", "/dev/usb/lp12"},
    {"USB printer 14", "/dev/usb/lp13"},
    {"USB printer 15", "/dev/usb/lp14"},
    {"USB printer 16", "/dev/usb/lp15"},
    {"END", ""},
};

namespace {

bool isEndRow(const UsbPrinterRow& row) {
    return fieldText(row.modelName) == "END";
}

struct ParallelPort {
    const char* logLine;
    const char* devicePath;
};

ParallelPort parallelPort(int portNumber) {
    switch (portNumber) {
        case 2:
            return {"IsPrinterPARALLEL - LPT2", "/dev/lp1"};
        case 3:
            return {"IsPrinterPARALLEL - LPT3", "/dev/lp2"};
        default:
            return {"IsPrinterPARALLEL - LPT1", "/dev/lp0"};
    }
}

// The write dump: eight bytes to a line, each line ending in the number of
// bytes dumped so far.
void logWrittenBytes(std::span<const std::uint8_t> data) {
    if (!platform::debugListening()) return;
    std::string line;
    char text[48];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(text, sizeof text, "%2.2X - ", data[i]);
        line += text;
        const std::size_t dumped = i + 1;
        if (dumped % 8 == 0 || dumped == data.size()) {
            std::snprintf(text, sizeof text, "  <- %d total bytes written", static_cast<int>(dumped));
            line += text;
            debugOutput(line);
            line.clear();
        }
    }
}

// A device that failed to open because another holder has it locked.
void logHeldElsewhere(std::string_view devicePath) {
    if (errno == EBUSY)
        debugPrintf("%.*s is in use by another program: not available", static_cast<int>(devicePath.size()),
                    devicePath.data());
}

}  // namespace

bool FindUsbPrinter(std::int32_t* handle) {
    if (isEndRow(usbPrinterTable[0])) return false;
    for (const UsbPrinterRow& row : usbPrinterTable) {
        if (isEndRow(row)) break;
        *handle = platform::openDevice(fieldText(row.devicePath), platform::DeviceSharing::Shared);
        if (*handle != platform::INVALID_HANDLE) return true;
        logHeldElsewhere(fieldText(row.devicePath));
    }
    return false;
}

bool IsPrinterPARALLEL(std::int32_t* handle, int portNumber) {
    debugOutput("IsPrinterPARALLEL -  entry");
    const ParallelPort port = parallelPort(portNumber);
    debugOutput(port.logLine);

    *handle = platform::openDevice(port.devicePath, platform::DeviceSharing::Exclusive);
    if (*handle == platform::INVALID_HANDLE) {
        logHeldElsewhere(port.devicePath);
        debugOutput("IsPrinterPARALLEL - INVALID_HANDLE_VALUE");
        return false;
    }
    std::uint8_t status[1024] = {};
    std::int32_t count = 0;
    const int result = GetPrinterStatusData(*handle, status, &count, 0, nullptr, 0);
    if (result == STATUS_READ_OK && count > 4) {
        // The test needed the port alone; the printer is kept on a shared handle.
        platform::handleClose(*handle);
        *handle = platform::openDevice(port.devicePath, platform::DeviceSharing::Shared);
        if (*handle == platform::INVALID_HANDLE) {
            debugOutput("IsPrinterPARALLEL - INVALID_HANDLE_VALUE");
            return false;
        }
        platform::sleepMs(200);
        return true;
    }
    if (result == STATUS_READ_OK) {
        const std::uint8_t zero = 0;
        platform::handleWrite(*handle, std::span(&zero, 1));
    }
    platform::handleClose(*handle);
    *handle = platform::INVALID_HANDLE;
    return false;
}

bool findPrinterPARALLEL(std::int32_t* handle) {
    debugOutput("findPrinterPARALLEL - Entry");
    bool found = false;
    for (int port = 1; port <= 3 && !found; ++port) found = IsPrinterPARALLEL(handle, port);
    if (!found) return false;

    platform::PortTimeouts timeouts;
    if (!platform::getPortTimeouts(*handle, timeouts)) {
        platform::operatorMessage("GetCommTimeouts failed");
        return true;
    }
    debugPrintf("CTO = rit %d rttc %d rttm %d wttc %d wttm %d", static_cast<int>(timeouts.readInterval),
                static_cast<int>(timeouts.readTotalConstant), static_cast<int>(timeouts.readTotalMultiplier),
                static_cast<int>(timeouts.writeTotalConstant),
                static_cast<int>(timeouts.writeTotalMultiplier));
    if (timeouts.writeTotalConstant < PARALLEL_WRITE_TIMEOUT_MS) {
        timeouts.writeTotalConstant = PARALLEL_WRITE_TIMEOUT_MS;
        if (!platform::setPortTimeouts(*handle, timeouts)) platform::operatorMessage("Set cto failed");
    }
    return true;
}

bool GetPrinterHandle(std::int32_t* handle, PrinterData& record) {
    debugOutput("GetPrinterHandle - entry");
    if (FindUsbPrinter(handle)) {
        debugOutput("GetPrinterHandle - Found USB printer");
        record.portType = morlix::PORT_TYPE_USB;
        return true;
    }
    debugOutput("GetPrinterHandle - Did not find USB printer");
    if (findPrinterPARALLEL(handle)) {
        debugOutput("GetPrinterHandle - Found Parallel printer");
        record.portType = morlix::PORT_TYPE_PARALLEL;
        return true;
    }
    debugOutput("GetPrinterHandle - Did not find Parallel printer");
    record.portType = morlix::PORT_TYPE_UNKNOWN;
    return false;
}

bool QueryDeviceId(std::int32_t handle, PrinterData& record) {
    std::uint8_t identity[platform::DEVICE_ID_BUFFER_SIZE];
    const platform::IoResult read = platform::handleQueryDeviceId(handle, identity);
    if (!read.ok) {
        debugPrintf("Error = %d, IOCTL = %X", read.error, platform::deviceIdRequestCode(sizeof identity));
        return false;
    }
    storeDeviceId(record, std::span<const std::uint8_t>(identity, read.bytes));
    platform::sleepMs(250);
    return true;
}

}  // namespace morlix

using morlix::platform::debugOutput;
using morlix::platform::debugPrintf;

extern "C" int32_t GetPrinterHandleVB(int32_t* handle) {
    try {
        debugOutput("GetPrinterHandleVB - Entry");
        std::int32_t found = morlix::platform::INVALID_HANDLE;
        if (!morlix::GetPrinterHandle(&found, morlix::printerData)) {
            // No stale number survives a failed search: it may name another file by now.
            morlix::printerHandle = 0;
            debugOutput("GetPrinterHandleVB - Did not find printer");
            return 1;
        }
        morlix::printerHandle = found;
        debugPrintf("GetPrinterHandleVB - found printer handle = %d", found);
        morlix::QueryDeviceId(found, morlix::printerData);
        morlix::ParseModelFromID(&morlix::printerData);
        morlix::GetFWVersionFromID(&morlix::printerData);
        if (handle) *handle = found;
        return 0;
    } catch (...) {
        return 1;
    }
}

extern "C" int32_t ClosePrinterHandleVB(int32_t handle) {
    morlix::platform::handleClose(handle);
    if (handle == morlix::printerHandle) morlix::printerHandle = 0;
    return 0;
}

extern "C" int32_t WritePrinterVB(int32_t handle, const uint8_t* data, uint32_t byteCount) {
    try {
        debugPrintf("WritePrinterVB - Entry Handle = %X, Number of bytes to write = %ld", handle,
                    static_cast<long>(byteCount));
        if (data == nullptr && byteCount > 0) {
            debugOutput("WritePrinterVB - Failure");
            return 1;
        }
        const std::span<const std::uint8_t> bytes(data, data ? byteCount : 0);
        morlix::logWrittenBytes(bytes);
        const morlix::platform::IoResult written = morlix::platform::handleWrite(handle, bytes);
        if (!written.ok) {
            debugPrintf("WritePrinterVB - device took %lu of %lu bytes, error %d",
                        static_cast<unsigned long>(written.bytes), static_cast<unsigned long>(bytes.size()),
                        written.error);
            debugOutput("WritePrinterVB - Failure");
            return 1;
        }
        debugOutput("WritePrinterVB - Success");
        return 0;
    } catch (...) {
        return 1;
    }
}
