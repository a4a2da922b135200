// The debug channel: silent and cheap without a listener, exact with one.
#include "platform/debug_output.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

using morlix::platform::DebugCapture;
using morlix::platform::debugListening;
using morlix::platform::debugPrintf;

TEST(DebugOutput, NobodyListensUnlessCaptured) {
    // The test runs without MORLIX_DEBUG.
    EXPECT_FALSE(debugListening());
    {
        DebugCapture log;
        EXPECT_TRUE(debugListening());
    }
    EXPECT_FALSE(debugListening());
}

TEST(DebugOutput, LinesAreSentExactlyAndCutAtTheBuffer) {
    DebugCapture log;
    debugPrintf("Value = %d, hex %2.2X %X %s\r\n", -5, 0x7, 0xABC, "text");
    debugPrintf("%s", std::string(5000, 'x').c_str());
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0], "Value = -5, hex 07 ABC text\r\n");
    EXPECT_EQ(log.lines()[1], std::string(1023, 'x'));
}

TEST(DebugOutput, AFormattedLineEndsAtItsFirstNulCharacter) {
    // A zero byte shown with %c (an empty status buffer, a dumped 00 byte)
    // ends the text, as it ends any C string: no NUL reaches a listener.
    DebugCapture log;
    debugPrintf("Incorrect status return code from printer, not A = %c", 0);
    debugPrintf("%2.2X %c", 0, 0);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0], "Incorrect status return code from printer, not A = ");
    EXPECT_EQ(log.lines()[1], "00 ");
}

TEST(DebugOutput, NumbersIgnoreTheProgramLocale) {
    const char* previous = std::setlocale(LC_ALL, "de_DE.UTF-8");
    if (previous == nullptr) previous = std::setlocale(LC_NUMERIC, "C.UTF-8");
    DebugCapture log;
    debugPrintf("%.2f", 5.03);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(log.lines().at(0), "5.03");
}

TEST(DebugOutput, NestedCapturesRestoreTheOuterOne) {
    DebugCapture outer;
    {
        DebugCapture inner;
        debugPrintf("inner");
        EXPECT_EQ(inner.lines().size(), 1u);
    }
    debugPrintf("outer");
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"outer"});
}

}  // namespace
