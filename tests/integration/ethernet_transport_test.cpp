// The TCP printer link against a printer-sim on loopback: connecting and
// reading the identity, readiness, raw sends and receives, closing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "link/printer_data.h"
#include "morlix/printer_codes.h"
#include "platform/sleep.h"
#include "platform/tcp_socket.h"
#include "sim_test_support.h"

namespace {

using namespace simtest;
using morlix::platform::DebugCapture;

// A listening socket on 127.0.0.1 that never accepts: connections queue up
// to `backlog` and nothing is ever read from or answered on them.
struct LoopbackListener {
    explicit LoopbackListener(int backlog) {
        descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (descriptor < 0 ||
            ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(descriptor, backlog) != 0 ||
            ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            if (descriptor >= 0) ::close(descriptor);
            descriptor = -1;
        }
    }
    ~LoopbackListener() {
        if (descriptor >= 0) ::close(descriptor);
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int descriptor = -1;
    sockaddr_in address{};
};

class EthernetLink : public ::testing::Test {
protected:
    void SetUp() override {
        port = simulator.listenTcp(0);
        portText = std::to_string(port);
        morlix::printerData = {};
    }
    void TearDown() override {
        if (socket >= 3) CloseEthernetSocketVB(socket);
    }
    // CreateEthernetSocketVB on 127.0.0.1 with the given port text.
    std::int32_t create(const char* port) {
        return CreateEthernetSocketVB(&socket, "127", "0", "0", "1", port);
    }
    std::string deviceId() const { return std::string(morlix::fieldText(morlix::printerData.deviceId)); }

    printersim::Simulator simulator;
    std::uint16_t port = 0;
    std::string portText;
    std::int32_t socket = 0;
};

TEST_F(EthernetLink, ConnectsReadsTheIdentityAndParsesIt) {
    DebugCapture log;
    ASSERT_EQ(create(portText.c_str()), 1);
    EXPECT_GE(socket, 3);
    const std::string s = std::to_string(socket);
    expectInOrder(log, {
                           "CreateEthernetSocketVB - entry new",
                           "CreateEthernetSocketVB - Socket on entry = 0",
                           "IP address = 127.0.0.1",
                           "Port number = " + portText,
                           "Client: WSAStartup() is OK",
                           "Client: socket() is OK",
                           "Client: connect() is OK",
                           "Client: setting printerData->portType = PORT_TYPE_ETHERNET",
                           "CreateEthernetSocketVB - Socket = " + s,
                           "CreateEthernetSocketVB - Socket = " + s,
                           "GetPrinterIDEthernet - Entry",
                           "GetPrinterIDEthernet - Sent <SA08> bytes send = 6",
                           "RVA found",
                           "GetFWVersionFromID - LOGIC_BD_MXR_PLUS",
                           "CreateEthernetSocketVB - Socket on exit = " + s,
                       });
    EXPECT_EQ(deviceId(), printersim::DEFAULT_IDENTITY);
    EXPECT_EQ(morlix::printerData.portType, morlix::PORT_TYPE_ETHERNET);
    EXPECT_EQ(morlix::fieldText(morlix::printerData.printerName), "RVA 300");
    EXPECT_EQ(morlix::printerData.printerModel, morlix::PRINTER_MODEL_RVA);
    EXPECT_EQ(morlix::printerData.printerType, morlix::PRINTER_TYPE_KTL);
    EXPECT_EQ(morlix::fieldText(morlix::printerData.firmwareVersion), "5.07");
    EXPECT_EQ(morlix::printerData.logicBdType, morlix::LOGIC_BD_MXR_PLUS);
    EXPECT_EQ(simulator.printer().requestCount(printersim::Request::Identity), 1u);
    // A printer that goes silent later cannot freeze the program.
    timeval receiveLimit{};
    socklen_t limitSize = sizeof receiveLimit;
    ASSERT_EQ(::getsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &receiveLimit, &limitSize), 0);
    EXPECT_EQ(receiveLimit.tv_sec, 30);
}

TEST_F(EthernetLink, PortTextIsCutTo16Bits) {
    DebugCapture log;
    std::string wrapped = std::to_string(65536 + port);
    ASSERT_EQ(create(wrapped.c_str()), 1);
    EXPECT_TRUE(log.contains("Port number = " + portText));

    // "70000" is port 4464: check it against a simulator there when the port is free.
    try {
        printersim::Simulator at4464;
        at4464.listenTcp(4464);
        std::int32_t other = 0;
        EXPECT_EQ(CreateEthernetSocketVB(&other, "127", "0", "0", "1", "70000"), 1);
        EXPECT_TRUE(log.contains("Port number = 4464"));
        CloseEthernetSocketVB(other);
    } catch (const std::system_error&) {
        // Something else holds port 4464; the wrapped port above made the point.
    }
}

TEST_F(EthernetLink, BadAddressesAndPortsFailWithTheConnectLine) {
    struct Case {
        const char* octets[4];
        const char* port;
        const char* addressLine;
        const char* portLine;
    };
    const Case cases[] = {
        {{"127", "0", "0", "1"}, "abc", "IP address = 127.0.0.1", "Port number = 0"},
        {{"127", "0", "", "1"}, portText.c_str(), "IP address = 127.0..1", nullptr},
        {{"127", "0", "0", "1x"}, portText.c_str(), "IP address = 127.0.0.1x", nullptr},
        {{"255", "255", "255", "255"}, portText.c_str(), "IP address = 255.255.255.255", nullptr},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.addressLine);
        DebugCapture log;
        std::size_t before = openDescriptorCount();
        socket = 0;
        EXPECT_EQ(CreateEthernetSocketVB(&socket, test.octets[0], test.octets[1], test.octets[2],
                                         test.octets[3], test.port),
                  0);
        EXPECT_EQ(socket, 0);
        expectInOrder(log,
                      {test.addressLine, "Client: socket() is OK", "Client: connect() - Failed to connect"});
        if (test.portLine) {
            EXPECT_TRUE(log.contains(test.portLine));
        }
        EXPECT_FALSE(log.contains("Client: connect() is OK"));
        EXPECT_EQ(openDescriptorCount(), before);
    }
    EXPECT_EQ(simulator.printer().connectionsAccepted(), 0u);
}

TEST_F(EthernetLink, ASocketThatCannotBeMadeIsReported) {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    rlimit none = limit;
    none.rlim_cur = 3;  // the standard streams, and nothing more
    DebugCapture log;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    std::int32_t result = create(portText.c_str());
    ::setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_EQ(result, 0);
    expectInOrder(log, {"Client: WSAStartup() is OK",
                        "Client: socket() - Error at socket(): " + std::to_string(EMFILE)});
    EXPECT_FALSE(log.contains("Client: socket() is OK"));
}

TEST_F(EthernetLink, AnAddressTextLongerThanItsBufferIsRefused) {
    DebugCapture log;
    std::string longOctet(300, '1');
    EXPECT_EQ(CreateEthernetSocketVB(&socket, "127", "0", "0", longOctet.c_str(), portText.c_str()), 0);
    EXPECT_EQ(socket, 0);
    EXPECT_TRUE(log.contains("CreateEthernetSocketVB - IP address text too long"));
    EXPECT_EQ(log.indexOf("Client: WSAStartup() is OK"), -1);
    // 255 characters still fit with the terminator.
    std::string fits(255 - std::strlen("127.0.0."), '0');
    log.clear();
    EXPECT_EQ(CreateEthernetSocketVB(&socket, "127", "0", "0", fits.c_str(), portText.c_str()), 0);
    EXPECT_TRUE(log.contains("IP address = 127.0.0." + fits));
}

TEST_F(EthernetLink, AnIdentityOf300BytesKeepsTheFirst256) {
    printersim::Faults faults;
    faults.longIdentity = true;
    simulator.printer().setFaults(faults);
    ASSERT_EQ(create(portText.c_str()), 1);
    std::vector<std::uint8_t> sent = simulator.printer().identityBytes();
    ASSERT_EQ(sent.size(), 300u);
    EXPECT_EQ(deviceId(), std::string(sent.begin(), sent.begin() + 256));
    EXPECT_EQ(morlix::fieldText(morlix::printerData.printerName), "RVA 300");
}

TEST_F(EthernetLink, AnIdentityInPiecesIsCutAtTheFirstReceive) {
    printersim::Faults faults;
    faults.replyPieceSize = 40;
    faults.pieceDelay = std::chrono::milliseconds(700);
    simulator.printer().setFaults(faults);
    ASSERT_EQ(create(portText.c_str()), 1);
    EXPECT_EQ(deviceId(), std::string(printersim::DEFAULT_IDENTITY).substr(0, 40));
}

TEST_F(EthernetLink, APrinterThatClosesAtOnceFailsAfterThePortTypeWasSet) {
    printersim::Faults faults;
    faults.closeOnAccept = true;
    simulator.printer().setFaults(faults);
    morlix::printerData.portType = morlix::PORT_TYPE_USB;
    std::size_t before = openDescriptorCount();
    DebugCapture log;
    EXPECT_EQ(create(portText.c_str()), 0);
    expectInOrder(log, {"Client: connect() is OK", "GetPrinterIDEthernet - Entry",
                        "GetPrinterIDEthernet - Connection Closed"});
    EXPECT_FALSE(log.contains("CreateEthernetSocketVB - Socket on exit = 0"));
    EXPECT_EQ(morlix::printerData.portType, morlix::PORT_TYPE_ETHERNET);
    // The failed connection is closed and the caller's variable cleared.
    EXPECT_EQ(socket, 0);
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(EthernetLink, ReadinessFollowsStatusBytes3And4) {
    ASSERT_EQ(create(portText.c_str()), 1);
    struct Case {
        std::vector<std::uint8_t> status;
        std::int32_t ready;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, 0x01}, 1},                           // bit 0 does not count
        {{0, 0, 0, 0, 0x00}, 1}, {{0, 0, 0, 0, 0x02}, 0},  // the flash toggle
        {{0, 0, 0, 0, 0x20}, 0},                           // busy
        {{0, 0, 0, 0x01, 0}, 0}, {{0x41, 0x42, 0x43}, 1},  // missing bytes read as 0
    };
    for (const Case& test : cases) {
        printersim::Faults faults;
        faults.statusBytes = test.status;
        simulator.printer().setFaults(faults);
        DebugCapture log;
        EXPECT_EQ(isPrinterReadyEthernetVB(socket), test.ready) << int(test.status.back());
        std::vector<std::string> expected = {
            "isPrinterReadyEthernet - Entry", "isPrinterReadyEthernet - Sent <SS> bytes send = 4",
            "Status Length = " + std::to_string(test.status.size()) + ", Data = "};
        for (std::uint8_t byte : test.status) {
            char line[8];
            std::snprintf(line, sizeof line, "%X ", byte);
            expected.push_back(line);
        }
        expected.push_back(test.ready ? "GetPrinterIDEthernet - Returning printer ready"
                                      : "GetPrinterIDEthernet - Returning printer NOT READY");
        EXPECT_EQ(log.lines(), expected);
    }
}

TEST_F(EthernetLink, AStatusInPiecesIsReadWholeAndALateAnswerIsNotTakenForIt) {
    ASSERT_EQ(create(portText.c_str()), 1);
    printersim::Faults faults;
    faults.statusBytes = std::vector<std::uint8_t>{0, 0, 0, 0, 0x20};  // busy
    faults.replyPieceSize = 2;
    faults.pieceDelay = std::chrono::milliseconds(300);
    simulator.printer().setFaults(faults);
    EXPECT_EQ(isPrinterReadyEthernetVB(socket), 0);

    // A flash answer the caller never read is still waiting when the status is asked.
    faults = {};
    faults.statusBytes = std::vector<std::uint8_t>{0, 0, 0, 0, 0};
    simulator.printer().setFaults(faults);
    std::int32_t sent = 0;
    ASSERT_EQ(WriteDataEthernetVB(socket, reinterpret_cast<const std::uint8_t*>("<SA07>"), 6, &sent), 1);
    ASSERT_TRUE(waitReadable(socket));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(isPrinterReadyEthernetVB(socket), 1);
}

TEST_F(EthernetLink, ReadDataDumpsAtMost128Bytes) {
    ASSERT_EQ(create(portText.c_str()), 1);
    for (bool longReply : {false, true}) {
        printersim::Faults faults;
        faults.longIdentity = longReply;
        simulator.printer().setFaults(faults);
        // A 20-byte reply: the status bytes, configured.
        std::string request = longReply ? "<SA08>" : "<SS>";
        if (!longReply) {
            faults.statusBytes = patternBytes(20);
            simulator.printer().setFaults(faults);
        }
        Bytes expected = longReply ? simulator.printer().identityBytes() : patternBytes(20);
        std::int32_t sent = 0;
        ASSERT_EQ(WriteDataEthernetVB(socket, bytesOf(request).data(),
                                      static_cast<std::int32_t>(request.size()), &sent),
                  1);
        ASSERT_TRUE(waitReadable(socket));
        morlix::platform::sleepMs(50);  // the whole reply in one receive
        Bytes buffer(1024, 0xEE);
        std::int32_t length = 1024;
        DebugCapture log;
        ASSERT_EQ(ReadDataEthernetVB(socket, buffer.data(), &length), 1);
        ASSERT_EQ(length, static_cast<std::int32_t>(expected.size()));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
        EXPECT_EQ(buffer[expected.size()], 0xEE);
        const std::string rule = "rrrrrrrrrrrrrrrrrrrrrrrrrrrrrrr";
        std::vector<std::string> lines = {
            "ReadDataEthernet - Entry",
            "Size of integer = 4, size of DWORD = 4, size of long = 4, size of SOCKET = 4"};
        char line[128];
        std::snprintf(line, sizeof line,
                      "ReadDataEthernet - Socket = %d, BYTE * = %p, StatusBufferLength = 1024", socket,
                      static_cast<void*>(buffer.data()));
        lines.push_back(line);
        lines.push_back("ReadDataEthernet - Read bytes = " + std::to_string(expected.size()));
        lines.push_back(rule);
        for (std::size_t i = 0; i < std::min<std::size_t>(expected.size(), 128); ++i) {
            std::snprintf(line, sizeof line, "%X", expected[i]);
            lines.push_back(line);
        }
        lines.push_back(rule);
        EXPECT_EQ(log.lines(), lines);
    }
}

TEST_F(EthernetLink, AZeroLengthWriteSendsNothingAndSucceeds) {
    ASSERT_EQ(create(portText.c_str()), 1);
    std::uint64_t before = simulator.printer().bytesReceived();
    std::int32_t sent = -5;
    DebugCapture log;
    EXPECT_EQ(WriteDataEthernetVB(socket, nullptr, 0, &sent), 1);
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(log.contains("WriteFileEthernet - bytes sent = 0"));
    // The link still works, and nothing reached the printer before the next request.
    EXPECT_EQ(ask(socket, "<SA07>"), bytesOf("A070808388608"));
    EXPECT_EQ(simulator.printer().bytesReceived(), before + 6);
}

TEST_F(EthernetLink, WritesAreRefusedOnNoSocketAndOnBadArguments) {
    ASSERT_EQ(create(portText.c_str()), 1);
    const std::uint8_t data[4] = {'<', 'S', 'S', '>'};
    struct Case {
        std::int32_t socket;
        const std::uint8_t* data;
        std::int32_t length;
    };
    const Case cases[] = {{0, data, 4},  {1, data, 4},       {2, data, 4},
                          {-1, data, 4}, {socket, data, -1}, {socket, nullptr, 4}};
    for (const Case& test : cases) {
        DebugCapture log;
        std::int32_t sent = 99;
        EXPECT_EQ(WriteDataEthernetVB(test.socket, test.data, test.length, &sent), 0);
        EXPECT_EQ(sent, -1);
        EXPECT_EQ(log.lines().back(), "WriteFileEthernet - Error sending data");
    }
    EXPECT_EQ(simulator.printer().bytesReceived(), 6u);  // the identity request alone
    // The standard streams were not touched.
    for (int stream : {0, 1, 2}) {
        DebugCapture log;
        EXPECT_EQ(CloseEthernetSocketVB(stream), 1);
        EXPECT_EQ(log.lines(),
                  (std::vector<std::string>{"closeSocket - Entry",
                                            "CloseEthernetSocketVB - Socket = " + std::to_string(stream),
                                            "closeSocket - Complete"}));
        EXPECT_NE(::fcntl(stream, F_GETFD), -1);
    }
    std::int32_t length = 16;
    std::uint8_t buffer[16];
    EXPECT_EQ(ReadDataEthernetVB(0, buffer, &length), 0);
    EXPECT_EQ(length, 16);
    EXPECT_EQ(isPrinterReadyEthernetVB(2), 0);
}

TEST_F(EthernetLink, ReadAfterThePrinterClosedReportsItAndKeepsTheLength) {
    printersim::Faults faults;
    faults.closeAfterBytes = 6;  // the identity request is answered, then the printer goes
    simulator.printer().setFaults(faults);
    ASSERT_EQ(create(portText.c_str()), 1);
    std::int32_t sent = 0;
    ASSERT_EQ(WriteDataEthernetVB(socket, bytesOf("<SS>").data(), 4, &sent), 1);
    ASSERT_TRUE(waitReadable(socket));
    std::uint8_t buffer[64];
    std::int32_t length = 64;
    DebugCapture log;
    EXPECT_EQ(ReadDataEthernetVB(socket, buffer, &length), 0);
    EXPECT_EQ(length, 64);
    EXPECT_EQ(log.lines().back(), "ReadDataEthernet - Connection Closed");
    // A readiness check on the dead link fails too.
    log.clear();
    EXPECT_EQ(isPrinterReadyEthernetVB(socket), 0);
    EXPECT_FALSE(log.contains("GetPrinterIDEthernet - Returning printer ready"));
}

TEST_F(EthernetLink, CloseReleasesTheSocket) {
    ASSERT_EQ(create(portText.c_str()), 1);
    EXPECT_EQ(CloseEthernetSocketVB(socket), 1);
    EXPECT_EQ(::fcntl(socket, F_GETFD), -1);
    socket = 0;
}

TEST_F(EthernetLink, SocketsAreNeverNumberedBelow3) {
    // With standard input closed, a new socket would otherwise be number 0.
    // (Only the library's socket is made meanwhile: the simulator in this
    // process would take 0 for a connection it accepts.)
    int savedInput = ::dup(0);
    ASSERT_GE(savedInput, 0);
    ::close(0);
    int error = 0;
    int socketMade = morlix::platform::openTcpSocket(error);
    bool zeroStillFree = ::fcntl(0, F_GETFD) == -1;
    ::dup2(savedInput, 0);
    ::close(savedInput);
    EXPECT_GE(socketMade, 3);
    EXPECT_TRUE(zeroStillFree);
    ::close(socketMade);
}

TEST_F(EthernetLink, AConnectThatNobodyAnswersGivesUpAtItsLimit) {
    // A listener whose queue is full drops further connection attempts
    // unanswered, like a host that does not answer, without leaving loopback.
    LoopbackListener listener(0);
    ASSERT_GE(listener.descriptor, 0);
    const sockaddr_in address = listener.address;
    std::vector<int> queued;
    int error = 0;
    bool stalled = false;
    for (int attempt = 0; attempt < 8 && !stalled; ++attempt) {
        int client = morlix::platform::openTcpSocket(error);
        ASSERT_GE(client, 3);
        auto start = std::chrono::steady_clock::now();
        bool connected = morlix::platform::connectWithin(
            client, address.sin_addr.s_addr, ntohs(address.sin_port), std::chrono::milliseconds(300), error);
        auto took = std::chrono::steady_clock::now() - start;
        queued.push_back(client);
        if (!connected) {
            stalled = true;
            EXPECT_EQ(error, ETIMEDOUT);
            EXPECT_GE(took, std::chrono::milliseconds(250));
            EXPECT_LT(took, std::chrono::milliseconds(2000));
        }
    }
    EXPECT_TRUE(stalled);
    for (int client : queued) ::close(client);
}

TEST_F(EthernetLink, APrinterThatNeverAnswersGivesUpAtTheTransferLimit) {
    // Connected, but nobody ever reads or answers: the queued connection of a
    // listener that never accepts.
    LoopbackListener listener(4);
    ASSERT_GE(listener.descriptor, 0);
    const sockaddr_in address = listener.address;
    int error = 0;
    int client = morlix::platform::openTcpSocket(error);
    ASSERT_GE(client, 3);
    ASSERT_TRUE(morlix::platform::connectWithin(client, address.sin_addr.s_addr, ntohs(address.sin_port),
                                                std::chrono::milliseconds(2000), error));

    // A receive is bounded even on a socket whose own waits never were (one
    // the library did not open).
    std::uint8_t reply[16];
    auto received = morlix::platform::socketReceive(client, reply, std::chrono::milliseconds(300));
    EXPECT_FALSE(received.ok);
    EXPECT_EQ(received.error, ETIMEDOUT);
    ASSERT_TRUE(morlix::platform::limitTransferWaits(client, std::chrono::milliseconds(300)));

    // Sends stop too once the peer's window is full and nothing more moves.
    std::vector<std::uint8_t> block(1 << 20, 0x55);
    bool sendStopped = false;
    for (int i = 0; i < 64 && !sendStopped; ++i) {
        auto sent = morlix::platform::socketSend(client, block);
        sendStopped = !sent.ok || sent.bytes < block.size();
    }
    EXPECT_TRUE(sendStopped);

    std::int32_t length = sizeof reply;
    morlix::platform::DebugCapture log;
    EXPECT_EQ(ReadDataEthernetVB(client, reply, &length), 0);
    EXPECT_EQ(length, static_cast<std::int32_t>(sizeof reply));
    EXPECT_TRUE(log.contains("ReadDataEthernet - Connection Closed"));
    ::close(client);
}

}  // namespace
