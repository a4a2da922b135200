// The device contract: handle numbers, identity prefixes, the simulated
// device protocol against misbehaving simulators, and port time-outs.
#include "platform/device_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_device_server.h"
#include "link/query_protocol.h"
#include "morlix/morlix.h"
#include "velquin/sim_device_protocol.h"

namespace {

namespace sim = velquin::simdevice;
using morlix::platform::DeviceSharing;
using morlix::platform::IoResult;
using velquin::testing::DeviceRoot;
using velquin::testing::FakeDeviceServer;
using velquin::testing::Frame;
using velquin::testing::frameBytes;
using velquin::testing::le32;
using velquin::testing::le32Value;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string textOf(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Opens `devicePath` under the root and closes it again at the end of the scope.
struct OpenedDevice {
    explicit OpenedDevice(const std::string& devicePath, DeviceSharing sharing = DeviceSharing::Shared)
        : handle(morlix::platform::openDevice(devicePath, sharing)) {}
    ~OpenedDevice() {
        if (handle >= 0) morlix::platform::handleClose(handle);
    }
    int handle;
};

struct IdentityCase {
    const char* name;
    Bytes raw;
    std::string text;
};

TEST(DeviceIdText, FindsTheTextWhateverThePrefix) {
    const Bytes text = bytesOf("MFG:Q;MDL:RVA;");  // 14 bytes, 16 with the prefix
    auto prefixed = [&](std::uint8_t first, std::uint8_t second) {
        Bytes raw{first, second};
        raw.insert(raw.end(), text.begin(), text.end());
        return raw;
    };
    Bytes padded = prefixed(0x00, 0x10);
    padded.resize(64, 0);
    const IdentityCase cases[] = {
        {"big-endian prefix", prefixed(0x00, 0x10), "MFG:Q;MDL:RVA;"},
        {"prefix shorter than what arrived", padded, "MFG:Q;MDL:RVA;"},
        {"byte-swapped prefix", prefixed(0x10, 0x00), "MFG:Q;MDL:RVA;"},
        {"no prefix", text, "MFG:Q;MDL:RVA;"},
        {"prefix longer than the buffer", prefixed(0x01, 0x00), "MFG:Q;MDL:RVA;"},
        {"prefix of 0xFFFF", prefixed(0xFF, 0xFF), "MFG:Q;MDL:RVA;"},
        {"prefix counting only itself", {0x00, 0x02, 'M'}, ""},
        {"one byte", {0x00}, ""},
        {"nothing", {}, ""},
    };
    for (const IdentityCase& c : cases)
        EXPECT_EQ(textOf(morlix::platform::deviceIdText(c.raw)), c.text) << c.name;
}

class SimulatedDevice : public ::testing::Test {
protected:
    DeviceRoot root;
};

TEST_F(SimulatedDevice, EachOperationIsOneFrameAndTheIdentityLosesItsPrefix) {
    FakeDeviceServer server(root.path("/dev/usb/lp0"), [](const Frame& request) {
        switch (request.kind) {
            case sim::READ:
                return frameBytes(sim::DATA, {0x10, 0x20, 0x30, 0x00, 0x22});
            case sim::WRITE:
                return frameBytes(sim::WROTE, le32(static_cast<std::uint32_t>(request.payload.size())));
            case sim::DEVICE_ID:
                return frameBytes(sim::DATA, {0x00, 0x08, 'M', 'D', 'L', ':', 'X', ';'});
        }
        return Bytes{};
    });
    OpenedDevice device("/dev/usb/lp0");
    ASSERT_GE(device.handle, 3);

    std::uint8_t buffer[512];
    IoResult read = morlix::platform::handleRead(device.handle, buffer);
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(Bytes(buffer, buffer + read.bytes), (Bytes{0x10, 0x20, 0x30, 0x00, 0x22}));
    const Bytes data = bytesOf("<SS>");
    EXPECT_TRUE(morlix::platform::handleWrite(device.handle, data).ok);
    IoResult identity = morlix::platform::handleQueryDeviceId(device.handle, buffer);
    ASSERT_TRUE(identity.ok);
    EXPECT_EQ(textOf(std::span(buffer, identity.bytes)), "MDL:X;");

    const std::vector<Frame> requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].kind, sim::READ);
    EXPECT_EQ(le32Value(requests[0].payload), 512u);
    EXPECT_EQ(requests[1].kind, sim::WRITE);
    EXPECT_EQ(requests[1].payload, data);
    EXPECT_EQ(requests[2].kind, sim::DEVICE_ID);
    EXPECT_EQ(le32Value(requests[2].payload), 512u);
}

// The Linux USB printer driver reads ahead: after a request come the
// statuses it and the printer held from before it, then the reply.
TEST_F(SimulatedDevice, AReplyBehindStatusesReadAheadIsStillTheReply) {
    const Bytes status = {0, 0, 0, 0, 0};
    const std::uint8_t flashRequest[] = {0x1B, 'I', 'A', 0x07};
    for (int ahead = 0; ahead <= 4; ++ahead) {
        SCOPED_TRACE(ahead);
        int owed = -1;  // statuses before the reply; -1 while no request is open
        FakeDeviceServer server(root.path("/dev/usb/lp0"), [&](const Frame& request) {
            if (request.kind == sim::WRITE) {
                owed = ahead;
                return frameBytes(sim::WROTE, le32(static_cast<std::uint32_t>(request.payload.size())));
            }
            if (owed != 0) {
                if (owed > 0) --owed;
                return frameBytes(sim::DATA, status);
            }
            owed = -1;
            return frameBytes(sim::DATA, bytesOf("A070800123456"));
        });
        OpenedDevice device("/dev/usb/lp0");
        std::uint8_t buffer[morlix::STATUS_BUFFER_SIZE];
        std::int32_t count = 0;
        EXPECT_EQ(morlix::GetPrinterStatusData(device.handle, buffer, &count, 1, flashRequest, 4), 0);
        // Three held answers at most: a fourth status is taken as the answer.
        EXPECT_EQ(textOf(std::span(buffer, static_cast<std::size_t>(count))),
                  ahead <= 3 ? "A070800123456" : std::string(5, '\0'));
    }
}

TEST_F(SimulatedDevice, AnAnswerLongerThanAskedCutsTheDeviceOffWithoutOverrun) {
    FakeDeviceServer server(root.path("/dev/usb/lp0"),
                            [](const Frame&) { return frameBytes(sim::DATA, Bytes(64, 0xAB)); });
    OpenedDevice device("/dev/usb/lp0");
    std::uint8_t buffer[48];
    std::fill(std::begin(buffer), std::end(buffer), 0x11);
    IoResult read = morlix::platform::handleRead(device.handle, std::span(buffer, 16));
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, EPROTO);
    for (std::size_t i = 16; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x11) << i;
    // The stream cannot be trusted any more: later calls fail too.
    EXPECT_FALSE(morlix::platform::handleRead(device.handle, buffer).ok);
    EXPECT_FALSE(morlix::platform::handleWrite(device.handle, bytesOf("x")).ok);
}

TEST_F(SimulatedDevice, FailuresHangUpsAndPartialWritesAreReportedAsTheyHappen) {
    int reads = 0;
    FakeDeviceServer server(root.path("/dev/lp0"), [&](const Frame& request) {
        if (request.kind == sim::READ) {
            if (++reads == 1) return frameBytes(sim::FAILED, le32(EIO));
            return Bytes{};  // the printer goes away
        }
        // Takes at most three bytes per write, then nothing at all.
        const std::uint32_t taken =
            request.payload.size() == 1 ? 0 : std::min<std::uint32_t>(3, request.payload.size());
        return frameBytes(sim::WROTE, le32(taken));
    });
    OpenedDevice device("/dev/lp0", DeviceSharing::Exclusive);
    IoResult written = morlix::platform::handleWrite(device.handle, bytesOf("ABCDEFG"));
    EXPECT_FALSE(written.ok);  // 3 + 3 taken, then the last byte is refused
    EXPECT_EQ(written.bytes, 6u);
    ASSERT_EQ(server.requests().size(), 3u);
    EXPECT_EQ(server.requests()[1].payload, bytesOf("DEFG"));

    std::uint8_t buffer[16];
    IoResult read = morlix::platform::handleRead(device.handle, buffer);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, EIO);  // the simulator's own error, the connection still in step
    read = morlix::platform::handleRead(device.handle, buffer);
    EXPECT_FALSE(read.ok);
    EXPECT_FALSE(morlix::platform::handleQueryDeviceId(device.handle, buffer).ok);
}

TEST(DeviceHandles, AreNeverBelowThreeAndTheStandardStreamsAreNeverTouched) {
    DeviceRoot root;
    std::ofstream(root.path("/dev/lp0")) << "status";
    const int savedInput = ::dup(STDIN_FILENO);
    ::close(STDIN_FILENO);
    const int handle = morlix::platform::openDevice("/dev/lp0", DeviceSharing::Shared);
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
    EXPECT_GE(handle, 3);
    morlix::platform::handleClose(handle);

    for (int standard : {0, 1, 2}) {
        EXPECT_FALSE(morlix::platform::handleWrite(standard, bytesOf("x")).ok);
        EXPECT_FALSE(morlix::platform::handleClose(standard));
        EXPECT_NE(::fcntl(standard, F_GETFD), -1) << standard;
    }
    EXPECT_EQ(morlix::platform::openDevice("/dev/lp1", DeviceSharing::Shared),
              morlix::platform::INVALID_HANDLE);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(SimulatedDevice, AReusedNumberIsAPlainDescriptorAgain) {
    FakeDeviceServer server(root.path("/dev/usb/lp0"),
                            [](const Frame&) { return frameBytes(sim::DATA, bytesOf("sim")); });
    int opened = 0;
    for (bool closedByTheLayer : {true, false}) {
        const int handle = morlix::platform::openDevice("/dev/usb/lp0", DeviceSharing::Shared);
        ASSERT_GE(handle, 3);
        // Until the device has accepted the connection, its accept could take
        // the number this test frees.
        ++opened;
        for (int wait = 0; wait < 500 && server.connections() < opened; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(server.connections(), opened);
        if (closedByTheLayer)
            morlix::platform::handleClose(handle);
        else
            ::close(handle);
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        ASSERT_TRUE(ends[0] == handle || ends[1] == handle) << "the number was not reused";
        const int other = ends[0] == handle ? ends[1] : ends[0];
        ASSERT_EQ(::write(other, "plain", 5), 5);
        std::uint8_t buffer[16];
        IoResult read = morlix::platform::handleRead(handle, buffer);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(textOf(std::span(buffer, read.bytes)), "plain");
        ::close(ends[0]);
        ::close(ends[1]);
    }
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST(PortTimeouts, AreKeptPerPortAndOnlyWhenTheDeviceTookThem) {
    DeviceRoot root;
    std::ofstream(root.path("/dev/lp0")) << "not a parallel port";
    FakeDeviceServer server(root.path("/dev/lp1"), [](const Frame&) { return Bytes{}; });
    morlix::platform::PortTimeouts timeouts;
    {
        OpenedDevice file("/dev/lp0");
        ASSERT_TRUE(morlix::platform::getPortTimeouts(file.handle, timeouts));
        EXPECT_EQ(timeouts.writeTotalConstant, morlix::platform::DRIVER_DEFAULT_WRITE_TIMEOUT_MS);
        timeouts.writeTotalConstant = 15000;
        int error = 0;
        EXPECT_FALSE(morlix::platform::setPortTimeouts(file.handle, timeouts, &error));
        EXPECT_EQ(error, ENOTTY);  // a plain file has no printer time-out
        ASSERT_TRUE(morlix::platform::getPortTimeouts(file.handle, timeouts));
        EXPECT_EQ(timeouts.writeTotalConstant, morlix::platform::DRIVER_DEFAULT_WRITE_TIMEOUT_MS);
    }
    {
        OpenedDevice simulated("/dev/lp1");
        timeouts.writeTotalConstant = 20000;
        timeouts.readInterval = 7;
        EXPECT_TRUE(morlix::platform::setPortTimeouts(simulated.handle, timeouts));
    }
    OpenedDevice again("/dev/lp1");
    morlix::platform::PortTimeouts kept;
    ASSERT_TRUE(morlix::platform::getPortTimeouts(again.handle, kept));
    EXPECT_EQ(kept.writeTotalConstant, 20000u);
    EXPECT_EQ(kept.readInterval, 7u);

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    EXPECT_FALSE(morlix::platform::getPortTimeouts(ends[0], kept));  // not a device the layer opened
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST(DeviceSharing, ADeviceNodeHasOneHolderAtATime) {
    DeviceRoot root;
    std::ofstream(root.path("/dev/lp0")) << "port";
    for (DeviceSharing first : {DeviceSharing::Shared, DeviceSharing::Exclusive}) {
        OpenedDevice held("/dev/lp0", first);
        ASSERT_GE(held.handle, 3);
        for (DeviceSharing second : {DeviceSharing::Shared, DeviceSharing::Exclusive}) {
            EXPECT_EQ(morlix::platform::openDevice("/dev/lp0", second), morlix::platform::INVALID_HANDLE);
            EXPECT_EQ(errno, EBUSY);
        }
    }
    OpenedDevice again("/dev/lp0");
    EXPECT_GE(again.handle, 3);  // free once closed
}

// A simulated device that takes a request and then answers one byte every
// 100 ms of a 1000-byte answer, or (trickle false) never reads at all.
class SlowDevice {
public:
    SlowDevice(const std::string& path, bool trickle) {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener_, 4), 0);
        if (!trickle) return;  // the connection waits in the backlog, never read
        thread_ = std::thread([this] {
            int peer = ::accept(listener_, nullptr, nullptr);
            std::uint8_t request[sim::FRAME_HEADER_SIZE + 4];
            if (peer < 0 || ::recv(peer, request, sizeof request, MSG_WAITALL) != sizeof request) return;
            Bytes answer = frameBytes(sim::DATA, Bytes(1000, 'x'));
            for (std::size_t i = 0; i < answer.size() && !stop_; ++i) {
                const std::size_t piece = i == 0 ? sim::FRAME_HEADER_SIZE : 1;
                if (::send(peer, answer.data() + i, piece, MSG_NOSIGNAL) <= 0) break;
                i += piece - 1;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            ::close(peer);
        });
    }
    ~SlowDevice() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }

private:
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(DeviceDeadlines, AWriteNobodyTakesAndAnAnswerThatTricklesEndAtTheirTimeOuts) {
    DeviceRoot root;
    SlowDevice stalled(root.path("/dev/usb/lp0"), false);
    SlowDevice trickling(root.path("/dev/usb/lp1"), true);
    ASSERT_EQ(::mkfifo(root.path("/dev/usb/lp2").c_str(), 0600), 0);
    const Bytes mebibyte(1 << 20, 'd');
    morlix::platform::PortTimeouts quick;
    quick.writeTotalConstant = 300;
    quick.readTotalConstant = 500;

    OpenedDevice simulated("/dev/usb/lp0");
    ASSERT_TRUE(morlix::platform::setPortTimeouts(simulated.handle, quick));
    auto start = std::chrono::steady_clock::now();
    IoResult written = morlix::platform::handleWrite(simulated.handle, mebibyte);
    EXPECT_FALSE(written.ok);
    EXPECT_EQ(written.error, ETIMEDOUT);
    EXPECT_EQ(written.bytes, 0u);  // no piece was confirmed
    EXPECT_LT(secondsSince(start), 3.0);

    // A device node that stops taking data (a FIFO nobody reads): the bytes it took are reported.
    OpenedDevice node("/dev/usb/lp2");
    ASSERT_GE(node.handle, 3);
    start = std::chrono::steady_clock::now();
    written = morlix::platform::handleWrite(node.handle, mebibyte, morlix::platform::deadlineIn(300));
    EXPECT_FALSE(written.ok);
    EXPECT_EQ(written.error, ETIMEDOUT);
    EXPECT_GT(written.bytes, 0u);
    EXPECT_LT(written.bytes, mebibyte.size());
    EXPECT_LT(secondsSince(start), 3.0);

    OpenedDevice slow("/dev/usb/lp1");
    ASSERT_TRUE(morlix::platform::setPortTimeouts(slow.handle, quick));
    std::uint8_t buffer[1024];
    start = std::chrono::steady_clock::now();
    IoResult read = morlix::platform::handleRead(slow.handle, buffer);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, ETIMEDOUT);
    EXPECT_LT(secondsSince(start), 3.0);
}

TEST(DeviceWrites, NeverRaiseSigpipeInTheCallerNorChangeItsSignals) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto writeAndCheck = [](int fd) {
        const std::uint8_t data[4] = {1, 2, 3, 4};
        const int result = WritePrinterVB(fd, data, sizeof data);
        sigset_t mask, pending;
        ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        ::sigpending(&pending);
        std::exit(result == 1 && !sigismember(&mask, SIGPIPE) && !sigismember(&pending, SIGPIPE) ? 0 : 2);
    };
    EXPECT_EXIT(
        {
            int ends[2];
            if (::pipe(ends) != 0) std::exit(3);
            ::close(ends[0]);
            writeAndCheck(ends[1]);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(writeAndCheck(::socket(AF_INET, SOCK_STREAM, 0)), ::testing::ExitedWithCode(0), "");
}

}  // namespace
