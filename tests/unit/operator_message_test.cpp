// Operator messages reach the descriptor the program names, one line each;
// the record of moved queues survives only in its own well-formed lines.
#include "platform/operator_message.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "link/redirection_record.h"

namespace {

std::string readAvailable(int fd) {
    std::string text;
    char chunk[256];
    for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, got);
    return text;
}

TEST(OperatorMessage, GoesAsOneLineToTheNamedDescriptorOrElseToStandardError) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0);
    ::setenv("MORLIX_OPERATOR_FD", std::to_string(ends[1]).c_str(), 1);
    morlix::platform::operatorMessage("Set cto failed");
    morlix::platform::operatorMessagef("SetPortToFile - OpenPrinter failed %s", "two\nlines");
    EXPECT_EQ(readAvailable(ends[0]), "Set cto failed\nSetPortToFile - OpenPrinter failed two lines\n");

    // A descriptor that is not open, or no number at all, falls back to standard error.
    ::close(ends[1]);
    ::setenv("MORLIX_OPERATOR_FD", "1000000", 1);
    ::testing::internal::CaptureStderr();
    morlix::platform::operatorMessage("GetCommTimeouts failed");
    ::setenv("MORLIX_OPERATOR_FD", "3x", 1);
    morlix::platform::operatorMessage("Set cto failed");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "GetCommTimeouts failed\nSet cto failed\n");
    ::unsetenv("MORLIX_OPERATOR_FD");
    ::close(ends[0]);
}

TEST(RedirectionRecord, KeepsOnlyWellFormedEntriesAndVanishesWhenEmpty) {
    const std::string home = ::testing::TempDir() + "redirection-record-" + std::to_string(::getpid());
    ::setenv("XDG_STATE_HOME", "relative/is/ignored", 1);
    ::setenv("HOME", home.c_str(), 1);
    const std::string path = morlix::redirectionRecordPath();
    EXPECT_EQ(path, home + "/.local/state/morlix/redirected-queues");

    const morlix::Redirections moved = {
        {"ticket_usb", {"usb://Maker/Model?serial=1", true, morlix::currentProcess()}},
        {"lpt", {"parallel:/dev/lp0", false, morlix::currentProcess()}}};
    ASSERT_TRUE(morlix::updateRedirectionRecord([&](morlix::Redirections& record) { record = moved; }));
    EXPECT_EQ(morlix::loadRedirectionRecord(), moved);

    // Lines of an older record (name and port only) have no owner.
    std::ofstream(path, std::ios::app)
        << "no tab here\n\tusb://empty-name\nbell\a\tusb://x\nshort\t\nold\tusb://o\n";
    morlix::Redirections expected = moved;
    expected.emplace("old", morlix::RedirectionEntry{"usb://o", false, {}});
    EXPECT_EQ(morlix::loadRedirectionRecord(), expected);
    EXPECT_FALSE(morlix::isAlive(expected.at("old").owner));
    EXPECT_TRUE(morlix::isAlive(moved.at("lpt").owner));

    ASSERT_TRUE(morlix::updateRedirectionRecord([](morlix::Redirections& record) { record.clear(); }));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(morlix::loadRedirectionRecord().empty());
    std::filesystem::remove_all(home);
}

}  // namespace
