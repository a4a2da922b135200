// Printer device nodes of the Linux USB printer driver (/dev/usb/lpN) and
// parallel printer driver (/dev/lpN).
#include <fcntl.h>
#include <linux/lp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "device_backend.h"

namespace morlix::platform {
namespace {

int openNode(const char* path, DeviceSharing sharing) {
    int fd = ::open(path, O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    // The drivers allow one opener at a time already; the advisory lock makes
    // an exclusive open fail while anyone (of ours) holds the device at all.
    const int mode = sharing == DeviceSharing::Exclusive ? LOCK_EX : LOCK_SH;
    if (::flock(fd, mode | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        errno = EBUSY;
        return -1;
    }
    return fd;
}

IoResult readNode(int fd, std::span<std::uint8_t> buffer) {
    if (!waitReadable(fd, DEVICE_ANSWER_TIMEOUT_MS)) return {false, 0, errno};
    for (;;) {
        ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got >= 0) return {true, static_cast<std::size_t>(got), 0};
        if (errno != EINTR) return {false, 0, errno};
    }
}

IoResult writeNode(int fd, std::span<const std::uint8_t> data) {
    // Nothing to hand over: the write still fails on a descriptor that is not open.
    if (data.empty() && ::fcntl(fd, F_GETFD) == -1) return {false, 0, errno};
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t put = ::write(fd, data.data() + done, data.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return {false, done, errno};
        }
        if (put == 0) return {false, done, EIO};
        done += static_cast<std::size_t>(put);
    }
    return {true, done, 0};
}

IoResult queryNodeDeviceId(int fd, std::span<std::uint8_t> buffer) {
    // The driver copies the identity with its prefix but does not say how
    // many bytes it filled: the rest of the buffer stays zero.
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    const std::size_t length = std::min<std::size_t>(buffer.size(), _IOC_SIZEMASK);
    if (::ioctl(fd, deviceIdRequestCode(length), buffer.data()) < 0) return {false, 0, errno};
    return {true, length, 0};
}

int applyNodeWriteTimeout(int fd, std::uint32_t milliseconds) {
    struct timeval timeout {};
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    return ::ioctl(fd, LPSETTIMEOUT, &timeout) == 0 ? 0 : errno;
}

}  // namespace

const DeviceBackend LINUX_PRINTER_DEVICE = {
    "printer device", openNode, readNode, writeNode, queryNodeDeviceId, applyNodeWriteTimeout,
};

}  // namespace morlix::platform
