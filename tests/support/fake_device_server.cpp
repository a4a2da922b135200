#include "fake_device_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace velquin::testing {
namespace {

bool readExactly(int fd, std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t got = ::recv(fd, data, size, 0);
        if (got <= 0) return false;
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

std::vector<std::uint8_t> le32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::uint32_t le32Value(const std::vector<std::uint8_t>& payload) {
    if (payload.size() < 4) return 0;
    return payload[0] | payload[1] << 8 | payload[2] << 16 | static_cast<std::uint32_t>(payload[3]) << 24;
}

std::vector<std::uint8_t> frameBytes(std::uint8_t kind, const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> bytes{kind};
    const auto length = le32(static_cast<std::uint32_t>(payload.size()));
    bytes.insert(bytes.end(), length.begin(), length.end());
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

FakeDeviceServer::FakeDeviceServer(std::string socketPath, FrameHandler handler)
    : path_(std::move(socketPath)), handler_(std::move(handler)) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 || ::pipe2(stopPipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot listen on " + path_);
    thread_ = std::thread([this] { serve(); });
}

FakeDeviceServer::~FakeDeviceServer() {
    [[maybe_unused]] auto ignored = ::write(stopPipe_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
    ::unlink(path_.c_str());
}

std::vector<Frame> FakeDeviceServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int FakeDeviceServer::connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

void FakeDeviceServer::serve() {
    std::vector<int> clients;
    for (;;) {
        std::vector<pollfd> watched{{stopPipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (int client : clients) watched.push_back({client, POLLIN, 0});
        if (::poll(watched.data(), watched.size(), -1) < 0) continue;
        if (watched[0].revents) break;
        if (watched[1].revents & POLLIN) {
            int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                clients.push_back(client);
                std::lock_guard lock(mutex_);
                ++connections_;
            }
        }
        for (std::size_t i = 2; i < watched.size(); ++i) {
            if (!watched[i].revents) continue;
            const int client = watched[i].fd;
            std::uint8_t header[5];
            Frame request;
            bool alive = readExactly(client, header, sizeof header);
            if (alive) {
                request.kind = header[0];
                request.payload.resize(le32Value({header[1], header[2], header[3], header[4]}));
                alive = readExactly(client, request.payload.data(), request.payload.size());
            }
            std::vector<std::uint8_t> answer;
            if (alive) {
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(request);
                }
                answer = handler_(request);
            }
            if (answer.empty() || ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) {
                ::close(client);
                std::erase(clients, client);
            }
        }
    }
    for (int client : clients) ::close(client);
}

DeviceRoot::DeviceRoot() {
    char pattern[] = "/tmp/morlix-devices-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    folder_ = pattern;
    ::setenv("MORLIX_DEVICE_ROOT", folder_.c_str(), 1);
}

DeviceRoot::~DeviceRoot() {
    ::unsetenv("MORLIX_DEVICE_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string DeviceRoot::path(const std::string& devicePath) const {
    const std::string full = folder_ + devicePath;
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    return full;
}

}  // namespace velquin::testing
