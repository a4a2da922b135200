// Helpers for tests that talk to an in-process printer-sim over loopback.
#pragma once

#include <dirent.h>
#include <poll.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "morlix/morlix.h"
#include "simulator.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Bytes that differ from position to position, so a lost or moved byte shows.
inline Bytes patternBytes(std::size_t size, unsigned seed = 1) {
    Bytes bytes(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

// Connects to the simulator through the library, as the program does.
inline std::int32_t connectTo(std::uint16_t port) {
    std::int32_t socket = 0;
    std::string portText = std::to_string(port);
    if (CreateEthernetSocketVB(&socket, "127", "0", "0", "1", portText.c_str()) != 1) return 0;
    return socket;
}

// Sends all the bytes with WriteDataEthernetVB in chunks of `chunk`.
inline bool sendAll(std::int32_t socket, const Bytes& bytes, std::size_t chunk = 8192) {
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        auto size = static_cast<std::int32_t>(std::min(chunk, bytes.size() - at));
        std::int32_t sent = 0;
        if (WriteDataEthernetVB(socket, bytes.data() + at, size, &sent) != 1 || sent != size) return false;
    }
    return true;
}

// Waits until the socket has bytes to read (or the peer closed).
inline bool waitReadable(int socket, int timeoutMs = 2000) {
    pollfd wait{socket, POLLIN, 0};
    return ::poll(&wait, 1, timeoutMs) == 1;
}

// Sends a request and gives back the reply, read through ReadDataEthernetVB.
inline Bytes ask(std::int32_t socket, const std::string& request) {
    Bytes bytes = bytesOf(request);
    std::int32_t sent = 0;
    if (WriteDataEthernetVB(socket, bytes.data(), static_cast<std::int32_t>(bytes.size()), &sent) != 1)
        return {};
    if (!waitReadable(socket)) return {};
    Bytes reply(1024);
    std::int32_t length = static_cast<std::int32_t>(reply.size());
    if (ReadDataEthernetVB(socket, reply.data(), &length) != 1) return {};
    reply.resize(static_cast<std::size_t>(length));
    return reply;
}

inline std::size_t openDescriptorCount() {
    std::size_t count = 0;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        while (::readdir(folder) != nullptr) ++count;
        ::closedir(folder);
    }
    return count;
}

constexpr std::chrono::milliseconds PATIENCE{5000};

}  // namespace simtest

#include <gtest/gtest.h>

#include "platform/debug_output.h"

namespace simtest {

// Checks that the lines occur in the log in this order (others may lie between).
inline void expectInOrder(const morlix::platform::DebugCapture& log, const std::vector<std::string>& lines) {
    std::size_t from = 0;
    for (const std::string& line : lines) {
        long at = log.indexOf(line, from);
        EXPECT_GE(at, 0) << "missing, or out of order: \"" << line << "\"";
        if (at >= 0) from = static_cast<std::size_t>(at) + 1;
    }
}

}  // namespace simtest
