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

    // One read of up to buffer.size() bytes, the whole answer by `deadline`
    // (else ETIMEDOUT).
    IoResult (*read)(int fd, std::span<std::uint8_t> buffer, Deadline deadline);

    // Hands all of `data` to the device by `deadline`; fails when the device
    // stops taking it or the deadline passes, with the bytes it did take.
    IoResult (*write)(int fd, std::span<const std::uint8_t> data, Deadline deadline);

    // The raw identity bytes as the device gives them, 2-byte length prefix
    // first, at most buffer.size(). `bytes` may count trailing bytes the
    // device did not fill (they are zero).
    IoResult (*queryDeviceId)(int fd, std::span<std::uint8_t> buffer, Deadline deadline);

    // Makes the device use this write time-out. Returns 0 or an errno.
    int (*applyWriteTimeout)(int fd, std::uint32_t milliseconds);
};

// Printer device nodes of the kernel's USB and parallel printer drivers;
// also serves descriptors the layer did not open.
extern const DeviceBackend LINUX_PRINTER_DEVICE;

// A printer simulator behind a UNIX-domain socket (velquin/sim_device_protocol.h).
extern const DeviceBackend SIMULATED_PRINTER_DEVICE;

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT); false with errno
// ETIMEDOUT (or the poll error) when it is not by `deadline`. A hang-up or
// error on the descriptor counts as ready: the next call reports it.
bool waitReady(int fd, short events, Deadline deadline);

// Runs a write on a descriptor that may not be a socket: SIGPIPE is blocked
// for the calling thread meanwhile and one raised by the write is consumed,
// so the caller never receives it and its own signal settings stay as they were.
class SigpipeBlock {
public:
    SigpipeBlock();
    ~SigpipeBlock();
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    bool wasPending_ = false;
    bool wasBlocked_ = false;
};

}  // namespace morlix::platform
