// The operations every kind of printer device provides to the device layer
// (device_io.cpp). Each backend works on descriptors only; the layer keeps
// which handle belongs to which backend and port.
#pragma once

#include <cstdint>
#include <span>

#include "device_io.h"

namespace morlix::platform {

struct DeviceBackend {
    const char* name;

    // Opens the existing device at `path` for reading and writing, honouring
    // `sharing`. Returns a descriptor, or -1 with errno set.
    int (*open)(const char* path, DeviceSharing sharing);

    // One read of up to buffer.size() bytes; waits at most
    // DEVICE_ANSWER_TIMEOUT_MS for the device (then ETIMEDOUT).
    IoResult (*read)(int fd, std::span<std::uint8_t> buffer);

    // Hands all of `data` to the device; fails when the device stops taking it.
    IoResult (*write)(int fd, std::span<const std::uint8_t> data);

    // The raw identity bytes as the device gives them, 2-byte length prefix
    // first, at most buffer.size(). `bytes` may count trailing bytes the
    // device did not fill (they are zero).
    IoResult (*queryDeviceId)(int fd, std::span<std::uint8_t> buffer);

    // Makes the device use this write time-out. Returns 0 or an errno.
    int (*applyWriteTimeout)(int fd, std::uint32_t milliseconds);
};

// Printer device nodes of the kernel's USB and parallel printer drivers;
// also serves descriptors the layer did not open.
extern const DeviceBackend LINUX_PRINTER_DEVICE;

// A printer simulator behind a UNIX-domain socket (velquin/sim_device_protocol.h).
extern const DeviceBackend SIMULATED_PRINTER_DEVICE;

// Waits until `fd` is readable; false with errno ETIMEDOUT (or the poll
// error) when it is not within `timeoutMs`.
bool waitReadable(int fd, int timeoutMs);

}  // namespace morlix::platform
