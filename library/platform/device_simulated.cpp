// A simulated printer device: the printer simulator listens on a UNIX-domain
// socket where the device node would be, and every device operation is one
// request frame answered by one frame (velquin/sim_device_protocol.h).
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "device_backend.h"
#include "velquin/sim_device_protocol.h"

namespace morlix::platform {
namespace {

namespace sim = velquin::simdevice;

struct Answer {
    std::uint8_t kind = 0;
    std::uint32_t length = 0;
};

void putLe32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t getLe32(const std::uint8_t* in) {
    return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 |
           std::uint32_t{in[3]} << 24;
}

bool sendAll(int fd, const std::uint8_t* data, std::size_t size, Deadline deadline,
             std::size_t* sent = nullptr) {
    while (size > 0) {
        if (!waitReady(fd, POLLOUT, deadline)) return false;
        ssize_t put = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        data += put;
        size -= static_cast<std::size_t>(put);
        if (sent) *sent += static_cast<std::size_t>(put);
    }
    return true;
}

bool receiveAll(int fd, std::uint8_t* data, std::size_t size, Deadline deadline) {
    while (size > 0) {
        if (!waitReady(fd, POLLIN, deadline)) return false;
        ssize_t got = ::recv(fd, data, size, MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        if (got == 0) {
            errno = ECONNRESET;  // the simulator hung up: an unplugged printer
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool sendRequest(int fd, std::uint8_t kind, std::span<const std::uint8_t> payload, Deadline deadline) {
    std::uint8_t header[sim::FRAME_HEADER_SIZE] = {kind};
    putLe32(header + 1, static_cast<std::uint32_t>(payload.size()));
    return sendAll(fd, header, sizeof header, deadline) &&
           sendAll(fd, payload.data(), payload.size(), deadline);
}

bool sendSizeRequest(int fd, std::uint8_t kind, std::uint32_t value, Deadline deadline) {
    std::uint8_t payload[4];
    putLe32(payload, value);
    return sendRequest(fd, kind, payload, deadline);
}

// A connection that failed mid-frame or broke the protocol is cut off: the
// stream can no longer be trusted, and every later call fails as on an
// unplugged printer.
IoResult cutOff(int fd, int error) {
    ::shutdown(fd, SHUT_RDWR);
    return {false, 0, error ? error : EIO};
}

IoResult protocolBroken(int fd) {
    return cutOff(fd, EPROTO);
}

// Reads an answer header; a FAILED answer becomes the errno it carries.
bool receiveAnswer(int fd, Answer& answer, IoResult& failed, Deadline deadline) {
    std::uint8_t header[sim::FRAME_HEADER_SIZE];
    if (!receiveAll(fd, header, sizeof header, deadline)) {
        failed = cutOff(fd, errno);
        return false;
    }
    answer = {header[0], getLe32(header + 1)};
    if (answer.length > sim::MAX_FRAME_PAYLOAD) {
        failed = protocolBroken(fd);
        return false;
    }
    if (answer.kind == sim::FAILED) {
        std::uint8_t code[4];
        if (answer.length != sizeof code || !receiveAll(fd, code, sizeof code, deadline)) {
            failed = protocolBroken(fd);
            return false;
        }
        const std::uint32_t error = getLe32(code);
        failed = {false, 0, error > 0 && error < 4096 ? static_cast<int>(error) : EIO};
        return false;
    }
    return true;
}

// Receives a DATA answer of at most buffer.size() bytes into `buffer`.
IoResult receiveData(int fd, std::span<std::uint8_t> buffer, Deadline deadline) {
    Answer answer;
    IoResult failed;
    if (!receiveAnswer(fd, answer, failed, deadline)) return failed;
    if (answer.kind != sim::DATA || answer.length > buffer.size()) return protocolBroken(fd);
    if (!receiveAll(fd, buffer.data(), answer.length, deadline)) return cutOff(fd, errno);
    return {true, answer.length, 0};
}

int connectSimulator(const char* path, DeviceSharing /*sharing*/) {
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(address.sun_path, path);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

IoResult readSimulated(int fd, std::span<std::uint8_t> buffer, Deadline deadline) {
    const auto wanted =
        static_cast<std::uint32_t>(std::min<std::size_t>(buffer.size(), sim::MAX_FRAME_PAYLOAD));
    if (!sendSizeRequest(fd, sim::READ, wanted, deadline)) return cutOff(fd, errno);
    return receiveData(fd, buffer.first(wanted), deadline);
}

// A device that has not taken a piece by the deadline is cut off: what it
// took of that piece is unknown, so only the pieces it confirmed count.
IoResult writeSimulated(int fd, std::span<const std::uint8_t> data, Deadline deadline) {
    std::size_t done = 0;
    do {
        const std::size_t piece = std::min<std::size_t>(data.size() - done, sim::MAX_FRAME_PAYLOAD);
        auto failedAfter = [done](IoResult failed) { return IoResult{false, done, failed.error}; };
        if (!sendRequest(fd, sim::WRITE, data.subspan(done, piece), deadline))
            return failedAfter(cutOff(fd, errno));
        Answer answer;
        IoResult failed;
        if (!receiveAnswer(fd, answer, failed, deadline)) return failedAfter(failed);
        std::uint8_t count[4];
        if (answer.kind != sim::WROTE || answer.length != sizeof count)
            return failedAfter(protocolBroken(fd));
        if (!receiveAll(fd, count, sizeof count, deadline)) return failedAfter(cutOff(fd, errno));
        const std::uint32_t accepted = getLe32(count);
        if (accepted > piece) return failedAfter(protocolBroken(fd));
        if (accepted == 0 && piece > 0) return {false, done, EIO};
        done += accepted;
    } while (done < data.size());
    return {true, done, 0};
}

IoResult queryDeviceIdSimulated(int fd, std::span<std::uint8_t> buffer, Deadline deadline) {
    const auto wanted =
        static_cast<std::uint32_t>(std::min<std::size_t>(buffer.size(), sim::MAX_FRAME_PAYLOAD));
    if (!sendSizeRequest(fd, sim::DEVICE_ID, wanted, deadline)) return cutOff(fd, errno);
    return receiveData(fd, buffer.first(wanted), deadline);
}

// The simulator keeps no time-out; the layer's record is all there is.
int applySimulatedWriteTimeout(int /*fd*/, std::uint32_t /*milliseconds*/) {
    return 0;
}

}  // namespace

const DeviceBackend SIMULATED_PRINTER_DEVICE = {
    "simulated device", connectSimulator,       readSimulated,
    writeSimulated,     queryDeviceIdSimulated, applySimulatedWriteTimeout,
};

}  // namespace morlix::platform
