#include "device_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>

#include "device_backend.h"

namespace morlix::platform {
namespace {

// What the layer knows of a handle it opened. The descriptor's identity is
// kept so that a number closed behind the layer's back and reused for
// another file is not mistaken for the device.
struct OpenDevice {
    const DeviceBackend* backend;
    dev_t fileDevice;
    ino_t fileInode;
    std::string port;
};

std::unordered_map<int, OpenDevice>& openDevices() {
    static std::unordered_map<int, OpenDevice> devices;
    return devices;
}

// Time-out records by port; a port keeps its record across opens, as the
// parallel driver keeps its time-out.
std::map<std::string, PortTimeouts, std::less<>>& portTimeouts() {
    static std::map<std::string, PortTimeouts, std::less<>> records;
    return records;
}

PortTimeouts defaultTimeouts() {
    PortTimeouts timeouts;
    timeouts.writeTotalConstant = DRIVER_DEFAULT_WRITE_TIMEOUT_MS;
    return timeouts;
}

// The device the layer opened as `handle`, or nullptr when it did not open it
// (or the number now names another file).
OpenDevice* knownDevice(int handle) {
    auto found = openDevices().find(handle);
    if (found == openDevices().end()) return nullptr;
    struct stat status {};
    if (::fstat(handle, &status) != 0 || status.st_dev != found->second.fileDevice ||
        status.st_ino != found->second.fileInode) {
        openDevices().erase(found);
        return nullptr;
    }
    return &found->second;
}

const DeviceBackend& backendOf(int handle) {
    const OpenDevice* device = knownDevice(handle);
    return device ? *device->backend : LINUX_PRINTER_DEVICE;
}

// Moves a descriptor to 3 or above, so that it can never be taken for a
// standard stream or the program's "no printer".
int raiseDescriptor(int fd) {
    if (fd >= FIRST_PRINTER_HANDLE) return fd;
    int raised = ::fcntl(fd, F_DUPFD_CLOEXEC, FIRST_PRINTER_HANDLE);
    int saved = errno;
    ::close(fd);
    errno = saved;
    return raised;
}

}  // namespace

bool waitReadable(int fd, int timeoutMs) {
    struct pollfd watch {
        fd, POLLIN, 0
    };
    for (;;) {
        int ready = ::poll(&watch, 1, timeoutMs);
        if (ready > 0) return true;
        if (ready == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        if (errno != EINTR) return false;
    }
}

std::string resolveDevicePath(std::string_view devicePath) {
    const char* root = std::getenv("MORLIX_DEVICE_ROOT");
    std::string path = root ? root : "";
    while (!path.empty() && path.back() == '/') path.pop_back();
    path.append(devicePath);
    return path;
}

int openDevice(std::string_view devicePath, DeviceSharing sharing) {
    const std::string path = resolveDevicePath(devicePath);
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return INVALID_HANDLE;
    const DeviceBackend& backend = S_ISSOCK(status.st_mode) ? SIMULATED_PRINTER_DEVICE : LINUX_PRINTER_DEVICE;
    int fd = backend.open(path.c_str(), sharing);
    if (fd < 0) return INVALID_HANDLE;
    fd = raiseDescriptor(fd);
    if (fd < 0) return INVALID_HANDLE;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return INVALID_HANDLE;
    }
    try {
        openDevices().insert_or_assign(fd, OpenDevice{&backend, opened.st_dev, opened.st_ino, path});
    } catch (...) {
        ::close(fd);
        errno = ENOMEM;
        return INVALID_HANDLE;
    }
    return fd;
}

IoResult handleRead(int handle, std::span<std::uint8_t> buffer) {
    if (!isPrinterHandle(handle)) return {false, 0, EBADF};
    return backendOf(handle).read(handle, buffer);
}

IoResult handleWrite(int handle, std::span<const std::uint8_t> data) {
    if (!isPrinterHandle(handle)) return {false, 0, EBADF};
    return backendOf(handle).write(handle, data);
}

std::uint32_t deviceIdRequestCode(std::size_t length) {
    // The USB printer driver's "get device ID" request: read, type 'P', number 1.
    return _IOC(_IOC_READ, 'P', 1, static_cast<unsigned>(length));
}

std::span<const std::uint8_t> deviceIdText(std::span<const std::uint8_t> raw) {
    if (raw.size() < 2) return {};
    const std::size_t bigEndian = (std::size_t{raw[0]} << 8) | raw[1];
    const std::size_t swapped = (std::size_t{raw[1]} << 8) | raw[0];
    auto fits = [&](std::size_t length) { return length >= 2 && length <= raw.size(); };
    if (fits(bigEndian)) return raw.subspan(2, bigEndian - 2);
    if (fits(swapped)) return raw.subspan(2, swapped - 2);
    auto isText = [](std::uint8_t byte) { return byte >= 0x20 && byte < 0x7F; };
    if (isText(raw[0]) && isText(raw[1])) return raw;  // no prefix at all
    return raw.subspan(2);                             // a prefix claiming more than arrived
}

IoResult handleQueryDeviceId(int handle, std::span<std::uint8_t> buffer) {
    if (!isPrinterHandle(handle)) return {false, 0, EBADF};
    IoResult raw = backendOf(handle).queryDeviceId(handle, buffer);
    if (!raw.ok) return raw;
    const std::span<const std::uint8_t> text = deviceIdText(buffer.first(raw.bytes));
    // Move the text to the start of the buffer; the ranges may overlap.
    if (!text.empty() && text.data() != buffer.data()) std::memmove(buffer.data(), text.data(), text.size());
    return {true, text.size(), 0};
}

bool getPortTimeouts(int handle, PortTimeouts& timeouts) {
    if (!isPrinterHandle(handle)) return false;
    const OpenDevice* device = knownDevice(handle);
    if (!device) return false;
    auto record = portTimeouts().find(device->port);
    timeouts = record != portTimeouts().end() ? record->second : defaultTimeouts();
    return true;
}

bool setPortTimeouts(int handle, const PortTimeouts& timeouts, int* error) {
    int failure = EBADF;
    if (isPrinterHandle(handle)) {
        if (const OpenDevice* device = knownDevice(handle)) {
            failure = device->backend->applyWriteTimeout(handle, timeouts.writeTotalConstant);
            if (failure == 0) {
                try {
                    portTimeouts().insert_or_assign(device->port, timeouts);
                    return true;
                } catch (...) {
                    failure = ENOMEM;
                }
            }
        }
    }
    if (error) *error = failure;
    return false;
}

bool handleClose(int handle) {
    if (!isPrinterHandle(handle)) return false;
    openDevices().erase(handle);
    return ::close(handle) == 0;
}

}  // namespace morlix::platform
