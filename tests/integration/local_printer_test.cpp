// The local printer path end to end: the search over USB rows and parallel
// ports, the identity read, writes and the flash query, against printer-sim
// serving simulated devices under a temporary MORLIX_DEVICE_ROOT.
#include "link/local_printer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "fake_device_server.h"
#include "link/printer_data.h"
#include "morlix/printer_codes.h"
#include "platform/device_io.h"
#include "platform/operator_message.h"
#include "private_cupsd.h"
#include "sha256.h"
#include "sim_test_support.h"

namespace {

using namespace simtest;
using morlix::platform::DebugCapture;
using morlix::platform::OperatorMessageCapture;
using velquin::testing::DeviceRoot;

std::string hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

class LocalPrinter : public ::testing::Test {
protected:
    void SetUp() override { morlix::printerData = {}; }
    void TearDown() override {
        if (handle >= 3) ClosePrinterHandleVB(handle);
    }

    // A simulated printer at `devicePath`, with faults of its own.
    printersim::Simulator& simulatorAt(const std::string& devicePath, printersim::Faults faults = {}) {
        auto simulator = std::make_unique<printersim::Simulator>();
        simulator->printer().setFaults(faults);
        simulator->addDevice(root.path(devicePath));
        simulators.push_back(std::move(simulator));
        return *simulators.back();
    }
    // A device path that exists but cannot be opened: a socket nobody serves.
    void deadDeviceAt(const std::string& devicePath) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", root.path(devicePath).c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    std::int32_t portType() const {
        std::int32_t port = -1, board = -1, type = -1, model = -1;
        GetPrinterDetailVB(&port, &board, &type, &model);
        return port;
    }

    DeviceRoot root;
    std::vector<std::unique_ptr<printersim::Simulator>> simulators;
    std::int32_t handle = 0;
};

TEST_F(LocalPrinter, IsFoundAtTheThirdUsbRowAndItsIdentityParsed) {
    deadDeviceAt("/dev/usb/lp0");
    std::filesystem::create_directories(root.path("/dev/usb/lp1"));  // opens as nothing at all
    printersim::Simulator& simulator = simulatorAt("/dev/usb/lp2");
    DebugCapture log;
    ASSERT_EQ(GetPrinterHandleVB(&handle), 0);
    EXPECT_GE(handle, 3);
    EXPECT_EQ(morlix::printerHandle, handle);
    EXPECT_EQ(portType(), morlix::PORT_TYPE_USB);
    EXPECT_EQ(std::string(morlix::fieldText(morlix::printerData.deviceId)), printersim::DEFAULT_IDENTITY);
    EXPECT_EQ(std::string(morlix::fieldText(morlix::printerData.printerName)), "RVA 300");
    EXPECT_EQ(std::string(morlix::fieldText(morlix::printerData.firmwareVersion)), "5.07");
    EXPECT_EQ(morlix::printerData.printerModel, morlix::PRINTER_MODEL_RVA);
    EXPECT_EQ(morlix::printerData.logicBdType, morlix::LOGIC_BD_MXR_PLUS);
    float version = 0;
    GetPrinterVersionVB(&version);
    EXPECT_FLOAT_EQ(version, 5.07f);
    expectInOrder(log, {"GetPrinterHandleVB - Entry", "GetPrinterHandle - entry",
                        "GetPrinterHandle - Found USB printer",
                        "GetPrinterHandleVB - found printer handle = " + std::to_string(handle),
                        "**************************** printerData->printerName", "RVA 300",
                        "GetFWVersionFromID - entry", "Printer version number", "5.07"});
    EXPECT_FALSE(log.contains("findPrinterPARALLEL - Entry"));

    // The flash query asks the same device through the library's copy of the handle.
    std::int32_t freeFlash = -1;
    EXPECT_EQ(GetFlashSpaceRemainingVB(&freeFlash), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(freeFlash), simulator.printer().freeFlash());
    EXPECT_GT(freeFlash, 0);
}

TEST_F(LocalPrinter, ReadsTheIdentityWhateverItsLengthPrefix) {
    using printersim::DeviceIdPrefix;
    for (DeviceIdPrefix prefix :
         {DeviceIdPrefix::Normal, DeviceIdPrefix::Absent, DeviceIdPrefix::Swapped, DeviceIdPrefix::TooLong}) {
        printersim::Faults faults;
        faults.deviceIdPrefix = prefix;
        faults.longIdentity = prefix == DeviceIdPrefix::TooLong;
        simulators.clear();
        printersim::Simulator& simulator = simulatorAt("/dev/usb/lp0", faults);
        morlix::printerData = {};
        ASSERT_EQ(GetPrinterHandleVB(&handle), 0);
        const Bytes identity = simulator.printer().identityBytes();
        const std::string expected(identity.begin(), identity.end());
        EXPECT_EQ(std::string(morlix::fieldText(morlix::printerData.deviceId)), expected)
            << static_cast<int>(prefix);
        EXPECT_EQ(std::string(morlix::fieldText(morlix::printerData.printerName)), "RVA 300");
        ClosePrinterHandleVB(handle);
        EXPECT_EQ(morlix::printerHandle, 0);
    }
    handle = 0;
}

TEST_F(LocalPrinter, IsFoundOnLpt2AfterLpt1FailsAndKeepsAShared15SecondPort) {
    printersim::Simulator& simulator = simulatorAt("/dev/lp1");
    DebugCapture log;
    ASSERT_EQ(GetPrinterHandleVB(&handle), 0);
    EXPECT_EQ(portType(), morlix::PORT_TYPE_PARALLEL);
    expectInOrder(
        log, {"GetPrinterHandle - Did not find USB printer", "findPrinterPARALLEL - Entry",
              "IsPrinterPARALLEL -  entry", "IsPrinterPARALLEL - LPT1",
              "IsPrinterPARALLEL - INVALID_HANDLE_VALUE", "IsPrinterPARALLEL -  entry",
              "IsPrinterPARALLEL - LPT2", "Read File passed, bytes read pStatusBytes = 5, - 00 00 00 00 00",
              "CTO = rit 0 rttc 0 rttm 0 wttc 10000 wttm 0", "GetPrinterHandle - Found Parallel printer"});
    // The status test ran on a connection of its own; the handle kept is a second one.
    EXPECT_EQ(simulator.printer().connectionsAccepted(), 2u);
    morlix::platform::PortTimeouts timeouts;
    ASSERT_TRUE(morlix::platform::getPortTimeouts(handle, timeouts));
    EXPECT_EQ(timeouts.writeTotalConstant, morlix::PARALLEL_WRITE_TIMEOUT_MS);
    EXPECT_EQ(std::string(morlix::fieldText(morlix::printerData.printerName)), "RVA 300");
}

TEST_F(LocalPrinter, KeepsAWriteTimeOutAboveFifteenSecondsAndRaisesOneBelow) {
    simulatorAt("/dev/lp0");
    for (std::uint32_t before : {5000u, 20000u}) {
        {
            const int port =
                morlix::platform::openDevice("/dev/lp0", morlix::platform::DeviceSharing::Shared);
            morlix::platform::PortTimeouts timeouts;
            timeouts.writeTotalConstant = before;
            ASSERT_TRUE(morlix::platform::setPortTimeouts(port, timeouts));
            morlix::platform::handleClose(port);
        }
        DebugCapture log;
        ASSERT_TRUE(morlix::findPrinterPARALLEL(&handle));
        EXPECT_TRUE(log.contains("CTO = rit 0 rttc 0 rttm 0 wttc " + std::to_string(before) + " wttm 0"));
        morlix::platform::PortTimeouts after;
        ASSERT_TRUE(morlix::platform::getPortTimeouts(handle, after));
        EXPECT_EQ(after.writeTotalConstant, std::max(before, morlix::PARALLEL_WRITE_TIMEOUT_MS));
        morlix::platform::handleClose(handle);
    }
    handle = 0;
}

TEST_F(LocalPrinter, APortThatRefusesTheTimeOutIsStillUsedAndTheOperatorTold) {
    // A plain file stands on LPT1: it answers the status reads but is no parallel port.
    std::ofstream(root.path("/dev/lp0")) << std::string(2048, 'S');
    OperatorMessageCapture messages;
    ASSERT_EQ(GetPrinterHandleVB(&handle), 0);
    EXPECT_EQ(portType(), morlix::PORT_TYPE_PARALLEL);
    EXPECT_EQ(messages.messages(), std::vector<std::string>{"Set cto failed"});
}

TEST_F(LocalPrinter, ALptPortWithAShortStatusGetsOneZeroByteAndNothingIsFound) {
    printersim::Faults faults;
    faults.statusLength = 3;
    printersim::Simulator& simulator = simulatorAt("/dev/lp0", faults);
    handle = 12345;
    DebugCapture log;
    EXPECT_EQ(GetPrinterHandleVB(&handle), 1);
    EXPECT_EQ(handle, 12345);  // not written
    EXPECT_EQ(morlix::printerHandle, 0);
    EXPECT_EQ(portType(), morlix::PORT_TYPE_UNKNOWN);
    EXPECT_TRUE(simulator.printer().waitForBytesReceived(1, PATIENCE));
    EXPECT_EQ(simulator.printer().bytesReceived(), 1u);
    expectInOrder(
        log,
        {"IsPrinterPARALLEL - LPT1", "Read File passed, bytes read pStatusBytes = 3, - 00 00 00 00 00",
         "IsPrinterPARALLEL - LPT2", "IsPrinterPARALLEL - INVALID_HANDLE_VALUE", "IsPrinterPARALLEL - LPT3",
         "IsPrinterPARALLEL - INVALID_HANDLE_VALUE", "GetPrinterHandle - Did not find Parallel printer",
         "GetPrinterHandleVB - Did not find printer"});
    handle = 0;
}

TEST_F(LocalPrinter, AFailedIdentityReadKeepsTheIdentityBefore) {
    morlix::setFieldText(morlix::printerData.deviceId, "MDL:RVB 200;FWV:2.10;");
    std::ofstream(root.path("/dev/usb/lp0")) << "not a printer";
    DebugCapture log;
    ASSERT_EQ(GetPrinterHandleVB(&handle), 0);
    EXPECT_TRUE(log.contains("Error = 25, IOCTL = " +
                             hex(static_cast<int>(morlix::platform::deviceIdRequestCode(1024)))));
    EXPECT_EQ(std::string(morlix::fieldText(morlix::printerData.printerName)), "RVB 200");
    EXPECT_EQ(morlix::printerData.logicBdType, morlix::LOGIC_BD_II);
}

TEST_F(LocalPrinter, WritesArriveByteExactWithTheirDumpLines) {
    printersim::Simulator& simulator = simulatorAt("/dev/usb/lp0");
    ASSERT_EQ(GetPrinterHandleVB(&handle), 0);
    const std::string entry =
        "WritePrinterVB - Entry Handle = " + hex(handle) + ", Number of bytes to write = ";

    DebugCapture log;
    EXPECT_EQ(WritePrinterVB(handle, nullptr, 0), 0);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{entry + "0", "WritePrinterVB - Success"}));

    const Bytes header = bytesOf("<ttf20>");
    log.clear();
    EXPECT_EQ(WritePrinterVB(handle, header.data(), static_cast<std::uint32_t>(header.size())), 0);
    EXPECT_EQ(log.lines().at(1), "3C - 74 - 74 - 66 - 32 - 30 - 3E -   <- 7 total bytes written");

    Bytes file = patternBytes(20);
    file[7] = 0xA5;
    log.clear();
    EXPECT_EQ(WritePrinterVB(handle, file.data(), 20), 0);
    ASSERT_EQ(log.lines().size(), 5u);
    EXPECT_EQ(log.lines()[0], entry + "20");
    EXPECT_TRUE(log.lines()[1].ends_with(" - A5 -   <- 8 total bytes written")) << log.lines()[1];
    EXPECT_TRUE(log.lines()[2].ends_with("  <- 16 total bytes written"));
    EXPECT_TRUE(log.lines()[3].ends_with("  <- 20 total bytes written"));
    EXPECT_EQ(log.lines()[3].size(), std::string("00 - 00 - 00 - 00 -   <- 20 total bytes written").size());
    EXPECT_EQ(log.lines()[4], "WritePrinterVB - Success");

    // A larger file in the program's 8,192-byte pieces.
    const Bytes large = patternBytes(100000, 7);
    const Bytes largeHeader = bytesOf("<ttf100000>");
    ASSERT_EQ(WritePrinterVB(handle, largeHeader.data(), static_cast<std::uint32_t>(largeHeader.size())), 0);
    for (std::size_t at = 0; at < large.size(); at += 8192) {
        const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(8192, large.size() - at));
        ASSERT_EQ(WritePrinterVB(handle, large.data() + at, piece), 0);
    }
    ASSERT_TRUE(simulator.printer().waitForJournal(2, PATIENCE));
    const auto journal = simulator.printer().journal();
    EXPECT_EQ(journal[0].kind, printersim::EntryKind::TrueType);
    EXPECT_EQ(journal[0].size, 20u);
    EXPECT_EQ(journal[0].sha256, printersim::Sha256::hexOf(file));
    EXPECT_EQ(journal[1].size, large.size());
    EXPECT_EQ(journal[1].sha256, printersim::Sha256::hexOf(large));

    EXPECT_EQ(WritePrinterVB(2, file.data(), 1), 1);  // a standard stream is never a printer
}

TEST_F(LocalPrinter, AWriteToAVanishedPrinterFails) {
    simulatorAt("/dev/usb/lp0");
    ASSERT_EQ(GetPrinterHandleVB(&handle), 0);
    simulators.clear();
    const Bytes data = bytesOf("<SS>");
    DebugCapture log;
    EXPECT_EQ(WritePrinterVB(handle, data.data(), 4), 1);
    EXPECT_EQ(log.lines().back(), "WritePrinterVB - Failure");
}

TEST_F(LocalPrinter, AnEmptyWriteToAClosedPrinterDeviceFails) {
    std::ofstream(root.path("/dev/usb/lp0")) << "device node";
    ASSERT_EQ(GetPrinterHandleVB(&handle), 0);
    EXPECT_EQ(WritePrinterVB(handle, nullptr, 0), 0);
    ClosePrinterHandleVB(handle);
    DebugCapture log;
    EXPECT_EQ(WritePrinterVB(handle, nullptr, 0), 1);
    EXPECT_EQ(log.lines().back(), "WritePrinterVB - Failure");
    handle = 0;
}

TEST_F(LocalPrinter, AParallelPrintersIdentityComesFromTheKernelsProbe) {
    std::ofstream(root.path("/dev/lp0")) << std::string(2048, 'S');
    const std::string probe = root.folder() + "/proc/sys/dev/parport/parport0";
    std::filesystem::create_directories(probe);
    std::ofstream(probe + "/autoprobe")
        << "CLASS:PRINTER;\nMODEL:RVB 300;\nMANUFACTURER:Maker;\nDESCRIPTION:Ticket printer;\n";
    OperatorMessageCapture messages;  // a plain file takes no write time-out
    ASSERT_EQ(GetPrinterHandleVB(&handle), 0);
    EXPECT_EQ(portType(), morlix::PORT_TYPE_PARALLEL);
    EXPECT_EQ(morlix::fieldText(morlix::printerData.deviceId),
              "CLS:PRINTER;MDL:RVB 300;MFG:Maker;DES:Ticket printer;");
    EXPECT_EQ(morlix::fieldText(morlix::printerData.printerName), "RVB 300");
}

TEST_F(LocalPrinter, APrinterHeldByAnotherProgramIsNotAvailable) {
    std::ofstream(root.path("/dev/usb/lp0")) << "printer";
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {  // another program, with a runtime folder of its own
        ::close(ready[0]);
        ::close(release[1]);
        ::setenv("XDG_RUNTIME_DIR", (root.folder() + "/other-runtime").c_str(), 1);
        std::int32_t held = 0;
        const char found = GetPrinterHandleVB(&held) == 0 ? 'y' : 'n';
        char ignored;
        if (::write(ready[1], &found, 1) != 1 || ::read(release[0], &ignored, 1) < 0) ::_exit(2);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char found = 0;
    ASSERT_EQ(::read(ready[0], &found, 1), 1);
    EXPECT_EQ(found, 'y');
    {
        DebugCapture log;
        EXPECT_EQ(GetPrinterHandleVB(&handle), 1);
        EXPECT_TRUE(log.contains("/dev/usb/lp0 is in use by another program: not available"));
    }
    ::close(release[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    ::close(ready[0]);
    EXPECT_EQ(GetPrinterHandleVB(&handle), 0);  // free once the other program has let go
}

TEST_F(LocalPrinter, RepeatedSearchesLeaveNoDescriptorBehind) {
    velquin::testing::PrivateCupsd cupsd;
    if (std::string reason = cupsd.unavailableReason(); !reason.empty()) GTEST_SKIP() << reason;
    ASSERT_TRUE(cupsd.start()) << cupsd.error();
    ASSERT_TRUE(cupsd.addQueue("ticket_usb", "usb://Maker/Ticket"));
    ASSERT_TRUE(cupsd.addQueue("ticket_lpt", "parallel:/dev/lp0"));
    deadDeviceAt("/dev/usb/lp0");
    printersim::Faults shortStatus;
    shortStatus.statusLength = 3;
    simulatorAt("/dev/lp0", shortStatus);  // tried, answers too little, passed over
    printersim::Simulator& found = simulatorAt("/dev/usb/lp5");

    // The program's search: redirect, close the old handle, search.
    auto search = [&] {
        EXPECT_EQ(SetPortsToFile(), 0);
        ClosePrinterHandleVB(handle);
        handle = 0;
        return GetPrinterHandleVB(&handle);
    };
    auto settledCount = [](std::size_t atMost) {
        // The simulator closes its side of a connection on its own thread.
        for (int i = 0; i < 100 && openDescriptorCount() > atMost; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return openDescriptorCount();
    };

    // Twenty searches that find the printer, then eighty that find nothing.
    for (auto [searches, result] : {std::pair{20, 0}, std::pair{80, 1}}) {
        ASSERT_EQ(search(), result);
        ClosePrinterHandleVB(handle);
        handle = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::size_t before = openDescriptorCount();
        for (int i = 1; i < searches; ++i) ASSERT_EQ(search(), result);
        ClosePrinterHandleVB(handle);
        handle = 0;
        EXPECT_EQ(settledCount(before), before) << "after searches that gave " << result;
        found.stop();
    }
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), "usb://Maker/Ticket");
}

}  // namespace
