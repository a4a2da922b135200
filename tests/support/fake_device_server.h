// A scripted stand-in for the printer simulator's device side: listens on a
// UNIX-domain socket where a device node would be and answers each request
// frame with whatever the test's handler returns, faulty answers included.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velquin::testing {

struct Frame {
    std::uint8_t kind = 0;
    std::vector<std::uint8_t> payload;
};

// Raw bytes to send as the answer; empty means hang up.
using FrameHandler = std::function<std::vector<std::uint8_t>(const Frame& request)>;

std::vector<std::uint8_t> frameBytes(std::uint8_t kind, const std::vector<std::uint8_t>& payload);
std::vector<std::uint8_t> le32(std::uint32_t value);
std::uint32_t le32Value(const std::vector<std::uint8_t>& payload);

class FakeDeviceServer {
public:
    FakeDeviceServer(std::string socketPath, FrameHandler handler);
    ~FakeDeviceServer();
    FakeDeviceServer(const FakeDeviceServer&) = delete;
    FakeDeviceServer& operator=(const FakeDeviceServer&) = delete;

    std::vector<Frame> requests() const;
    int connections() const;

private:
    void serve();
    std::string path_;
    FrameHandler handler_;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::vector<Frame> requests_;
    int connections_ = 0;
    std::thread thread_;
};

// A temporary device root: MORLIX_DEVICE_ROOT points at it while it lives.
class DeviceRoot {
public:
    DeviceRoot();
    ~DeviceRoot();
    DeviceRoot(const DeviceRoot&) = delete;
    DeviceRoot& operator=(const DeviceRoot&) = delete;
    // The real path of a device path such as "/dev/usb/lp2"; its folders exist.
    std::string path(const std::string& devicePath) const;
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
};

}  // namespace velquin::testing
