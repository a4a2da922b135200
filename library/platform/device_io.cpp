#include "device_io.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
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
    std::string port;        // the path opened, under the device root
    std::string devicePath;  // the path asked for, such as /dev/lp0
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

bool waitReady(int fd, short events, Deadline deadline) {
    struct pollfd watch {
        fd, events, 0
    };
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int wait =
            static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT32_MAX));
        int ready = ::poll(&watch, 1, wait);
        if (ready > 0) return true;
        if (ready == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        if (errno != EINTR) return false;
    }
}

SigpipeBlock::SigpipeBlock() {
    sigset_t pipe, old, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    // One already waiting belongs to someone else and is left for them.
    wasPending_ = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    wasBlocked_ = ::pthread_sigmask(SIG_BLOCK, &pipe, &old) != 0 || sigismember(&old, SIGPIPE) == 1;
}

SigpipeBlock::~SigpipeBlock() {
    sigset_t pipe, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    if (!wasPending_ && ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const timespec now{0, 0};
        while (::sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    if (!wasBlocked_) ::pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
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
        openDevices().insert_or_assign(
            fd, OpenDevice{&backend, opened.st_dev, opened.st_ino, path, std::string(devicePath)});
    } catch (...) {
        ::close(fd);
        errno = ENOMEM;
        return INVALID_HANDLE;
    }
    return fd;
}

namespace {

PortTimeouts timeoutsOf(const OpenDevice* device) {
    if (!device) return defaultTimeouts();
    auto record = portTimeouts().find(device->port);
    return record != portTimeouts().end() ? record->second : defaultTimeouts();
}

// Total time-out of a transfer of `bytes`: constant plus multiplier per byte,
// saturated at about 24 days (what poll can wait).
std::uint32_t totalMs(std::uint32_t constant, std::uint32_t multiplier, std::size_t bytes) {
    const std::uint64_t total = std::uint64_t{constant} + std::uint64_t{multiplier} * bytes;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(total, INT32_MAX));
}

}  // namespace

std::uint32_t readLimitMs(int handle, std::size_t bytes) {
    const PortTimeouts timeouts = timeoutsOf(isPrinterHandle(handle) ? knownDevice(handle) : nullptr);
    if (timeouts.readTotalConstant == 0 && timeouts.readTotalMultiplier == 0) return DEVICE_ANSWER_TIMEOUT_MS;
    return totalMs(timeouts.readTotalConstant, timeouts.readTotalMultiplier, bytes);
}

IoResult handleRead(int handle, std::span<std::uint8_t> buffer, std::optional<Deadline> deadline) {
    if (!isPrinterHandle(handle)) return {false, 0, EBADF};
    const Deadline limit = deadline ? *deadline : deadlineIn(readLimitMs(handle, buffer.size()));
    return backendOf(handle).read(handle, buffer, limit);
}

IoResult handleWrite(int handle, std::span<const std::uint8_t> data, std::optional<Deadline> deadline) {
    if (!isPrinterHandle(handle)) return {false, 0, EBADF};
    const OpenDevice* device = knownDevice(handle);
    const PortTimeouts timeouts = timeoutsOf(device);
    const Deadline limit =
        deadline
            ? *deadline
            : deadlineIn(totalMs(timeouts.writeTotalConstant, timeouts.writeTotalMultiplier, data.size()));
    return (device ? *device->backend : LINUX_PRINTER_DEVICE).write(handle, data, limit);
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

std::string identityFromAutoprobe(std::string_view autoprobe) {
    static const std::pair<std::string_view, std::string_view> SHORT_KEYS[] = {
        {"MODEL", "MDL"}, {"MANUFACTURER", "MFG"}, {"COMMAND SET", "CMD"},
        {"CLASS", "CLS"}, {"DESCRIPTION", "DES"},
    };
    std::string identity;
    while (!autoprobe.empty()) {
        const std::size_t end = autoprobe.find('\n');
        std::string_view line = autoprobe.substr(0, end);
        autoprobe = end == std::string_view::npos ? std::string_view{} : autoprobe.substr(end + 1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view key = line.substr(0, colon);
        for (const auto& [longKey, shortKey] : SHORT_KEYS)
            if (key == longKey) key = shortKey;
        identity.append(key).append(line.substr(colon));
        if (identity.back() != ';') identity.push_back(';');
    }
    return identity;
}

namespace {

// The parallel port number of a parallel printer node (/dev/lpN), or -1.
int parallelPortNumber(std::string_view devicePath) {
    constexpr std::string_view PREFIX = "/dev/lp";
    if (!devicePath.starts_with(PREFIX) || devicePath.size() == PREFIX.size() ||
        devicePath.size() > PREFIX.size() + 3)
        return -1;
    int number = 0;
    for (char digit : devicePath.substr(PREFIX.size())) {
        if (digit < '0' || digit > '9') return -1;
        number = number * 10 + (digit - '0');
    }
    return number;
}

// The kernel's record of what the printer on parallel port `port` said when
// it was probed: the port's own, else that of a daisy-chained device.
IoResult readAutoprobe(int port, std::span<std::uint8_t> buffer) {
    const std::string folder =
        resolveDevicePath("/proc/sys/dev/parport/parport" + std::to_string(port) + "/");
    for (const char* name : {"autoprobe", "autoprobe0", "autoprobe1", "autoprobe2", "autoprobe3"}) {
        std::ifstream file(folder + name, std::ios::binary);
        if (!file) continue;
        std::string text(DEVICE_ID_BUFFER_SIZE * 2, '\0');
        file.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(file.gcount()));
        const std::string identity = identityFromAutoprobe(text);
        if (identity.empty()) continue;
        const std::size_t length = std::min(identity.size(), buffer.size());
        std::memcpy(buffer.data(), identity.data(), length);
        return {true, length, 0};
    }
    return {false, 0, ENODATA};
}

}  // namespace

IoResult handleQueryDeviceId(int handle, std::span<std::uint8_t> buffer) {
    if (!isPrinterHandle(handle)) return {false, 0, EBADF};
    const OpenDevice* device = knownDevice(handle);
    if (device && device->backend == &LINUX_PRINTER_DEVICE) {
        // The parallel port driver has no identity request of its own.
        const int port = parallelPortNumber(device->devicePath);
        if (port >= 0) return readAutoprobe(port, buffer);
    }
    IoResult raw =
        backendOf(handle).queryDeviceId(handle, buffer, deadlineIn(readLimitMs(handle, buffer.size())));
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
