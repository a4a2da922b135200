// Status reads and the flash-space query on a local handle whose other end
// the test plays as the printer (a message socket pair keeps each reply a
// read of its own, as a device read is).
#include "link/query_protocol.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "link/printer_data.h"
#include "morlix/morlix.h"
#include "platform/debug_output.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes status(std::uint8_t flags) {
    return Bytes{0x10, 0x20, 0x30, 0x00, flags, 0x00};
}

// A socket pair whose `printerEnd` the test writes replies into; `handle`
// is what the library reads. Replies are queued ahead: the library reads
// them in order.
class ScriptedPrinter {
public:
    ScriptedPrinter() {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            throw std::runtime_error("socketpair");
        handle = ends[0];
        printerEnd = ends[1];
    }
    ~ScriptedPrinter() {
        if (handle >= 0) ::close(handle);
        ::close(printerEnd);
    }
    void reply(const Bytes& bytes) {
        ASSERT_EQ(::send(printerEnd, bytes.data(), bytes.size(), 0), (ssize_t)bytes.size());
    }
    // What the library wrote to the printer so far.
    Bytes received() {
        Bytes all;
        std::uint8_t chunk[600];
        for (;;) {
            ssize_t got = ::recv(printerEnd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got <= 0) break;
            all.insert(all.end(), chunk, chunk + got);
        }
        return all;
    }
    int handle = -1;
    int printerEnd = -1;
};

const std::uint8_t FLASH_REQUEST[] = {0x1B, 'I', 'A', 0x07};

TEST(StatusRead, PlainReadReportsTheSecondReadAndItsCount) {
    ScriptedPrinter printer;
    printer.reply(status(0x00));
    printer.reply(status(0x22));
    std::uint8_t buffer[512] = {};
    std::int32_t count = -1;
    morlix::platform::DebugCapture log;
    EXPECT_EQ(GetPrinterStatusDataVB(printer.handle, buffer, &count, 0, nullptr, 0), 0);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(buffer[4], 0x22);  // busy and toggle bits reach the caller
    EXPECT_TRUE(printer.received().empty());
    const std::vector<std::string> expected = {
        "GetPrinterStatusDataVB - entry",
        "GetPrinterStatusData - entry, printer handle = " +
            [&] {
                char t[16];
                std::snprintf(t, sizeof t, "%X", printer.handle);
                return std::string(t);
            }() +
            "\r\n",
        "GetPrinterStatusData - Read number 1",
        "GetPrinterStatusData - Read number 2",
        "GetPrinterStatusData - Read 1 and 2 passed",
        "Read File passed, bytes read pStatusBytes = 6, - 10 20 30 00 22",
        "Busy",
        "GetPrinterStatusDataVB - number of status bytes = 6",
        "10 ",
        "20 ",
        "30 ",
        "00 ",
        "22 ",
        "00 "};
    EXPECT_EQ(log.lines(), expected);
}

TEST(StatusRead, SpecificRequestIsSentAndItsReplyRead) {
    ScriptedPrinter printer;
    printer.reply(status(0x00));
    printer.reply(status(0x01));
    printer.reply(bytesOf("A070800123456"));
    std::uint8_t buffer[512];
    std::memset(buffer, 0xEE, sizeof buffer);
    std::int32_t count = 0;
    morlix::platform::DebugCapture log;
    EXPECT_EQ(morlix::GetPrinterStatusData(printer.handle, buffer, &count, 1, FLASH_REQUEST, 4),
              morlix::STATUS_READ_OK);
    EXPECT_EQ(count, 13);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 13), "A070800123456");
    EXPECT_EQ(buffer[20], 0);  // the first 32 bytes are zeroed before the reply
    EXPECT_EQ(printer.received(), Bytes(std::begin(FLASH_REQUEST), std::end(FLASH_REQUEST)));
    EXPECT_TRUE(log.contains("GetPrinterStatusData - Write specific status string 4 , 1B 49 41 7\r\n"));
    EXPECT_TRUE(log.contains("GetPrinterStatusData - Read number status after writing request"));
    EXPECT_TRUE(log.contains(std::string("41 A")));
}

TEST(StatusRead, SpecificRequestIsRefusedWhileBusy) {
    ScriptedPrinter printer;
    printer.reply(status(0x00));
    printer.reply(status(0x20));
    std::uint8_t buffer[512] = {};
    std::int32_t count = 400;  // stale: the refusal does not write it
    morlix::platform::DebugCapture log;
    EXPECT_EQ(morlix::GetPrinterStatusData(printer.handle, buffer, &count, 1, FLASH_REQUEST, 4),
              morlix::STATUS_READ_BUSY);
    EXPECT_EQ(count, 400);
    EXPECT_TRUE(printer.received().empty());
    EXPECT_TRUE(log.contains("GetPrinterStatusData - Printer Busy cannot request status"));

    // The export still reports success, and dumps only the bytes really read.
    printer.reply(status(0x00));
    printer.reply(status(0x20));
    log.clear();
    EXPECT_EQ(GetPrinterStatusDataVB(printer.handle, buffer, &count, 1, FLASH_REQUEST, 4), 0);
    EXPECT_TRUE(log.contains("specific status requested but printer was busy"));
    EXPECT_TRUE(log.contains("GetPrinterStatusDataVB - number of status bytes = 400"));
    long dumpStart = log.indexOf("GetPrinterStatusDataVB - number of status bytes = 400");
    EXPECT_EQ(log.lines().size() - static_cast<std::size_t>(dumpStart) - 1, 6u);
}

TEST(StatusRead, FailedReadsAreFailures) {
    // A directory opens but cannot be read: both reads fail at the system call.
    int directory = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(directory, 3);
    std::uint8_t buffer[512] = {};
    std::int32_t count = 0;
    morlix::platform::DebugCapture log;
    EXPECT_EQ(morlix::GetPrinterStatusData(directory, buffer, &count, 0, nullptr, 0),
              morlix::STATUS_READ_FAILED);
    EXPECT_TRUE(log.contains("GetPrinterStatusData - Read number 1 Failed"));
    EXPECT_EQ(GetPrinterStatusDataVB(directory, buffer, &count, 0, nullptr, 0), 1);
    EXPECT_TRUE(log.contains("GetPrinterStatusDataVB - failed"));
    ::close(directory);

    // 0 and the standard streams are never a printer handle.
    EXPECT_EQ(GetPrinterStatusDataVB(0, buffer, &count, 0, nullptr, 0), 1);
    EXPECT_EQ(GetPrinterStatusDataVB(2, buffer, &count, 0, nullptr, 0), 1);
}

TEST(StatusRead, FailedRequestWriteIsAFailure) {
    ScriptedPrinter printer;
    printer.reply(status(0x00));
    ::shutdown(printer.printerEnd, SHUT_RD);  // writes from the library now fail
    printer.reply(status(0x00));
    std::uint8_t buffer[512] = {};
    std::int32_t count = 0;
    morlix::platform::DebugCapture log;
    ::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(morlix::GetPrinterStatusData(printer.handle, buffer, &count, 1, FLASH_REQUEST, 4),
              morlix::STATUS_READ_FAILED);
    bool writeFailureLogged = false;
    for (const std::string& line : log.lines())
        writeFailureLogged |=
            line.rfind("GetPrinterStatusData - Writing status string failed error = ", 0) == 0;
    EXPECT_TRUE(writeFailureLogged);
}

class FlashQuery : public ::testing::Test {
protected:
    void SetUp() override { morlix::printerHandle = printer.handle; }
    void TearDown() override { morlix::printerHandle = 0; }
    void answer(const std::string& reply) {
        printer.reply(status(0x00));
        printer.reply(status(0x00));
        printer.reply(bytesOf(reply));
    }
    ScriptedPrinter printer;
};

TEST_F(FlashQuery, GoodReplyOnFirstAttempt) {
    answer("A070808388608");
    std::int32_t freeFlash = -1;
    morlix::platform::DebugCapture log;
    EXPECT_EQ(GetFlashSpaceRemainingVB(&freeFlash), 0);
    EXPECT_EQ(freeFlash, 8388608);
    EXPECT_EQ(log.lines().front(), "Get Flash space entry ***********************************");
    EXPECT_TRUE(log.contains("====== Get flash space query = 0 ======"));
    EXPECT_TRUE(log.contains("Status byte length = 13"));
    EXPECT_TRUE(log.contains("GetFlashSpaceRemainingVB - Passed, bytes received = 13"));
    EXPECT_EQ(log.lines().back(), "Flash space remaining new less than 9000000 = 8388608");
    EXPECT_FALSE(log.contains("====== Get flash space query = 1 ======"));
}

TEST_F(FlashQuery, NotAIsRetriedAndThenAccepted) {
    answer("B0708000001");
    answer("A0708-5");  // a negative free space is no reading
    answer("A070800004096");
    std::int32_t freeFlash = -1;
    morlix::platform::DebugCapture log;
    EXPECT_EQ(GetFlashSpaceRemainingVB(&freeFlash), 0);
    EXPECT_EQ(freeFlash, 4096);
    EXPECT_TRUE(log.contains("Bad return code from status read"));
    EXPECT_TRUE(log.contains("Incorrect status return code from printer, not A = B"));
    EXPECT_TRUE(log.contains("GetFlashSpaceRemainingVB - bad read retry"));
    EXPECT_TRUE(log.contains("====== Get flash space query = 2 ======"));
}

TEST_F(FlashQuery, ImplausibleReadingsThreeTimesGiveZero) {
    answer("A070809000000");
    answer("A070899999999");
    answer("A0708" + std::string(507, '9'));  // fills the whole buffer, no terminator
    std::int32_t freeFlash = -1;
    EXPECT_EQ(GetFlashSpaceRemainingVB(&freeFlash), 0);
    EXPECT_EQ(freeFlash, 0);
}

TEST_F(FlashQuery, BusyPrinterGivesZero) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        printer.reply(status(0x00));
        printer.reply(status(0x20));
    }
    std::int32_t freeFlash = -1;
    morlix::platform::DebugCapture log;
    EXPECT_EQ(GetFlashSpaceRemainingVB(&freeFlash), 0);
    EXPECT_EQ(freeFlash, 0);
    // The refused request leaves the status bytes in the buffer; byte 0 is shown.
    EXPECT_TRUE(log.contains("Incorrect status return code from printer, not A = \x10"));
    EXPECT_TRUE(printer.received().empty());
}

TEST(FlashQueryWithoutPrinter, ReturnsZeroPromptlyWithItsLog) {
    morlix::printerHandle = 0;
    std::int32_t freeFlash = -1;
    morlix::platform::DebugCapture log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetFlashSpaceRemainingVB(&freeFlash), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(700));  // three 250 ms retry waits would take 750
    EXPECT_EQ(freeFlash, 0);
    EXPECT_TRUE(log.contains("GetPrinterStatusData - Read number 1 Failed"));
    EXPECT_TRUE(log.contains("====== Get flash space query = 2 ======"));
}

TEST(FlashReply, ParsesDigitsWithinTheReplyOnly) {
    auto parse = [](const std::string& text) {
        return morlix::flashSpaceFromReply({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    };
    EXPECT_EQ(parse("A070808388608"), 8388608);
    EXPECT_EQ(parse("A0708  +12x"), 12);
    EXPECT_EQ(parse("A0708"), 0);
    EXPECT_EQ(parse("A07"), 0);
    EXPECT_EQ(parse("Z070812"), std::nullopt);
    EXPECT_EQ(parse(""), std::nullopt);
    EXPECT_GE(*parse("A0708" + std::string(100, '9')), 9000000);
}

}  // namespace
