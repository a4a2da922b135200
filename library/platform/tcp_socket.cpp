#include "tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace morlix::platform {

std::optional<std::uint32_t> parseIpv4Address(const char* text) {
    if (text == nullptr) return std::nullopt;
    in_addr_t address = ::inet_addr(text);
    if (address == INADDR_NONE) return std::nullopt;
    return address;
}

int openTcpSocket(int& error) {
    int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (socket < 0) {
        error = errno;
        return -1;
    }
    if (socket < FIRST_PRINTER_HANDLE) {
        // A standard stream was closed: never hand out 0, 1 or 2.
        int moved = ::fcntl(socket, F_DUPFD_CLOEXEC, FIRST_PRINTER_HANDLE);
        error = errno;
        ::close(socket);
        return moved;
    }
    return socket;
}

bool connectWithin(int socket, std::uint32_t address, std::uint16_t port, std::chrono::milliseconds limit,
                   int& error) {
    int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) {
        error = errno;
        return false;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address;
    peer.sin_port = htons(port);
    bool connected = ::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    error = connected ? 0 : errno;
    if (!connected && (error == EINPROGRESS || error == EINTR)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        pollfd wait{socket, POLLOUT, 0};
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            int ready =
                ::poll(&wait, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) {
                error = ready == 0 ? ETIMEDOUT : errno;
                break;
            }
            socklen_t size = sizeof error;
            if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
            connected = error == 0;
            break;
        }
    }
    if (::fcntl(socket, F_SETFL, flags) < 0 && connected) {
        error = errno;
        return false;
    }
    return connected;
}

bool limitTransferWaits(int socket, std::chrono::milliseconds limit) {
    if (!isPrinterHandle(socket)) return false;
    timeval wait{};
    wait.tv_sec = static_cast<time_t>(limit.count() / 1000);
    wait.tv_usec = static_cast<suseconds_t>((limit.count() % 1000) * 1000);
    return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0 &&
           ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) == 0;
}

IoResult socketSend(int socket, std::span<const std::uint8_t> bytes) {
    if (!isPrinterHandle(socket)) return {false, 0, EBADF};
    for (;;) {
        ssize_t sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent >= 0) return {true, static_cast<std::size_t>(sent), 0};
        if (errno != EINTR) return {false, 0, errno};
    }
}

namespace {

// Waits until `socket` has input or `deadline` passes: 0 when it is
// readable, otherwise the error (ETIMEDOUT at the deadline).
int waitReadable(int socket, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd wait{socket, POLLIN, 0};
        const int ready =
            ::poll(&wait, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
        if (ready > 0) return 0;
        if (ready == 0) return ETIMEDOUT;
        if (errno != EINTR) return errno;
    }
}

}  // namespace

IoResult socketReceive(int socket, std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) {
    if (!isPrinterHandle(socket)) return {false, 0, EBADF};
    // The socket's own bound holds when it is tighter.
    timeval own{};
    socklen_t size = sizeof own;
    if (::getsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &own, &size) == 0 &&
        (own.tv_sec > 0 || own.tv_usec > 0))
        limit =
            std::min(limit, std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::seconds(own.tv_sec) + std::chrono::microseconds(own.tv_usec)));
    if (const int error = waitReadable(socket, std::chrono::steady_clock::now() + limit))
        return {false, 0, error};
    for (;;) {
        ssize_t got = ::recv(socket, buffer.data(), buffer.size(), 0);
        if (got >= 0) return {true, static_cast<std::size_t>(got), 0};
        if (errno != EINTR) return {false, 0, errno};
    }
}

std::size_t socketDiscardPending(int socket, std::size_t most) {
    if (!isPrinterHandle(socket)) return 0;
    std::uint8_t scrap[4096];
    std::size_t dropped = 0;
    while (dropped < most) {
        ssize_t got = ::recv(socket, scrap, std::min(sizeof scrap, most - dropped), MSG_DONTWAIT);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        dropped += static_cast<std::size_t>(got);
    }
    return dropped;
}

IoResult socketReceiveAtLeast(int socket, std::span<std::uint8_t> buffer, std::size_t minimum,
                              std::chrono::steady_clock::time_point deadline) {
    if (!isPrinterHandle(socket)) return {false, 0, EBADF};
    std::size_t got = 0;
    minimum = std::min(minimum, buffer.size());
    while (got < minimum || got == 0) {
        if (const int error = waitReadable(socket, deadline))
            return got > 0 ? IoResult{true, got, 0} : IoResult{false, 0, error};
        ssize_t piece = ::recv(socket, buffer.data() + got, buffer.size() - got, MSG_DONTWAIT);
        if (piece < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return got > 0 ? IoResult{true, got, 0} : IoResult{false, 0, errno};
        }
        if (piece == 0) break;  // the peer closed
        got += static_cast<std::size_t>(piece);
        if (got == buffer.size()) break;
    }
    return {true, got, 0};
}

bool socketClose(int socket) {
    if (!isPrinterHandle(socket)) return false;
    return ::close(socket) == 0;
}

}  // namespace morlix::platform
