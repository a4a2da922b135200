// printer-sim's own behaviour, seen over real loopback and device sockets:
// what it stores, its flash accounting and toggle, its faults, its device
// front end and the program.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

#include "link/printer_data.h"
#include "sha256.h"
#include "sim_test_support.h"
#include "velquin/sim_device_protocol.h"

namespace {

using namespace simtest;
using printersim::EntryKind;
using printersim::Sha256;

// A temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/printer-sim-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes ESC = {0x1B};

std::uint8_t statusFlags(std::int32_t socket) {
    Bytes status = ask(socket, "<SS>");
    return status.size() > 4 ? status[4] : 0xFF;
}

std::uint64_t freeFlashOver(std::int32_t socket) {
    Bytes reply = ask(socket, "<SA07>");
    std::string text(reply.begin(), reply.end());
    if (text.size() != 13 || text.substr(0, 5) != "A0708") return UINT64_MAX;
    return std::stoull(text.substr(5));
}

class SimulatedPrinter : public ::testing::Test {
protected:
    void start(printersim::PrinterConfig config = {}) {
        simulator.emplace(std::move(config));
        port = simulator->listenTcp(0);
        socket = connectTo(port);
        ASSERT_GE(socket, 3);
    }
    void TearDown() override {
        if (socket >= 3) CloseEthernetSocketVB(socket);
    }
    printersim::PrinterModel& printer() { return simulator->printer(); }
    std::vector<printersim::JournalEntry> journalOf(std::size_t count) {
        EXPECT_TRUE(printer().waitForJournal(count, PATIENCE));
        return printer().journal();
    }

    std::optional<printersim::Simulator> simulator;
    std::uint16_t port = 0;
    std::int32_t socket = 0;
};

TEST_F(SimulatedPrinter, StoresEveryUploadKindByteExact) {
    TempFolder folder;
    printersim::PrinterConfig config;
    config.journalFolder = folder.path() / "journal";
    start(config);

    const Bytes font = patternBytes(52344, 1);
    const Bytes image = patternBytes(30001, 2);
    const Bytes softFont = concat({bytesOf("<SL40,30,1,96,4160>"), ESC, patternBytes(4160, 3), ESC});
    const std::vector<std::string> ticketParts = {"<RC100,000><SF1,20>Soft Font Number 1",
                                                  "<RC500,000><SF5,20>Soft Font Number 5<p>"};
    ASSERT_TRUE(sendAll(socket, bytesOf("<ttf52344>")));
    ASSERT_TRUE(sendAll(socket, font));
    ASSERT_TRUE(sendAll(socket, concat({ESC, bytesOf("<pcx><G30001>")})));
    ASSERT_TRUE(sendAll(socket, image));
    ASSERT_TRUE(sendAll(socket, ESC));
    ASSERT_TRUE(sendAll(socket, softFont));
    for (const auto& part : ticketParts) ASSERT_TRUE(sendAll(socket, bytesOf(part)));
    ASSERT_TRUE(sendAll(socket, bytesOf("<CF>")));
    ASSERT_TRUE(sendAll(socket, Bytes{0x00, 0xFF}));
    CloseEthernetSocketVB(socket);
    socket = 0;

    const std::string ticket = ticketParts[0] + ticketParts[1];
    struct Expected {
        EntryKind kind;
        Bytes bytes;
        bool stored;
        bool error;
    };
    const std::vector<Expected> expected = {
        {EntryKind::TrueType, font, true, false},     {EntryKind::Pcx, image, true, false},
        {EntryKind::SoftFont, softFont, true, false}, {EntryKind::Ticket, bytesOf(ticket), false, false},
        {EntryKind::Erase, {}, false, false},         {EntryKind::Unparsed, Bytes{0x00, 0xFF}, false, true},
    };
    auto journal = journalOf(expected.size());
    ASSERT_EQ(journal.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(printersim::describe(journal[i]));
        EXPECT_EQ(journal[i].order, i + 1);
        EXPECT_EQ(journal[i].kind, expected[i].kind);
        EXPECT_EQ(journal[i].size, expected[i].bytes.size());
        EXPECT_EQ(journal[i].sha256, Sha256::hexOf(expected[i].bytes));
        EXPECT_EQ(journal[i].stored, expected[i].stored);
        EXPECT_EQ(journal[i].error, expected[i].error);
        EXPECT_EQ(journal[i].source, "tcp");
        EXPECT_EQ(readFile(journal[i].file), expected[i].bytes);
    }
    EXPECT_EQ(journal[3].text, ticket);
    EXPECT_EQ(journal[0].text, "<ttf52344>");
    std::ifstream index(config.journalFolder / "journal.txt");
    std::size_t lines = 0;
    for (std::string line; std::getline(index, line);) ++lines;
    EXPECT_EQ(lines, expected.size());
}

TEST_F(SimulatedPrinter, AccountsForFlashAndInvertsTheToggleOncePerFile) {
    printersim::PrinterConfig config;
    config.flashSize = 100000;
    start(config);
    EXPECT_EQ(freeFlashOver(socket), 100000u);
    EXPECT_EQ(statusFlags(socket), 0x00);

    struct Step {
        Bytes bytes;
        std::uint64_t freeAfter;
        std::uint8_t flagsAfter;
    };
    const std::vector<Step> steps = {
        {concat({bytesOf("<ttf1000>"), patternBytes(1000)}), 99000, 0x02},
        {concat({ESC, bytesOf("<pcx><G500>"), patternBytes(500), ESC}), 98500, 0x00},
        {concat({bytesOf("<SL1,2,3,4,5>"), ESC, patternBytes(5), ESC}), 98500 - 20, 0x02},
        // A ticket and a request take no flash and change nothing.
        {bytesOf("<RC1,1>x<p><SS>"), 98480, 0x02},
        {bytesOf("<CF>"), 100000, 0x00},
        // Too big for the flash: not stored, but the write still ends.
        {concat({bytesOf("<ttf100001>"), patternBytes(100001)}), 100000, 0x02},
    };
    std::size_t entries = 0;
    for (const Step& step : steps) {
        ASSERT_TRUE(sendAll(socket, step.bytes));
        ASSERT_TRUE(printer().waitForJournal(++entries, PATIENCE));
        ASSERT_TRUE(printer().waitUntilIdle(PATIENCE));
        if (step.bytes == bytesOf("<RC1,1>x<p><SS>")) {
            ASSERT_TRUE(waitReadable(socket));
            std::uint8_t status[16];
            std::int32_t length = sizeof status;
            ASSERT_EQ(ReadDataEthernetVB(socket, status, &length), 1);
        }
        EXPECT_EQ(freeFlashOver(socket), step.freeAfter);
        EXPECT_EQ(statusFlags(socket), step.flagsAfter);
    }
    auto journal = printer().journal();
    EXPECT_TRUE(journal.back().error);
    EXPECT_EQ(journal.back().problem, "flash full");
    EXPECT_FALSE(journal.back().stored);
}

TEST_F(SimulatedPrinter, IsBusyWhileItWritesItsFlash) {
    printersim::PrinterConfig config;
    config.writeBytesPerSecond = 100000;  // 20,000 bytes take 200 ms
    start(config);
    ASSERT_TRUE(sendAll(socket, concat({bytesOf("<ttf20000>"), patternBytes(20000)})));
    ASSERT_TRUE(printer().waitForJournal(1, PATIENCE));
    std::uint8_t writing = statusFlags(socket);
    EXPECT_EQ(writing & 0x20, 0x20);
    EXPECT_EQ(writing & 0x02, 0x00);
    EXPECT_EQ(isPrinterReadyEthernetVB(socket), 0);
    ASSERT_TRUE(printer().waitUntilIdle(PATIENCE));
    EXPECT_EQ(statusFlags(socket), 0x02);
}

TEST_F(SimulatedPrinter, ShowsItsStatusAndFlashFaults) {
    start();
    printersim::Faults faults;
    faults.stayBusy = true;
    faults.freezeToggle = true;
    faults.badFlashReplies = 2;
    printer().setFaults(faults);
    ASSERT_TRUE(sendAll(socket, concat({bytesOf("<ttf10>"), patternBytes(10)})));
    ASSERT_TRUE(printer().waitForJournal(1, PATIENCE));
    EXPECT_EQ(statusFlags(socket), 0x20);  // busy for good, toggle frozen
    EXPECT_EQ(ask(socket, "<SA07>")[0], 'X');
    EXPECT_EQ(ask(socket, "<SA07>")[0], 'X');
    EXPECT_EQ(ask(socket, "<SA07>"), bytesOf("A070808388598"));

    faults = {};
    faults.garbageReplies = true;
    printer().setFaults(faults);
    Bytes garbage = ask(socket, "<SA07>");
    EXPECT_EQ(garbage.size(), 13u);
    EXPECT_NE(garbage[0], 'A');
}

TEST_F(SimulatedPrinter, AnswersAfterADelayWhenToldTo) {
    start();
    printersim::Faults faults;
    faults.replyDelay = std::chrono::milliseconds(300);
    printer().setFaults(faults);
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(socket, "<SA07>"), bytesOf("A070808388608"));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(300));
}

TEST_F(SimulatedPrinter, ClosingMidFileJournalsTheCutFileAndRecovers) {
    start();
    printersim::Faults faults;
    faults.closeMidFile = true;
    printer().setFaults(faults);
    const Bytes font = patternBytes(10000);
    sendAll(socket, concat({bytesOf("<ttf10000>"), font}));
    auto journal = journalOf(1);
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].kind, EntryKind::TrueType);
    EXPECT_EQ(journal[0].size, 5000u);
    EXPECT_EQ(journal[0].sha256, Sha256::hexOf(std::span(font).first(5000)));
    EXPECT_TRUE(journal[0].error);
    EXPECT_FALSE(journal[0].stored);
    EXPECT_TRUE(printer().waitUntilIdle(PATIENCE));
    EXPECT_FALSE(printer().flashToggle());
    EXPECT_EQ(printer().freeFlash(), 8388608u);

    printer().setFaults({});
    CloseEthernetSocketVB(socket);
    socket = connectTo(port);
    EXPECT_EQ(freeFlashOver(socket), 8388608u);
}

TEST_F(SimulatedPrinter, ServesSeveralConnectionsAtOnce) {
    start();
    std::int32_t second = connectTo(port);
    ASSERT_GE(second, 3);
    ASSERT_TRUE(sendAll(socket, bytesOf("<ttf4>ab")));
    ASSERT_TRUE(sendAll(second, bytesOf("<ttf2>xy")));
    ASSERT_TRUE(sendAll(socket, bytesOf("cd")));
    auto journal = journalOf(2);
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0].sha256, Sha256::hexOf(bytesOf("xy")));
    EXPECT_EQ(journal[1].sha256, Sha256::hexOf(bytesOf("abcd")));
    CloseEthernetSocketVB(second);
}

TEST(SimulatorLifetime, StopsPromptlyWithClientsAttached) {
    std::int32_t socket = 0;
    auto begin = std::chrono::steady_clock::now();
    {
        printersim::Simulator simulator;
        socket = connectTo(simulator.listenTcp(0));
        ASSERT_GE(socket, 3);
        ASSERT_TRUE(sendAll(socket, bytesOf("<ttf100>abc")));
        ASSERT_TRUE(simulator.printer().waitForBytesReceived(6 + 11, PATIENCE));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
    std::uint8_t buffer[8];
    std::int32_t length = sizeof buffer;
    EXPECT_EQ(ReadDataEthernetVB(socket, buffer, &length), 0);
    CloseEthernetSocketVB(socket);
}

TEST(SimulatorAddress, ListensOnAnyLoopbackAddressAndRefusesTheRest) {
    struct Case {
        const char* address;
        bool listens;
    };
    for (const Case& c : {Case{"127.0.0.1", true}, Case{"127.0.0.77", true}, Case{"127.255.255.254", true},
                          Case{"10.0.0.1", false}, Case{"0.0.0.0", false}, Case{"128.0.0.1", false},
                          Case{"127.0.0", false}, Case{"localhost", false}}) {
        printersim::Simulator simulator;
        if (!c.listens) {
            EXPECT_THROW(simulator.listenTcp(0, c.address), std::invalid_argument) << c.address;
            continue;
        }
        const std::uint16_t port = simulator.listenTcp(0, c.address);
        // Only that address answers.
        const int other = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        ::inet_pton(AF_INET, std::string(c.address) == "127.0.0.1" ? "127.0.0.2" : "127.0.0.1",
                    &target.sin_addr);
        EXPECT_NE(::connect(other, reinterpret_cast<const sockaddr*>(&target), sizeof target), 0)
            << c.address;
        ::close(other);
        ::inet_pton(AF_INET, c.address, &target.sin_addr);
        const int own = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::connect(own, reinterpret_cast<const sockaddr*>(&target), sizeof target), 0) << c.address;
        ::close(own);
    }
}

// The client side of the device protocol, just enough to drive the simulator.
class DeviceClient {
public:
    explicit DeviceClient(const std::filesystem::path& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~DeviceClient() { ::close(fd_); }
    bool connected() const { return connected_; }

    struct Answer {
        std::uint8_t kind = 0;
        Bytes payload;
    };
    // One request, one answer; kind 0 when the simulator closed the socket.
    Answer exchange(std::uint8_t kind, const Bytes& payload) {
        Bytes frame{kind};
        appendNumber(frame, static_cast<std::uint32_t>(payload.size()));
        frame.insert(frame.end(), payload.begin(), payload.end());
        return sendAndAwait(frame);
    }
    // A frame header that announces `length` bytes, sent without them.
    Answer claim(std::uint8_t kind, std::uint32_t length) {
        Bytes frame{kind};
        appendNumber(frame, length);
        return sendAndAwait(frame);
    }
    Answer sendAndAwait(const Bytes& frame) {
        if (::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size()))
            return {};
        std::uint8_t header[5];
        if (!receive(header, 5)) return {};
        std::uint32_t length =
            header[1] | (header[2] << 8) | (header[3] << 16) | (std::uint32_t{header[4]} << 24);
        Answer answer{header[0], Bytes(length)};
        if (!receive(answer.payload.data(), length)) return {};
        return answer;
    }
    Answer read(std::uint32_t most) { return exchange(velquin::simdevice::READ, number(most)); }
    Answer deviceId(std::uint32_t most) { return exchange(velquin::simdevice::DEVICE_ID, number(most)); }
    Answer write(const Bytes& bytes) { return exchange(velquin::simdevice::WRITE, bytes); }

    static Bytes number(std::uint32_t value) {
        Bytes bytes;
        appendNumber(bytes, value);
        return bytes;
    }

private:
    static void appendNumber(Bytes& bytes, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    bool receive(std::uint8_t* into, std::size_t size) {
        while (size > 0) {
            if (!waitReadable(fd_)) return false;
            ssize_t got = ::recv(fd_, into, size, 0);
            if (got <= 0) return false;
            into += got;
            size -= static_cast<std::size_t>(got);
        }
        return true;
    }
    int fd_ = -1;
    bool connected_ = false;
};

class SimulatedDevice : public ::testing::Test {
protected:
    void SetUp() override {
        simulator.addDevice(printersim::usbDevicePath(root.path(), 0), "usb0");
        simulator.addDevice(printersim::parallelDevicePath(root.path(), 0), "lpt0");
    }
    DeviceClient usb() { return DeviceClient(root.path() / "dev/usb/lp0"); }

    TempFolder root;
    printersim::Simulator simulator;
};

TEST_F(SimulatedDevice, AnswersReadsWithStatusAndTheFlashReplyAfterItsRequest) {
    DeviceClient device = usb();
    ASSERT_TRUE(device.connected());
    auto status = device.read(512);
    EXPECT_EQ(status.kind, velquin::simdevice::DATA);
    EXPECT_EQ(status.payload, (Bytes{0, 0, 0, 0, 0}));
    EXPECT_EQ(device.read(2).payload.size(), 2u);

    auto wrote = device.write(Bytes{0x1B, 'I', 'A', 0x07});
    EXPECT_EQ(wrote.kind, velquin::simdevice::WROTE);
    EXPECT_EQ(wrote.payload, DeviceClient::number(4));
    EXPECT_EQ(device.read(512).payload, bytesOf("A070808388608"));
    EXPECT_EQ(device.read(512).payload.size(), 5u);  // status again

    // An upload through the device lands in the journal under its name.
    ASSERT_EQ(device.write(bytesOf("<ttf3>abc")).kind, velquin::simdevice::WROTE);
    ASSERT_TRUE(simulator.printer().waitForJournal(1, PATIENCE));
    auto entry = simulator.printer().journal().front();
    EXPECT_EQ(entry.source, "usb0");
    EXPECT_EQ(entry.sha256, Sha256::hexOf(bytesOf("abc")));
    ASSERT_TRUE(simulator.printer().waitUntilIdle(PATIENCE));
    EXPECT_EQ(device.read(512).payload[4], 0x02);

    // The parallel device is the same printer.
    DeviceClient parallel(root.path() / "dev/lp0");
    EXPECT_EQ(parallel.read(512).payload[4], 0x02);
}

TEST_F(SimulatedDevice, StopsTakingRequestsWhileItsAnswersAreNotRead) {
    DeviceClient device = usb();
    Bytes requests;  // 1 MiB of flash requests, each answered with 13 bytes nobody reads
    for (int i = 0; i < (1 << 18); ++i) requests.insert(requests.end(), {0x1B, 'I', 'A', 0x07});
    auto first = device.write(requests);
    ASSERT_EQ(first.kind, velquin::simdevice::WROTE);
    const std::uint32_t taken = first.payload[0] | first.payload[1] << 8 | first.payload[2] << 16 |
                                std::uint32_t{first.payload[3]} << 24;
    EXPECT_GT(taken, 0u);
    EXPECT_LT(taken, requests.size());
    EXPECT_EQ(device.write(requests).kind, 0);  // not taken at all: no answer comes
}

TEST_F(SimulatedDevice, GivesTheDeviceIdWithEachKindOfPrefix) {
    const std::string identity = printersim::DEFAULT_IDENTITY;
    const auto total = static_cast<std::uint8_t>(identity.size() + 2);
    struct Case {
        printersim::DeviceIdPrefix prefix;
        Bytes head;
    };
    const Case cases[] = {
        {printersim::DeviceIdPrefix::Normal, {0x00, total}},
        {printersim::DeviceIdPrefix::Swapped, {total, 0x00}},
        {printersim::DeviceIdPrefix::TooLong, {0x00, static_cast<std::uint8_t>(total + 100)}},
        {printersim::DeviceIdPrefix::Absent, {}},
    };
    for (const Case& test : cases) {
        printersim::Faults faults;
        faults.deviceIdPrefix = test.prefix;
        simulator.printer().setFaults(faults);
        DeviceClient device = usb();
        auto answer = device.deviceId(1024);
        EXPECT_EQ(answer.kind, velquin::simdevice::DATA);
        EXPECT_EQ(answer.payload, concat({test.head, bytesOf(identity)}));
        EXPECT_EQ(device.deviceId(10).payload.size(), 10u);
    }
}

TEST_F(SimulatedDevice, ShowsItsDeviceFaults) {
    printersim::Faults faults;
    faults.statusLength = 3;
    simulator.printer().setFaults(faults);
    DeviceClient device = usb();
    EXPECT_EQ(device.read(512).payload.size(), 3u);

    faults.failReads = true;
    simulator.printer().setFaults(faults);
    auto failed = device.read(512);
    EXPECT_EQ(failed.kind, velquin::simdevice::FAILED);
    EXPECT_EQ(failed.payload, DeviceClient::number(EIO));

    // Frames it does not know are refused; oversized ones end the link.
    EXPECT_EQ(device.exchange('Z', {}).kind, velquin::simdevice::FAILED);
    EXPECT_EQ(device.exchange(velquin::simdevice::READ, {1}).kind, velquin::simdevice::FAILED);
    EXPECT_EQ(device.exchange(velquin::simdevice::WRITE, Bytes{}).kind, velquin::simdevice::WROTE);
    EXPECT_EQ(device.claim(velquin::simdevice::WRITE, velquin::simdevice::MAX_FRAME_PAYLOAD + 1).kind, 0);

    faults = {};
    faults.closeOnAccept = true;
    simulator.printer().setFaults(faults);
    DeviceClient closed = usb();
    EXPECT_EQ(closed.read(512).kind, 0);
}

TEST_F(SimulatedDevice, ClosesAfterTheBytesItWasToldToTake) {
    printersim::Faults faults;
    faults.closeAfterBytes = 5;
    simulator.printer().setFaults(faults);
    DeviceClient device = usb();
    EXPECT_EQ(device.write(bytesOf("<ttf3>")).kind, 0);
    auto journal = (simulator.printer().waitForJournal(1, PATIENCE), simulator.printer().journal());
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].kind, EntryKind::Unparsed);
    EXPECT_EQ(journal[0].text, "<ttf3");
}

TEST_F(SimulatedDevice, StopsReadingAfterTheBytesItWasToldToTakeAndStaysConnected) {
    printersim::Faults faults;
    faults.stopReadingAfterBytes = 5;
    simulator.printer().setFaults(faults);
    DeviceClient device = usb();
    auto first = device.write(bytesOf("<ttf3>abc"));
    EXPECT_EQ(first.kind, velquin::simdevice::WROTE);
    EXPECT_EQ(first.payload, DeviceClient::number(5));
    EXPECT_EQ(device.write(bytesOf("abc")).kind, 0);  // never taken, never answered
    EXPECT_EQ(simulator.printer().bytesReceived(), 5u);
}

// Runs the printer-sim program with arguments; its standard output is a pipe.
class SimulatorProgram {
public:
    explicit SimulatorProgram(std::vector<std::string> arguments) {
        int output[2];
        if (::pipe2(output, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(output[1], 1);
            std::vector<char*> argv{const_cast<char*>(PRINTER_SIM_PATH)};
            for (auto& argument : arguments) argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execv(PRINTER_SIM_PATH, argv.data());
            ::_exit(127);
        }
        ::close(output[1]);
        out_ = ::fdopen(output[0], "r");
    }
    ~SimulatorProgram() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_) std::fclose(out_);
    }
    std::string line() {
        char text[512];
        if (!out_ || !std::fgets(text, sizeof text, out_)) return {};
        std::string result(text);
        if (!result.empty() && result.back() == '\n') result.pop_back();
        return result;
    }
    // Everything it prints until it exits.
    std::string rest() {
        std::string all;
        char chunk[512];
        for (std::size_t got; out_ && (got = std::fread(chunk, 1, sizeof chunk, out_)) > 0;)
            all.append(chunk, got);
        return all;
    }
    int stop(int signal) {
        ::kill(pid_, signal);
        return wait();
    }
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    FILE* out_ = nullptr;
};

TEST(PrinterSimProgram, ExplainsItselfAndRefusesUnknownOptions) {
    SimulatorProgram help({"--help"});
    std::string text = help.rest();
    EXPECT_EQ(help.wait(), 0);
    EXPECT_NE(text.find("Usage: printer-sim"), std::string::npos);
    EXPECT_NE(text.find("--close-mid-file"), std::string::npos);

    SimulatorProgram wrong({"--no-such-option"});
    EXPECT_EQ(wrong.rest(), "");
    EXPECT_EQ(wrong.wait(), 2);
    SimulatorProgram noRoot({"--usb", "0", "--device-root", ""});
    EXPECT_EQ(noRoot.wait(), 2);
}

TEST(PrinterSimProgram, ServesTcpAndDevicesAndReportsItsJournal) {
    TempFolder folder;
    SimulatorProgram program({"--port", "0", "--journal", (folder.path() / "journal").string(),
                              "--device-root", folder.path().string(), "--usb", "3", "--lpt", "1",
                              "--identity", "MDL:RVB 200;FWV:2.10;"});
    std::string portLine = program.line();
    ASSERT_EQ(portLine.rfind("port ", 0), 0u) << portLine;
    EXPECT_EQ(program.line(), "device " + (folder.path() / "dev/usb/lp3").string());
    EXPECT_EQ(program.line(), "device " + (folder.path() / "dev/lp1").string());

    auto port = static_cast<std::uint16_t>(std::stoi(portLine.substr(5)));
    std::int32_t socket = connectTo(port);
    ASSERT_GE(socket, 3);
    EXPECT_EQ(morlix::fieldText(morlix::printerData.printerName), "RVB 200");
    ASSERT_TRUE(sendAll(socket, bytesOf("<ttf3>abc")));
    EXPECT_EQ(program.line(), "1 ttf 3 " + Sha256::hexOf(bytesOf("abc")) + " tcp stored");
    CloseEthernetSocketVB(socket);

    DeviceClient device(folder.path() / "dev/lp1");
    EXPECT_EQ(device.read(512).payload.size(), 5u);
    EXPECT_EQ(program.stop(SIGTERM), 0);
    EXPECT_EQ(readFile(folder.path() / "journal" / "0001-ttf.bin"), bytesOf("abc"));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "dev/lp1"));
}

}  // namespace
