// The soft font's header: the converted file's name, the font descriptor
// command, the descriptor's report and the verdict on the font.
#include <gtest/gtest.h>

#include "platform/debug_output.h"
#include "softfont/font_header.h"
#include "softfont_test_support.h"
#include "velquin/converted_file_name.h"

namespace {

using morlix::platform::DebugCapture;
using morlix::softfont::ByteSource;
using morlix::softfont::FontSummary;
using velquin::testing::bytesOf;
using velquin::testing::FontDescriptor;
using velquin::testing::ReportLines;

TEST(ConvertedFileName, ReplacesOnlyTheLastExtensionOfTheFileName) {
    const std::pair<const char*, const char*> cases[] = {
        {"/fonts/COUR12.SFP", "/fonts/COUR12.QKS"},
        {"/fonts/my.font.sfp", "/fonts/my.font.QKS"},
        {"/fonts/my.bold.sfp", "/fonts/my.bold.QKS"},
        {"terminus16.SFP", "terminus16.QKS"},
        {"/fonts/noextension", "/fonts/noextension.QKS"},
        {"/font.dir/noextension", "/font.dir/noextension.QKS"},
        {"./relative/a.b.c", "./relative/a.b.QKS"},
        {"/fonts/.hidden", "/fonts/.hidden.QKS"},
        {"/fonts/.hidden.sfp", "/fonts/.hidden.QKS"},
        {"/fonts/trailing.", "/fonts/trailing.QKS"},
        {"/fonts/Mixed.SfP", "/fonts/Mixed.QKS"},
        {"/fonts/", "/fonts/.QKS"},
        {"", ".QKS"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(velquin::convertedFileName(input), expected) << input;
}

struct CommandCase {
    std::string bytes;
    bool failsAtEnd;
    bool accepted;
    std::int32_t length;
    const char* reportLine;  // the recogniser's standard output line, if any
};

TEST(SoftFontHeader, RecognisesTheDescriptorCommandAndNothingElse) {
    const CommandCase cases[] = {
        {"\x1b)s64W", false, true, 64, nullptr},
        {"\x1b)sW", false, true, 0, nullptr},
        {"\x1b)s255W", false, true, 255, nullptr},
        {"\x1b)s999W", false, true, 999, nullptr},
        {"\x1b)s1234W", false, false, 1234, "readSoftFontHeader - Too many digits\r\n"},
        {"\x1b)s12X", false, false, 12, "readSoftFontHeader - Did not find terminating W\r\n"},
        {"\x1b*c5D\x1b)s64W", false, false, 0, "readSoftFontHeader - 2nd character NOT CLOSE PAREN\r\n"},
        {"A\x1b)s64W", false, false, 0, "readSoftFontHeader - 1st character NOT escape, error\r\n"},
        {"\x1b)S64W", false, false, 0, "readSoftFontHeader - 3rd character NOT s\r\n"},
        {"", false, false, 0, "readSoftFontHeader - Exactly one byte NOT read\r\n"},
        {"\x1b)", false, false, 0, "readSoftFontHeader - Exactly one byte NOT read\r\n"},
        {"\x1b)s6", false, false, 6, "readSoftFontHeader - Exactly one byte NOT read\r\n"},
        {"\x1b)s6", true, false, 6, "readSoftFontHeader - Bad return code from readFile\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const auto bytes = bytesOf(c.bytes);
        ByteSource input(bytes, c.failsAtEnd);
        ReportLines output;
        std::int32_t length = -1;
        EXPECT_EQ(morlix::softfont::readSoftFontHeader(input, length, output.report), c.accepted);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(output.lines,
                  c.reportLine ? std::vector<std::string>{c.reportLine} : std::vector<std::string>{});
        EXPECT_LE(input.position(), 7u);  // never reads into the descriptor
    }
}

TEST(SoftFontHeader, LogsEachStepOfTheCommand) {
    DebugCapture log;
    const auto bytes = bytesOf("\x1b)s64W");
    ByteSource input(bytes);
    ReportLines output;
    std::int32_t length = 0;
    ASSERT_TRUE(morlix::softfont::readSoftFontHeader(input, length, output.report));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "readSoftFontHeader - Found escape\r\n",
                               "readSoftFontHeader - Found CLOSE_PAREN\r\n",
                               "readSoftFontHeader - Found s\r\n",
                               "readSoftFontHeader - header size digit 6\r\n",
                               "readSoftFontHeader - header size digit 4\r\n",
                               "readSoftFontHeader - found terminating W, length of header = 64\r\n",
                           }));
}

TEST(SoftFontHeader, StageRefusesLongMissingAndShortDescriptors) {
    struct Case {
        std::string bytes;
        bool failsAtEnd;
        std::int32_t result;
        const char* logLine;
    };
    const Case cases[] = {
        {"\x1b)s256W" + std::string(256, '\0'), false, 3, "Error soft font header > 256 bytes\r\n"},
        {"\x1b)s64W" + std::string(63, '\0'), false, 4, "Error reading actual header\r\n"},
        {"\x1b)s64W", true, 4, "Error reading actual softfont header data\r\n"},
        {"\x1b)s64X", false, 1, "Did not find Soft Font header\r\n"},
        {"\x1b)s255W" + std::string(255, '\0'), false, 0, "Read 255 actual header bytes\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logLine);
        DebugCapture log;
        const auto bytes = bytesOf(c.bytes);
        ByteSource input(bytes, c.failsAtEnd);
        ReportLines output;
        FontSummary summary;
        EXPECT_EQ(morlix::softfont::readFontHeader(input, summary, output.report), c.result);
        EXPECT_TRUE(log.contains(c.logLine));
    }
}

TEST(SoftFontHeader, DumpsSixteenBytesALine) {
    std::vector<std::uint8_t> bytes(20);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
    ReportLines output;
    morlix::softfont::dumpHeaderBytes(bytes, output.report);
    EXPECT_EQ(output.lines, (std::vector<std::string>{
                                "00 - A0 A1 A2 A3 A4 A5 A6 A7 - A8 A9 AA AB AC AD AE AF \r\n",
                                "10 - B0 B1 B2 B3 \r\n",
                            }));
    output.lines.clear();
    morlix::softfont::dumpHeaderBytes(std::span(bytes).first(8), output.report);
    EXPECT_EQ(output.lines, std::vector<std::string>{"00 - A0 A1 A2 A3 A4 A5 A6 A7 - \r\n"});
}

std::int32_t judge(const FontDescriptor& descriptor, ReportLines& output, FontSummary& summary) {
    return morlix::softfont::displayFontHeaderInfo(descriptor.bytes(), summary, output.report);
}

TEST(FontHeaderInfo, ReportsAUsableFontInFull) {
    FontDescriptor descriptor;
    descriptor.style = 17 << 5 | 2 << 2 | 1;  // structure 17, width 2, italic
    descriptor.spacing = 1;
    descriptor.widthType = -2;
    descriptor.strokeWeight = 4;
    ReportLines output;
    FontSummary summary;
    ASSERT_EQ(judge(descriptor, output, summary), 0);
    EXPECT_EQ(output.text(),
              "\r\n***********************************************************\r\n"
              "**                     Font header info                  **\r\n"
              "***********************************************************\r\n\n"
              "Font Header size = 64\r\n\r\n"
              "Header Format = 0 (bitmap, QK compatible)\r\n\r\n"
              "Font Type = 0, Bound Font\r\n"
              "Character codes 32 to 127 are printable (QK compatible)\r\n\r\n"
              "Style word = 229\r\n"
              "Posture = Italic\r\n"
              "Appearance Width = Condensed or Extra Condensed\r\n"
              "Structure = Inverse in Open Border\r\n\r\n"
              "Baseline position (Top of cell to baseline = 24)\r\n\r\n"
              "Cell Width (Widest character) = 40\r\n\r\n"
              "Cell Height (Tallest character and greatest decender) = 30\r\n\r\n"
              "Orientation = portrait\r\n\r\n"
              "Spacing = proportional\r\n\r\n"
              "Pitch = 96 (in 1/4 dots), if proportional width of the Space character\r\n"
              "Space width in dots = 24\r\n\r\n"
              "Width Type = Condensed\r\n\r\n"
              "Stroke Weight = Extra Bold\n\r\n"
              "Font Type = 0, first code = 32, last code = 127\r\n"
              "Font name length = 16\r\n"
              "Font name = Test, length = 16\r\n"
              "\r\n\n"
              "This file is compatible with QK ticket printers\r\n"
              "\r\n\n");
    EXPECT_EQ(summary.baseline, 24);
    EXPECT_EQ(summary.cellWidth, 40);
    EXPECT_EQ(summary.cellHeight, 30);
    EXPECT_EQ(summary.pitch, 96);
}

TEST(FontHeaderInfo, FirstRefusingFieldDecides) {
    struct Case {
        void (*change)(FontDescriptor&);
        std::int32_t verdict;
        const char* lastLine;
    };
    const Case cases[] = {
        {[](FontDescriptor& d) { d.headerFormat = 10; }, 6,
         "Header Format = 10 (Intellifont Bound Scalable, NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) { d.headerFormat = 11; }, 7,
         "Header Format = 11 (Intellifont Unbound Scalable, NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) {
             d.headerFormat = 15;
             d.orientation = 1;
         },
         8, "Header Format = 15 (True Type Scalable (bound or unbound), NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) { d.headerFormat = 20; }, 9,
         "Header Format = 20 (Resolution-Specified Bitmap, NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) { d.fontType = 1; }, 10,
         "Character codes 32 to 127 and 160 to 255 are printable (NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) { d.fontType = 10; }, 12,
         "Character codes HP MSL numbers (NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) { d.fontType = 11; }, 13,
         "Character codes Unicode numbers (NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) {
             d.orientation = 1;
             d.fontType = 5;
         },
         14, "Orientation = landscape (NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) { d.orientation = 2; }, 15,
         "Orientation = reverse portrait (NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) { d.orientation = 3; }, 16,
         "Orientation = reverse landscape (NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) { d.orientation = 9; }, 17, "Orientation = unknown (NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) {
             d.spacing = 2;
             d.fontType = 5;
         },
         18, "Spacing = unknown (NOT QK compatible)\r\n"},
        {[](FontDescriptor& d) { d.fontType = 5; }, 19,
         "Font Type > 2 and not compatible with QK ticketprinter\r\n"},
        {[](FontDescriptor& d) { d.headerFormat = 3; }, 0, "\r\n\n"},
        {[](FontDescriptor& d) { d.fontType = 2; }, 0, "\r\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastLine);
        FontDescriptor descriptor;
        c.change(descriptor);
        ReportLines output;
        FontSummary summary;
        EXPECT_EQ(judge(descriptor, output, summary), c.verdict);
        EXPECT_EQ(output.lines.back(), c.lastLine);
    }
}

TEST(FontHeaderInfo, FontTypeTwoIsConvertedButCalledNotCompatible) {
    FontDescriptor descriptor;
    descriptor.fontType = 2;
    ReportLines output;
    FontSummary summary;
    ASSERT_EQ(judge(descriptor, output, summary), 0);
    const auto& lines = output.lines;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Font Type = 2, first code = 0, last code = 255\r\n"),
              lines.end());
    EXPECT_EQ(lines[lines.size() - 2], "This file is NOT compatible with QK ticket printers\r\n");
}

TEST(FontHeaderInfo, DecodesEveryStyleWidthAndWeightValue) {
    struct Case {
        void (*change)(FontDescriptor&);
        const char* line;
    };
    const Case cases[] = {
        {[](FontDescriptor& d) { d.style = 3; }, "Posture = Reserved\r\n"},
        {[](FontDescriptor& d) { d.style = 7 << 2; },
         "Appearance Width = Extra Extended or Extra Expanded\r\n"},
        {[](FontDescriptor& d) { d.style = 3 << 5; }, "Structure = Contour, Distressed\r\n"},
        {[](FontDescriptor& d) { d.style = 11 << 5; }, "Structure = Patterned\r\n"},
        {[](FontDescriptor& d) { d.style = 12 << 5; }, "Structure = Patterned with Shadow\r\n"},
        {[](FontDescriptor& d) { d.style = 16 << 5; }, "Structure = Inverse\r\n"},
        {[](FontDescriptor& d) { d.style = 30 << 5; }, "Structure = 18 - 31 Reserved\r\n"},
        {[](FontDescriptor& d) { d.style = 31 << 5; }, "Structure = Unknown Structure\r\n"},
        {[](FontDescriptor& d) { d.widthType = -1; }, "Width Type = unknown\r\n"},
        {[](FontDescriptor& d) { d.widthType = 3; }, "Width Type = Extra Expanded\r\n"},
        {[](FontDescriptor& d) { d.strokeWeight = -7; }, "Stroke Weight = Ultra Thin\r\n"},
        {[](FontDescriptor& d) { d.strokeWeight = -5; }, "Stroke Weight = Thin\n"},
        {[](FontDescriptor& d) { d.strokeWeight = 7; }, "Stroke Weight = Ultra Black\r\n"},
        {[](FontDescriptor& d) { d.strokeWeight = 8; }, "Stroke Weight = unknown\r\n"},
        {[](FontDescriptor& d) { d.strokeWeight = -128; }, "Stroke Weight = unknown\r\n"},
        {[](FontDescriptor& d) { d.length = 48; }, "Font name = , length = 0\r\n"},
        {[](FontDescriptor& d) { d.length = 40; }, "Font name length = -8\r\n"},
        {[](FontDescriptor& d) { d.length = 40; }, "Font name = , length = -8\r\n"},
        {[](FontDescriptor& d) { d.name = std::string("Ab\0cd", 5); }, "Font name = Ab, length = 16\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        FontDescriptor descriptor;
        c.change(descriptor);
        ReportLines output;
        FontSummary summary;
        EXPECT_EQ(judge(descriptor, output, summary), 0);
        EXPECT_NE(std::find(output.lines.begin(), output.lines.end(), c.line), output.lines.end());
    }
}

TEST(FontHeaderInfo, BytesAShortDescriptorLacksCountAsZero) {
    // Ten bytes: header format 0, font type 0, baseline 3, cell width 0x0102; no height, no pitch.
    const std::vector<std::uint8_t> descriptor = {0, 10, 0, 0, 0, 0, 0, 3, 1, 2};
    ReportLines output;
    FontSummary summary;
    summary.cellHeight = summary.pitch = 77;
    EXPECT_EQ(morlix::softfont::displayFontHeaderInfo(descriptor, summary, output.report), 0);
    EXPECT_EQ(summary.baseline, 3);
    EXPECT_EQ(summary.cellWidth, 258);
    EXPECT_EQ(summary.cellHeight, 0);
    EXPECT_EQ(summary.pitch, 0);
    EXPECT_EQ(output.lines.at(output.lines.size() - 4), "Font name = , length = -38\r\n");
}

}  // namespace
