// Port redirection against a real CUPS server that each test starts itself.
#include "link/spooler_ports.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "link/redirection_record.h"
#include "morlix/morlix.h"
#include "platform/debug_output.h"
#include "platform/operator_message.h"
#include "private_cupsd.h"

namespace {

using morlix::platform::DebugCapture;
using morlix::platform::OperatorMessageCapture;
using velquin::testing::PrivateCupsd;

const std::string USB_URI = "usb://Maker/Ticket%20Printer?serial=A1";
const std::string PARALLEL_URI = "parallel:/dev/lp0";
const std::string NULL_DEVICE = "/dev/null";  // how lpstat shows the file device

class SpoolerPorts : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string reason = PrivateCupsd::unavailableReason(); !reason.empty()) GTEST_SKIP() << reason;
        ASSERT_TRUE(cupsd.start()) << cupsd.error();
    }
    void TearDown() override {
        // Leave no table behind for the next case of this process.
        morlix::enumeratedPrinters.clear();
        morlix::redirectedPrinters.clear();
        morlix::printerCount = 0;
    }
    void addQueues(std::initializer_list<std::pair<std::string, std::string>> queues) {
        for (const auto& [name, uri] : queues) ASSERT_TRUE(cupsd.addQueue(name, uri)) << name;
    }
    bool recordExists() const { return std::filesystem::exists(morlix::redirectionRecordPath()); }

    PrivateCupsd cupsd;
};

TEST_F(SpoolerPorts, MovesOnlyUsbAndParallelQueuesAndPutsThemBackOnce) {
    addQueues({{"ticket_usb", USB_URI},
               {"ticket_lpt", PARALLEL_URI},
               {"to_file", "file:/dev/null"},
               {"network", "socket://127.0.0.1:9100"},
               {"named_usb", "lpd://127.0.0.1/usb001"}});
    OperatorMessageCapture messages;
    DebugCapture log;
    EXPECT_EQ(SetPortsToFile(), 0);
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), NULL_DEVICE);
    EXPECT_EQ(cupsd.deviceUri("ticket_lpt"), NULL_DEVICE);
    EXPECT_EQ(cupsd.deviceUri("to_file"), NULL_DEVICE);
    EXPECT_EQ(cupsd.deviceUri("network"), "socket://127.0.0.1:9100");
    EXPECT_EQ(cupsd.deviceUri("named_usb"), "lpd://127.0.0.1/usb001");
    EXPECT_TRUE(recordExists());

    EXPECT_EQ(log.lines().at(0), "SetPortsToFile - entry");
    EXPECT_TRUE(log.contains("EnumeratePrinters - Printers found = 5"));
    EXPECT_TRUE(log.contains("EnumeratePrinters - Printer = ticket_usb, port = " + USB_URI));
    EXPECT_TRUE(log.contains("isPortSwap - Entry, port name =  " + USB_URI));
    EXPECT_TRUE(log.contains("isPortSwap - Found USB port " + USB_URI));
    EXPECT_TRUE(log.contains("isPortSwap - Found parallel port " + PARALLEL_URI));
    EXPECT_TRUE(log.contains("SetPortsToFile - Printer to file = named_usb, port = lpd://127.0.0.1/usb001"));
    // The queue already on the file device is not even tested.
    EXPECT_FALSE(log.contains("isPortSwap - Entry, port name =  file:/dev/null"));

    log.clear();
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), USB_URI);
    EXPECT_EQ(cupsd.deviceUri("ticket_lpt"), PARALLEL_URI);
    EXPECT_EQ(cupsd.deviceUri("to_file"), NULL_DEVICE);
    EXPECT_EQ(cupsd.deviceUri("network"), "socket://127.0.0.1:9100");
    EXPECT_EQ(log.lines().at(0), "RestorePortsToOriginal - entry");
    EXPECT_TRUE(log.contains("RestorePortsToOriginal - Printer to original = ticket_usb, port = " + USB_URI));
    EXPECT_EQ(morlix::printerCount, 0u);
    EXPECT_FALSE(recordExists());

    // The second restore finds nothing to do.
    ASSERT_TRUE(cupsd.setDeviceUri("ticket_usb", "socket://127.0.0.1:9101"));
    log.clear();
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"RestorePortsToOriginal - entry"});
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), "socket://127.0.0.1:9101");
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(SpoolerPorts, AFailingThirdQueueStopsTheMoveAndTheFirstTwoComeBack) {
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(
            cupsd.addQueue("queue" + std::to_string(i), USB_URI + std::to_string(i), i == 3 ? "locked" : ""));
    OperatorMessageCapture messages;
    EXPECT_EQ(SetPortsToFile(), 2);
    EXPECT_EQ(messages.messages(), std::vector<std::string>{"SetPortToFile - SetPrinter failed queue3"});
    EXPECT_EQ(cupsd.deviceUri("queue1"), NULL_DEVICE);
    EXPECT_EQ(cupsd.deviceUri("queue2"), NULL_DEVICE);
    for (int i = 3; i <= 5; ++i)
        EXPECT_EQ(cupsd.deviceUri("queue" + std::to_string(i)), USB_URI + std::to_string(i));

    EXPECT_EQ(RestorePortsToOriginal(), 0);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(cupsd.deviceUri("queue" + std::to_string(i)), USB_URI + std::to_string(i));
    EXPECT_EQ(messages.messages().size(), 1u);
    EXPECT_FALSE(recordExists());
}

TEST_F(SpoolerPorts, RepeatedSearchesKeepTheFirstSeenPort) {
    addQueues({{"ticket_usb", USB_URI}, {"ticket_lpt", PARALLEL_URI}});
    EXPECT_EQ(SetPortsToFile(), 0);
    DebugCapture log;
    EXPECT_EQ(SetPortsToFile(), 0);
    EXPECT_TRUE(log.contains("SetPortsToFile - Printer to file = ticket_usb, port = file:/dev/null"));
    EXPECT_EQ(SetPortsToFile(), 0);
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), USB_URI);
    EXPECT_EQ(cupsd.deviceUri("ticket_lpt"), PARALLEL_URI);
}

TEST_F(SpoolerPorts, QueuesChangedOrRemovedMeanwhileAreLeftAlone) {
    addQueues({{"changed", USB_URI}, {"removed", USB_URI + "2"}, {"kept", PARALLEL_URI}});
    EXPECT_EQ(SetPortsToFile(), 0);
    ASSERT_TRUE(cupsd.setDeviceUri("changed", "socket://127.0.0.1:9101"));
    ASSERT_TRUE(cupsd.deleteQueue("removed"));
    OperatorMessageCapture messages;
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(cupsd.deviceUri("changed"), "socket://127.0.0.1:9101");
    EXPECT_EQ(cupsd.deviceUri("kept"), PARALLEL_URI);
    EXPECT_EQ(messages.messages(), std::vector<std::string>{"SetPortToFile - OpenPrinter failed removed"});
}

// Runs SetPortsToFile in a child process that is then killed, as a crashed
// program would be.
void crashAfterRedirecting() {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetPortsToFile();
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
}

TEST_F(SpoolerPorts, TheRecordPutsBackWhatAKilledProcessMoved) {
    addQueues({{"ticket_usb", USB_URI}, {"ticket_lpt", PARALLEL_URI}});
    crashAfterRedirecting();
    ASSERT_EQ(cupsd.deviceUri("ticket_usb"), NULL_DEVICE);
    ASSERT_TRUE(recordExists());

    // A restore alone, with no search of its own, puts them back.
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), USB_URI);
    EXPECT_EQ(cupsd.deviceUri("ticket_lpt"), PARALLEL_URI);
    EXPECT_FALSE(recordExists());

    // The next program's search takes them over and its shutdown puts them back.
    crashAfterRedirecting();
    EXPECT_EQ(SetPortsToFile(), 0);
    EXPECT_EQ(morlix::enumeratedPrinters.at(0).portName, PARALLEL_URI);
    EXPECT_EQ(morlix::redirectedPrinters.at(0).portName, "file:/dev/null");
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), USB_URI);
    EXPECT_EQ(cupsd.deviceUri("ticket_lpt"), PARALLEL_URI);
}

TEST_F(SpoolerPorts, AServerWithoutQueuesLeavesEverythingAlone) {
    DebugCapture log;
    EXPECT_EQ(SetPortsToFile(), 0);
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"SetPortsToFile - entry", "EnumeratePrinters - entry",
                                                     "EnumeratePrinters - No printer driver installed",
                                                     "RestorePortsToOriginal - entry"}));
}

TEST(SpoolerPortsWithoutServer, FindsNoPrinterAndSucceeds) {
    char pattern[] = "/tmp/morlix-no-cupsd-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    ::setenv("CUPS_SERVER", (folder + "/no-such-cupsd.sock").c_str(), 1);
    ::setenv("XDG_STATE_HOME", folder.c_str(), 1);
    DebugCapture log;
    EXPECT_EQ(SetPortsToFile(), 0);
    EXPECT_TRUE(log.contains("EnumeratePrinters - No printer driver installed"));
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(morlix::printerCount, 0u);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    std::filesystem::remove_all(folder);
}

}  // namespace
