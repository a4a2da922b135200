// The library's state before any search, and the host query.
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include "morlix/morlix.h"
#include "platform/debug_output.h"
#include "platform/os_info.h"

namespace {

TEST(LibraryAtLoad, ReportsZeroCodesAndNoVersion) {
    std::int32_t port = -1, board = -1, type = -1, model = -1;
    morlix::platform::DebugCapture log;
    EXPECT_EQ(GetPrinterDetailVB(&port, &board, &type, &model), 0);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(board, 0);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(model, 0);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"GetPrinterDetailVB - Logic Board type = 0"});
    float version = -1.0f;
    EXPECT_EQ(GetPrinterVersionVB(&version), 0);
    EXPECT_EQ(version, 0.0f);
    EXPECT_EQ(IsAnotherInstanceRunning(), 0);
}

TEST(SingleInstanceInProcess, ClearTwiceIsHarmless) {
    morlix::platform::DebugCapture log;
    EXPECT_EQ(ClearInstanceMutex(), 1);
    EXPECT_EQ(ClearInstanceMutex(), 1);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"ClearInstanceMutex - Entry", "ClearInstanceMutex - Entry"}));
}

TEST(OsData, ReportsThisMachine) {
    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    std::int32_t major = -1, minor = -1, architecture = -1;
    morlix::platform::DebugCapture log;
    EXPECT_EQ(GetOSDataVB(&major, &minor, &architecture), 0);
    EXPECT_EQ(std::to_string(major) + "." + std::to_string(minor),
              std::string(names.release)
                  .substr(0, std::to_string(major).size() + 1 + std::to_string(minor).size()));
    EXPECT_EQ(architecture, morlix::platform::architectureFromMachine(names.machine));
    EXPECT_EQ(log.lines().at(0), "GetVersionEx passed");
    EXPECT_EQ(log.lines().at(1), "Get process address passed\r\n");
    EXPECT_EQ(log.lines().at(2), "Major version = " + std::to_string(major) + "\r\n");
    EXPECT_EQ(log.lines().at(4), "Processor architecture = " + std::to_string(architecture) + "\r\n");
#if defined(__x86_64__)
    EXPECT_EQ(architecture, 9);
    EXPECT_EQ(log.lines().back(), "64-bit");
#endif
}

TEST(OsData, ArchitectureCodes) {
    EXPECT_EQ(morlix::platform::architectureFromMachine("x86_64"), 9);
    EXPECT_EQ(morlix::platform::architectureFromMachine("i686"), 0);
    EXPECT_EQ(morlix::platform::architectureFromMachine("aarch64"), 12);
    EXPECT_EQ(morlix::platform::architectureFromMachine("armv7l"), 5);
    EXPECT_EQ(morlix::platform::architectureFromMachine("riscv64"), 0xFFFF);
}

}  // namespace
