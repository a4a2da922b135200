// Port redirection against a real CUPS server that each test starts itself.
#include "link/spooler_ports.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

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
        // The record alone, unless a case starts the guardian itself.
        ::setenv("MORLIX_GUARDIAN", "", 1);
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
    // The program's own box, then the spooler's own reason and what to do.
    ASSERT_EQ(messages.messages().size(), 2u);
    EXPECT_EQ(messages.messages()[0], "SetPortToFile - SetPrinter failed queue3");
    EXPECT_TRUE(std::regex_search(
        messages.messages()[1], std::regex("^The print system refused to change the printer queue queue3: "
                                           ".*(Forbidden|Unauthorized|forbidden|not-authorized).*"
                                           "This account may not administer printers: ask an administrator")))
        << messages.messages()[1];
    EXPECT_EQ(cupsd.deviceUri("queue1"), NULL_DEVICE);
    EXPECT_EQ(cupsd.deviceUri("queue2"), NULL_DEVICE);
    for (int i = 3; i <= 5; ++i)
        EXPECT_EQ(cupsd.deviceUri("queue" + std::to_string(i)), USB_URI + std::to_string(i));

    EXPECT_EQ(RestorePortsToOriginal(), 0);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(cupsd.deviceUri("queue" + std::to_string(i)), USB_URI + std::to_string(i));
    EXPECT_EQ(messages.messages().size(), 2u);
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
    ASSERT_EQ(messages.messages().size(), 2u);
    EXPECT_EQ(messages.messages()[0], "SetPortToFile - OpenPrinter failed removed");
    EXPECT_TRUE(std::regex_search(messages.messages()[1],
                                  std::regex("^The print system could not change the printer queue removed: "
                                             ".*not-found.*Check that the print system is running")))
        << messages.messages()[1];
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

// Counts the queues `lpstat` shows on the file device, and those stopped.
int queuesOnFile(const PrivateCupsd&) {
    std::string output;
    velquin::testing::runProgram({"lpstat", "-v"}, &output);
    int count = 0;
    for (std::size_t at = 0; (at = output.find(": /dev/null", at)) != std::string::npos; ++at) ++count;
    return count;
}

TEST_F(SpoolerPorts, TwoProcessesMovingAtOnceThenKilledLoseNoQueue) {
    constexpr int QUEUES = 150, ROUNDS = 12;
    for (int i = 0; i < QUEUES; ++i)
        ASSERT_TRUE(cupsd.addQueue("q" + std::to_string(i), USB_URI + std::to_string(i)));
    for (int round = 0; round < ROUNDS; ++round) {
        int start[2];
        ASSERT_EQ(::pipe(start), 0);
        pid_t racers[2];
        for (int i = 0; i < 2; ++i) {
            racers[i] = ::fork();
            if (racers[i] == 0) {
                ::close(start[1]);
                char go;
                [[maybe_unused]] auto r = ::read(start[0], &go, 1);
                // The second starts while the first is moving queues, at a
                // different point each round.
                if (i == 1) std::this_thread::sleep_for(std::chrono::milliseconds(40 * (round + 1)));
                SetPortsToFile();
                ::raise(SIGKILL);
            }
        }
        // Both start when the pipe closes.
        ::close(start[0]);
        ::close(start[1]);
        for (pid_t racer : racers) ASSERT_EQ(::waitpid(racer, nullptr, 0), racer);
        ASSERT_GT(queuesOnFile(cupsd), 0);
        EXPECT_EQ(RestorePortsToOriginal(), 0);
        ASSERT_EQ(queuesOnFile(cupsd), 0) << "round " << round;
    }
    EXPECT_FALSE(recordExists());
}

// A process that moves the queues and waits to be killed.
class LiveMover {
public:
    LiveMover() {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            SetPortsToFile();
            [[maybe_unused]] auto w = ::write(ready[1], "R", 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char r;
        [[maybe_unused]] auto got = ::read(ready[0], &r, 1);
        ::close(ready[0]);
    }
    ~LiveMover() { kill(); }
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

TEST_F(SpoolerPorts, ARestoreLeavesTheQueuesOfALiveProcessAlone) {
    addQueues({{"ticket_usb", USB_URI}});
    LiveMover mover;
    EXPECT_EQ(SetPortsToFile(), 0);
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), NULL_DEVICE);
    mover.kill();
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), USB_URI);
    EXPECT_FALSE(cupsd.isStopped("ticket_usb"));
}

TEST_F(SpoolerPorts, AnOwnerWhoseProcessIdWasReusedCountsAsGone) {
    addQueues({{"ticket_usb", USB_URI}});
    ASSERT_TRUE(cupsd.setDeviceUri("ticket_usb", "file:/dev/null"));
    // This process's ID with another start time: an ended process before it.
    const morlix::ProcessIdentity self = morlix::currentProcess();
    const std::string path = morlix::redirectionRecordPath();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << "ticket_usb\t" << USB_URI << "\t0\t" << self.pid << '\t' << self.startTime - 1
                        << '\t' << self.bootId << '\n';
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), USB_URI);
}

TEST_F(SpoolerPorts, MovedQueuesKeepTheirJobsAndAStoppedQueueStaysStopped) {
    addQueues({{"ticket_usb", USB_URI}, {"stopped_usb", USB_URI + "2"}});
    ASSERT_TRUE(cupsd.submitJob("ticket_usb"));
    ASSERT_TRUE(cupsd.stopQueue("stopped_usb"));
    ASSERT_EQ(SetPortsToFile(), 0);
    ASSERT_TRUE(cupsd.submitJob("ticket_usb"));
    ASSERT_TRUE(cupsd.submitJob("stopped_usb"));
    // A queue on the file device would have finished them by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(cupsd.unfinishedJobs("ticket_usb"), 2);
    EXPECT_EQ(cupsd.unfinishedJobs("stopped_usb"), 1);
    EXPECT_FALSE(cupsd.isStopped("ticket_usb"));
    EXPECT_TRUE(cupsd.isStopped("stopped_usb"));
}

TEST_F(SpoolerPorts, TheGuardianPutsBackTheQueuesOfAKilledProcess) {
    // Also with the spooler frozen at the crash for longer than one attempt:
    // the guardian tries again until it answers.
    const struct {
        const char* queue;
        std::chrono::seconds frozen;
    } cases[] = {{"ticket_usb", std::chrono::seconds(0)}, {"frozen_usb", std::chrono::seconds(5)}};
    for (const auto& c : cases) {
        addQueues({{c.queue, USB_URI}});
        const pid_t child = velquin::testing::forkProgramHoldingPorts(MORLIX_LIBRARY_PATH);
        ASSERT_GT(child, 0);
        EXPECT_EQ(cupsd.deviceUri(c.queue), NULL_DEVICE);
        if (c.frozen.count() > 0) cupsd.freeze(true);
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        std::this_thread::sleep_for(c.frozen);
        cupsd.freeze(false);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (cupsd.deviceUri(c.queue) != USB_URI && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(cupsd.deviceUri(c.queue), USB_URI) << c.queue;
        EXPECT_FALSE(cupsd.isStopped(c.queue));
    }
}

// A spooler socket whose peer misbehaves in one way.
enum class Hostility { Missing, ClosesAtOnce, NeverAnswers, AnswersGarbage };

class HostileSpooler {
public:
    HostileSpooler(const std::string& path, Hostility kind) : kind_(kind) {
        if (kind == Hostility::Missing) return;
        listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 16);
        thread_ = std::thread([this] { serve(); });
    }
    ~HostileSpooler() {
        if (listener_ < 0) return;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        for (int peer : peers_) ::close(peer);
    }

private:
    void serve() {
        for (int peer; (peer = ::accept(listener_, nullptr, nullptr)) >= 0;) {
            if (kind_ == Hostility::ClosesAtOnce) {
                ::close(peer);
                continue;
            }
            if (kind_ == Hostility::AnswersGarbage) {
                char request[4096];
                [[maybe_unused]] auto r = ::recv(peer, request, sizeof request, 0);
                const char garbage[] = "\x01\x02 no protocol at all \xff\r\n\r\n";
                [[maybe_unused]] auto w = ::send(peer, garbage, sizeof garbage, MSG_NOSIGNAL);
            }
            peers_.push_back(peer);
        }
    }
    Hostility kind_;
    int listener_ = -1;
    std::thread thread_;
    std::vector<int> peers_;
};

// Any spooler that does not answer costs seconds and is told apart from one
// without queues; the operator hears once of one that is there but broken.
TEST_F(SpoolerPorts, AnUnreachableSpoolerIsToldOnceAndCostsSeconds) {
    addQueues({{"ticket_usb", USB_URI}});
    const std::string reachable = std::getenv("CUPS_SERVER");
    for (Hostility kind :
         {Hostility::Missing, Hostility::ClosesAtOnce, Hostility::NeverAnswers, Hostility::AnswersGarbage}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const std::string path = cupsd.folder() + "/hostile.sock";
        std::filesystem::remove(path);
        HostileSpooler spooler(path, kind);
        ::setenv("CUPS_SERVER", path.c_str(), 1);
        OperatorMessageCapture messages;
        DebugCapture log;
        for (int search = 0; search < 2; ++search) {
            const auto began = std::chrono::steady_clock::now();
            EXPECT_EQ(SetPortsToFile(), 0);
            EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(8));
        }
        EXPECT_EQ(messages.messages().size(), kind == Hostility::Missing ? 0u : 1u);
        EXPECT_GE(log.indexOf("EnumeratePrinters - No printer driver installed"), 0);
        EXPECT_NE(log.lines().at(2).find("EnumeratePrinters - Spooler not reachable: "), std::string::npos);
        // Reached again, it is told again at the next outage.
        ::setenv("CUPS_SERVER", reachable.c_str(), 1);
        EXPECT_EQ(SetPortsToFile(), 0);
        EXPECT_EQ(RestorePortsToOriginal(), 0);
    }
    EXPECT_EQ(cupsd.deviceUri("ticket_usb"), USB_URI);
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
    OperatorMessageCapture messages;
    EXPECT_EQ(SetPortsToFile(), 0);
    EXPECT_TRUE(log.contains("EnumeratePrinters - No printer driver installed"));
    EXPECT_EQ(RestorePortsToOriginal(), 0);
    EXPECT_EQ(morlix::printerCount, 0u);
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    std::filesystem::remove_all(folder);
}

}  // namespace
