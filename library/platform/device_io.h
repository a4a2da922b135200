// The printer device contract: open, read, write, identity query, port
// time-outs and close, the same for every kind of device behind it.
//
// A handle at the library interface is a descriptor number. The layer never
// hands out one below 3; values below 3 (the standard streams, and the
// program's 0 for "no printer") are never a printer handle, and every call on
// them fails without touching the descriptor. The layer decides a handle's
// backend when it opens the device (a real printer device node, or a
// UNIX-domain socket served by the printer simulator) and forgets it when the
// handle is closed; a descriptor the layer did not open is a plain device
// that is read and written.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace morlix::platform {

inline constexpr int FIRST_PRINTER_HANDLE = 3;
inline constexpr int INVALID_HANDLE = -1;

inline bool isPrinterHandle(int handle) {
    return handle >= FIRST_PRINTER_HANDLE;
}

using Deadline = std::chrono::steady_clock::time_point;

// The deadline `milliseconds` from now.
inline Deadline deadlineIn(std::uint32_t milliseconds) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

struct IoResult {
    bool ok = false;
    std::size_t bytes = 0;  // bytes moved when ok
    int error = 0;          // errno when not ok
};

// The sharing a caller asks for. A printer device node is held by one opener
// at a time on the whole machine whatever is asked (two programs driving one
// printer would mix their data); a simulated device takes any number.
enum class DeviceSharing {
    Exclusive,
    Shared,
};

// A port's communication time-outs in milliseconds. Linux keeps only the
// write time-out of a parallel port in the driver and has no way to read it
// back, so the layer keeps the record of every port itself.
struct PortTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

// The parallel driver's own write time-out until someone sets another.
inline constexpr std::uint32_t DRIVER_DEFAULT_WRITE_TIMEOUT_MS = 10000;

// How long a read or an identity query may take as a whole, unless the
// port's read total time-out says otherwise.
inline constexpr int DEVICE_ANSWER_TIMEOUT_MS = 15000;

// The identity buffer size the library asks for.
inline constexpr std::size_t DEVICE_ID_BUFFER_SIZE = 1024;

// Where a device path is looked up: under $MORLIX_DEVICE_ROOT when that is
// set, so tests and the demo place simulated printers without touching /dev.
std::string resolveDevicePath(std::string_view devicePath);

// Opens an existing device (never creates one) for reading and writing.
// Returns a handle of 3 or more, or INVALID_HANDLE with errno set. A printer
// device node is locked (advisory, whole machine) while it is open: EBUSY
// when another process, or another open here, holds it.
int openDevice(std::string_view devicePath, DeviceSharing sharing);

// One read of up to buffer.size() bytes, done by `deadline` (default: the
// port's read total time-out, else DEVICE_ANSWER_TIMEOUT_MS from now).
IoResult handleRead(int handle, std::span<std::uint8_t> buffer, std::optional<Deadline> deadline = {});

// One write of all the bytes (repeated until all are taken or it fails),
// done by `deadline` (default: the port's write total time-out, constant plus
// multiplier per byte, from now). A failure gives the bytes the device took.
IoResult handleWrite(int handle, std::span<const std::uint8_t> data, std::optional<Deadline> deadline = {});

// The time a read on the port behind `handle` may take as a whole.
std::uint32_t readLimitMs(int handle, std::size_t bytes);

// Asks the device for its IEEE 1284 identity. On success the identity text
// stands at the start of `buffer` (the device's length prefix removed) and
// `bytes` is its length. A parallel port's identity is the one the kernel
// read at probe time (/proc/sys/dev/parport/parportN/autoprobe*); other
// devices are asked with the USB printer driver's request.
IoResult handleQueryDeviceId(int handle, std::span<std::uint8_t> buffer);

// The identity text of a parallel port's autoprobe data: the kernel's lines
// "KEY:value;" with its long key names put back to the device ID's short ones
// (MODEL to MDL, MANUFACTURER to MFG, COMMAND SET to CMD, CLASS to CLS,
// DESCRIPTION to DES); other keys are kept as they are.
std::string identityFromAutoprobe(std::string_view autoprobe);

// The request code of the identity query for a buffer of `length` bytes.
std::uint32_t deviceIdRequestCode(std::size_t length);

// The identity text inside the raw bytes a device gave: a 2-byte length
// prefix that counts itself is expected first, big-endian; a byte-swapped
// prefix is accepted, a missing one (text from the first byte) tolerated, and
// a prefix longer than what arrived is cut to it. Never reaches outside `raw`.
std::span<const std::uint8_t> deviceIdText(std::span<const std::uint8_t> raw);

// The time-out record of the port behind `handle`; false for a handle the
// layer did not open.
bool getPortTimeouts(int handle, PortTimeouts& timeouts);

// Applies the write time-out to the port and keeps the record; false (errno
// in `error`) when the device refused it, and then the record is unchanged.
bool setPortTimeouts(int handle, const PortTimeouts& timeouts, int* error = nullptr);

// Closes a printer handle and forgets it; false when it is no handle or the
// close failed.
bool handleClose(int handle);

}  // namespace morlix::platform
