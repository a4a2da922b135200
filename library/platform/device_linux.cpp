// Printer device nodes of the Linux USB printer driver (/dev/usb/lpN) and
// parallel printer driver (/dev/lpN).
#include <fcntl.h>
#include <linux/lp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "device_backend.h"

namespace morlix::platform {
namespace {

// A write on a descriptor that blocks is kept this small, so that it can
// never wait much past the moment poll said the device had room.
constexpr std::size_t BLOCKING_WRITE_PIECE = 4096;
// A driver without poll reports ready at once; a device that then says
// "try again" is asked again after this pause rather than in a busy loop.
constexpr auto RETRY_PAUSE = std::chrono::milliseconds(10);

int openNode(const char* path, DeviceSharing /*sharing*/) {
    // Not blocking: every wait is a poll with a deadline.
    int fd = ::open(path, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    // A printer is driven by one holder at a time on the whole machine: the
    // lock keeps a second program (another user, another session) off it
    // while this one has it open, whatever sharing the caller asked for.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool pastDeadline(Deadline deadline) {
    return std::chrono::steady_clock::now() >= deadline;
}

IoResult readNode(int fd, std::span<std::uint8_t> buffer, Deadline deadline) {
    for (;;) {
        if (!waitReady(fd, POLLIN, deadline)) return {false, 0, errno};
        ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got >= 0) return {true, static_cast<std::size_t>(got), 0};
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return {false, 0, errno};
        if (pastDeadline(deadline)) return {false, 0, ETIMEDOUT};
        std::this_thread::sleep_for(RETRY_PAUSE);
    }
}

IoResult writeNode(int fd, std::span<const std::uint8_t> data, Deadline deadline) {
    // Nothing to hand over: the write still fails on a descriptor that is not open.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1) return {false, 0, errno};
    const bool blocking = (flags & O_NONBLOCK) == 0;
    SigpipeBlock noSigpipe;  // a pipe or socket whose reader has gone
    std::size_t done = 0;
    while (done < data.size()) {
        if (!waitReady(fd, POLLOUT, deadline)) return {false, done, errno};
        std::size_t piece = data.size() - done;
        if (blocking) piece = std::min(piece, BLOCKING_WRITE_PIECE);
        ssize_t put = ::write(fd, data.data() + done, piece);
        if (put < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return {false, done, errno};
            if (pastDeadline(deadline)) return {false, done, ETIMEDOUT};
            std::this_thread::sleep_for(RETRY_PAUSE);
            continue;
        }
        if (put == 0) return {false, done, EIO};
        done += static_cast<std::size_t>(put);
    }
    return {true, done, 0};
}

IoResult queryNodeDeviceId(int fd, std::span<std::uint8_t> buffer, Deadline /*deadline*/) {
    // The driver answers from what it read when the printer was attached; it
    // does not wait for the device. It copies the identity with its prefix
    // but does not say how many bytes it filled: the rest stays zero.
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
