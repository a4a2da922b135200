// The character records, their cells and the converted file, on fonts
// built byte by byte.
#include <gtest/gtest.h>

#include "morlix/conversion_result.h"
#include "platform/debug_output.h"
#include "softfont/character_records.h"
#include "softfont_test_support.h"

namespace {

using morlix::platform::DebugCapture;
using morlix::softfont::ByteSource;
using morlix::softfont::FontSummary;
using velquin::testing::bytesOf;
using velquin::testing::ConvertedFont;
using velquin::testing::FontDescriptor;
using velquin::testing::Glyph;
using velquin::testing::InMemoryConversion;
using velquin::testing::ReportLines;
using velquin::testing::SoftFontBuilder;

// Converts and reads the converted file back; fails the test when either goes wrong.
ConvertedFont convertOk(const SoftFontBuilder& font, InMemoryConversion& conversion) {
    velquin::testing::convertBytes(font.bytes(), conversion);
    EXPECT_EQ(conversion.result, 0);
    auto converted = conversion.converted();
    EXPECT_TRUE(converted.has_value());
    return converted.value_or(ConvertedFont{});
}

// `rows` padded with '.' to `width` columns.
std::vector<std::string> padded(std::vector<std::string> rows, std::size_t width) {
    for (auto& row : rows) row.resize(width, '.');
    return rows;
}

std::vector<std::string> blankRows(std::size_t count, std::size_t width) {
    return std::vector<std::string>(count, std::string(width, '.'));
}

template <typename... Parts>
std::vector<std::string> stacked(const Parts&... parts) {
    std::vector<std::string> all;
    (all.insert(all.end(), parts.begin(), parts.end()), ...);
    return all;
}

Glyph space(int rows = 0) {
    return Glyph{.code = 32, .topOffset = 24, .width = 8, .rows = std::vector<std::string>(rows, "########")};
}

TEST(CharacterNumber, RecognisesTheCodeCommand) {
    struct Case {
        std::string bytes;
        bool failsAtEnd;
        std::int32_t result;
        int code;
        const char* reportLine;
    };
    const Case cases[] = {
        {"\x1b*c65E", false, 0, 65, nullptr},
        {"\x1b*c300E", false, 0, 44, nullptr},
        {"\x1b*cE", false, 0, 0, nullptr},
        {"\x1b*c99999999999999999999E", false, 0, 255, nullptr},
        {"\x1b*c5F", false, 24, 5, "readCharacterNumber - Did not find terminating E\r\n"},
        {"\x1b(10U", false, 22, 0, nullptr},
        {"\x1b*x", false, 23, 0, "readCharacterNumber - 3rd character NOT c\r\n"},
        {"A", false, 21, 0, "readCharacterNumber - 1st character NOT escape, error\r\n"},
        {"", false, 26, 0, "readCharacterNumber - Good return code and 0 bytes read\r\n"},
        {"\x1b*c6", false, 26, 6, "readCharacterNumber - Good return code and 0 bytes read\r\n"},
        {"\x1b*c6", true, 20, 6, "readCharacterNumber - Bad return code from readFile\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const auto bytes = bytesOf(c.bytes);
        ByteSource input(bytes, c.failsAtEnd);
        ReportLines output;
        std::uint8_t code = 99;
        EXPECT_EQ(morlix::softfont::readCharacterNumber(input, code, output.report), c.result);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(output.lines,
                  c.reportLine ? std::vector<std::string>{c.reportLine} : std::vector<std::string>{});
    }
}

TEST(CharacterNumber, DataCommandLengthHasNoDigitLimitAndWrapsIn32Bits) {
    struct Case {
        std::string bytes;
        bool accepted;
        std::int32_t length;
        const char* logLine;
    };
    const Case cases[] = {
        {"\x1b(s100W", true, 100, nullptr},
        {"\x1b(sW", true, 0, nullptr},
        {"\x1b(s4294967312W", true, 16, nullptr},
        {"\x1b(s2147483648W", true, INT32_MIN, nullptr},
        {"\x1b(s12", false, 12, nullptr},
        {"\x1b)s1W", false, 0, nullptr},
        {"\x1b(s1U", false, 1, nullptr},
        {"X", false, 0, "getCharacterGeneratorLength - 1st character NOT escape, error\r\n"},
        {"\x1b(x", false, 0, "getCharacterGeneratorLength - 3rd character NOT s\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        DebugCapture log;
        const auto bytes = bytesOf(c.bytes);
        ByteSource input(bytes);
        std::int32_t length = -1;
        EXPECT_EQ(morlix::softfont::getCharacterGeneratorLength(input, length), c.accepted);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(log.lines(), c.logLine ? std::vector<std::string>{c.logLine} : std::vector<std::string>{});
    }
}

TEST(CharacterRecords, ABadCharacterDescriptorFailsTheConversionWithFive) {
    struct Case {
        Glyph glyph;
        const char* logLine;
    };
    const Case cases[] = {
        {Glyph{.rows = {"#"}, .format = 5}, "Character generator format != 4, error!\r\n"},
        {Glyph{.rows = {"#"}, .descriptorSize = 16},
         "Character generator length is not correct, was 16, should be 14\r\n"},
        {Glyph{.rows = {"#"}, .lengthDigits = "15"},
         "Character generator length 15 is shorter than the character descriptor\r\n"},
        {Glyph{.rows = {"#"}, .lengthDigits = "4294967295"},
         "Character generator length -1 is shorter than the character descriptor\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logLine);
        DebugCapture log;
        InMemoryConversion conversion;
        velquin::testing::convertBytes(SoftFontBuilder().character(space()).character(c.glyph).bytes(),
                                       conversion);
        EXPECT_EQ(conversion.result, 5);
        EXPECT_TRUE(log.contains(c.logLine));
        EXPECT_TRUE(conversion.file.empty());
    }
}

TEST(CharacterRecords, LogsTheDescriptorAndKeepsTheHighestCode) {
    DebugCapture log;
    InMemoryConversion conversion;
    const auto font = SoftFontBuilder()
                          .character(space())
                          .character({.code = 200,
                                      .leftOffset = -2,
                                      .topOffset = -3,
                                      .width = 17,
                                      .height = 2,
                                      .deltaX = 70,
                                      .rows = {"#", "#"}})
                          .character({.code = 66, .rows = {"#"}});
    convertOk(font, conversion);
    EXPECT_EQ(conversion.summary.lastCode, 200);
    for (const char* line :
         {"CG Left Offset (bits) = FFFE\r\n", "CG Top Offset (bits)  = -3\r\n",
          "CG Char width (bits)  = 17\r\n", "CG Char height        = 2\r\n", "CG Delta X (1/4 dots) = 70\r\n",
          "CG Delta X            = 17\r\n", "Character generator width in words = 2\r\n\n",
          "OFFSET address for char = 3200 DEC C80 HEX\r\n",
          "\r\nTotal characters found = 3, last character = 200\r\n"})
        EXPECT_TRUE(log.contains(line)) << line;
}

// The debug channel carries texts: the line of code 0 ends where its
// character (a zero byte) would stand.
TEST(CharacterRecords, EachCharacterIsLoggedByNumberAndAsACharacter) {
    DebugCapture log;
    InMemoryConversion conversion;
    convertOk(
        SoftFontBuilder().character(space()).character({.code = 0, .rows = {"#"}}).character({.rows = {"#"}}),
        conversion);
    EXPECT_TRUE(log.contains("\r\nCharacter data, found character 32,  , "));
    EXPECT_TRUE(log.contains("\r\nCharacter data, found character 65, A, "));
    EXPECT_TRUE(log.contains("\r\nCharacter data, found character 0, "));
    for (const auto& line : log.lines()) EXPECT_EQ(line.find('\0'), std::string::npos) << line;
}

TEST(CharacterCells, WorkedExamplePlacesTheBitmapBetweenBlankRows) {
    // Cell height 30, baseline 24; top offset 20, 22 rows of 12 dots: 4 blank rows above and below.
    std::vector<std::string> rows;
    for (int r = 0; r < 22; ++r) rows.push_back(std::string(static_cast<std::size_t>(r % 12), '.') + "#");
    DebugCapture log;
    InMemoryConversion conversion;
    const auto font = convertOk(
        SoftFontBuilder().character(space()).character({.topOffset = 20, .width = 12, .rows = rows}),
        conversion);
    EXPECT_EQ(font.entry(65).position, 4096u + 60u);  // after the space's 30 rows of one word
    EXPECT_EQ(font.length, 4096 + 60 + 60);
    EXPECT_EQ(font.cellRows(65), stacked(blankRows(4, 16), padded(rows, 16), blankRows(4, 16)));
    EXPECT_TRUE(log.contains("Top blank lines = 4\r\n"));
    EXPECT_TRUE(log.contains("Bottom Blank Lines = 4\r\n"));
    EXPECT_TRUE(log.contains("CGindex after building character = 30\r\n"));
}

TEST(CharacterCells, SpaceIsCreatedBeforeTheFirstOtherCharacter) {
    for (const auto& [pitch, width, words] : {std::tuple{96, 24, 2}, std::tuple{32, 8, 1}}) {
        FontDescriptor descriptor;
        descriptor.pitch = static_cast<std::uint16_t>(pitch);
        InMemoryConversion conversion;
        const auto font =
            convertOk(SoftFontBuilder(descriptor).character({.rows = {"########"}}), conversion);
        const auto created = font.entry(32);
        EXPECT_EQ(created.position, 4096u);
        EXPECT_EQ(created.width, width);
        EXPECT_EQ(created.words, words);
        EXPECT_EQ(created.leftOffset, 0);
        EXPECT_EQ(created.escapement, width);
        EXPECT_EQ(font.cellRows(32), blankRows(30, static_cast<std::size_t>(words) * 16));
        EXPECT_EQ(font.entry(65).position, 4096u + 30u * 2 * static_cast<unsigned>(words));
        EXPECT_EQ(font.count, 2);
        const auto& lines = conversion.output.lines;
        EXPECT_NE(
            std::find(lines.begin(), lines.end(), "Space pitch in bits = " + std::to_string(width) + "\r\n"),
            lines.end());
    }
}

TEST(CharacterCells, SpaceThatComesFirstIsKeptBlank) {
    InMemoryConversion conversion;
    const auto font =
        convertOk(SoftFontBuilder().character(space(30)).character({.rows = {"#"}}), conversion);
    EXPECT_EQ(font.count, 2);
    EXPECT_EQ(font.entry(32).position, 4096u);
    EXPECT_EQ(font.entry(32).width, 8);
    EXPECT_EQ(font.cellRows(32), blankRows(30, 16));
}

TEST(CharacterCells, DotsBeyondTheWidthAreCleared) {
    InMemoryConversion conversion;
    const auto font =
        convertOk(SoftFontBuilder().character(space()).character(
                      {.topOffset = 24,
                       .width = 17,
                       .bitmap = std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0x81, 0x00, 0x7F}}),
                  conversion);
    EXPECT_EQ(font.entry(65).words, 2);
    const std::size_t cell = font.entry(65).position;
    EXPECT_EQ(font.word(cell), 0xFFFF);
    EXPECT_EQ(font.word(cell + 2), 0x8000);  // dots 17 to 31 of the row are zero
    EXPECT_EQ(font.word(cell + 4), 0x8100);
    EXPECT_EQ(font.word(cell + 6), 0x0000);
}

TEST(CharacterCells, RepeatedCodeTakesTheEntryAndKeepsBothCells) {
    InMemoryConversion conversion;
    const auto font = convertOk(SoftFontBuilder()
                                    .character(space())
                                    .character({.topOffset = 24, .rows = {"#......."}})
                                    .character({.topOffset = 24, .rows = {".......#"}}),
                                conversion);
    EXPECT_EQ(font.count, 3);
    EXPECT_EQ(font.length, 4096 + 3 * 60);
    EXPECT_EQ(font.entry(65).position, 4096u + 120u);
    EXPECT_TRUE(font.dot(65, 0, 7));
    EXPECT_EQ(font.image.at(4096 + 60), 0x80);  // the first cell is still there
}

TEST(CharacterCells, CharacterThatCannotBeBuiltEndsTheFontAndIsWithdrawn) {
    // 45 bytes cannot be rows of 2 bytes.
    const Glyph broken{.width = 12, .bitmap = std::vector<std::uint8_t>(45, 0xFF)};
    {
        DebugCapture log;
        InMemoryConversion conversion;
        const auto font = convertOk(
            SoftFontBuilder().character(space()).character(broken).character({.code = 66, .rows = {"#"}}),
            conversion);
        EXPECT_EQ(std::count(log.lines().begin(), log.lines().end(),
                             "ERROR ERROR  ERROR ERROR ERROR ERROR ERROR ERROR ERROR\r\n"),
                  2);
        EXPECT_TRUE(log.contains("Error building character entry\r\n"));
        EXPECT_EQ(font.count, 1);
        EXPECT_TRUE(font.entry(65).empty());
        EXPECT_TRUE(font.entry(66).empty());
        EXPECT_EQ(font.length, 4096 + 60);
    }
    {
        // A repeated code that fails leaves the earlier one's entry in place.
        InMemoryConversion conversion;
        const auto font = convertOk(
            SoftFontBuilder().character({.topOffset = 24, .rows = {"##"}}).character(broken), conversion);
        EXPECT_EQ(font.count, 2);  // the created space (24 dots: 2 words) and the first A
        EXPECT_EQ(font.entry(65).position, 4096u + 120u);
        EXPECT_EQ(font.entry(65).width, 2);
        EXPECT_EQ(font.length, 4096 + 120 + 60);
    }
}

TEST(CharacterCells, RowsOutsideTheCellAreDroppedAndEveryCellIsCellHeightRows) {
    const std::vector<std::string> rows = {"#.......", ".#......", "..#.....", "...#....", "....#..."};
    struct Case {
        std::int16_t topOffset;
        std::vector<std::string> expected;  // the 30 cell rows
        const char* clipLine;
    };
    const Case cases[] = {
        {24, stacked(padded(rows, 16), blankRows(25, 16)), nullptr},
        {26, stacked(padded({rows[2], rows[3], rows[4]}, 16), blankRows(27, 16)),
         "Character clipped, 2 rows above the cell dropped\r\n"},
        {-3, stacked(blankRows(27, 16), padded({rows[0], rows[1], rows[2]}, 16)),
         "Character clipped, 2 rows below the cell dropped\r\n"},
        {-40, blankRows(30, 16), "Character clipped, 5 rows below the cell dropped\r\n"},
        {100, blankRows(30, 16), "Character clipped, 5 rows above the cell dropped\r\n"},
    };
    // 8 dots: rows are padded to a word; 16 dots: rows are copied as they are.
    for (const std::uint16_t width : {8, 16}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "top offset " << c.topOffset << ", width " << width);
            DebugCapture log;
            InMemoryConversion conversion;
            const auto font = convertOk(SoftFontBuilder().character(space()).character(
                                            {.topOffset = c.topOffset, .width = width, .rows = rows}),
                                        conversion);
            EXPECT_EQ(font.cellRows(65), c.expected);
            EXPECT_EQ(font.length, 4096 + 60 + 60);
            if (c.clipLine) {
                EXPECT_TRUE(log.contains(c.clipLine));
            }
        }
    }
}

TEST(CharacterCells, HeightFieldDoesNotChangeTheCell) {
    // The data holds 3 rows whatever the height says.
    for (std::uint16_t height : {0, 1, 3, 40, 65535}) {
        InMemoryConversion conversion;
        const auto font = convertOk(SoftFontBuilder().character(space()).character(
                                        {.topOffset = 24, .height = height, .rows = {"#", "#", "#"}}),
                                    conversion);
        EXPECT_EQ(font.cellRows(65), stacked(padded({"#", "#", "#"}, 16), blankRows(27, 16))) << height;
    }
}

TEST(CharacterCells, WidthZeroGivesAnEmptyCell) {
    InMemoryConversion conversion;
    const auto font = convertOk(SoftFontBuilder()
                                    .character(space())
                                    .character({.width = 0, .bitmap = std::vector<std::uint8_t>(7, 0xFF)})
                                    .character({.code = 66, .topOffset = 24, .rows = {"#"}}),
                                conversion);
    EXPECT_EQ(font.entry(65).words, 0);
    EXPECT_EQ(font.entry(65).position, 4096u + 60u);
    EXPECT_EQ(font.entry(66).position, 4096u + 60u);
    EXPECT_TRUE(font.dot(66, 0, 0));
}

TEST(CharacterCells, ImageGrowsBeyondItsFirstCapacity) {
    // Cell 16 x 8, but characters 40 dots wide, every code, some twice: far more than 256 cells of one word.
    FontDescriptor descriptor;
    descriptor.cellWidth = 16;
    descriptor.cellHeight = 8;
    descriptor.baseline = 6;
    SoftFontBuilder builder(descriptor);
    for (int pass = 0; pass < 2; ++pass)
        for (int code = 0; code < 256; ++code)
            builder.character({.code = code,
                               .topOffset = 6,
                               .width = 40,
                               .rows = {std::string(static_cast<std::size_t>(code % 40), '.') + "#",
                                        std::string(40, '#')}});
    InMemoryConversion conversion;
    const auto font = convertOk(builder, conversion);
    EXPECT_EQ(font.count, 513);
    EXPECT_EQ(font.length, 4096 + 2 * 8 * 2 + 512 * 3 * 8 * 2);
    for (int code = 0; code < 256; ++code) {
        if (code == 32) continue;
        EXPECT_TRUE(font.dot(code, 0, code % 40)) << code;
        EXPECT_TRUE(font.dot(code, 1, 39)) << code;
        EXPECT_FALSE(font.dot(code, 2, 0)) << code;
    }
}

TEST(CharacterCells, FontLargerThanAnyPrinterHoldsIsRefusedBeforeItsCellIsBuilt) {
    FontDescriptor hostile;
    hostile.cellHeight = 65535;
    DebugCapture log;
    InMemoryConversion conversion;
    velquin::testing::convertBytes(SoftFontBuilder(hostile)
                                       .character(space())
                                       .character({.width = 65535, .bitmap = std::vector<std::uint8_t>{}})
                                       .bytes(),
                                   conversion);
    EXPECT_EQ(conversion.result, morlix::CONVERSION_FONT_TOO_LARGE);
    EXPECT_TRUE(log.contains("Could not allocate 536997886 bytes for master DL image\r\n"));

    // 256 cells of 8 bytes a row: 4392 rows make a file just under 9,000,000 bytes, 4393 just over.
    for (const auto& [height, expected] :
         {std::pair{4392, morlix::CONVERSION_OK}, std::pair{4393, morlix::CONVERSION_FONT_TOO_LARGE}}) {
        FontDescriptor descriptor;
        descriptor.cellHeight = static_cast<std::uint16_t>(height);
        SoftFontBuilder builder(descriptor);
        builder.character({.code = 32, .width = 64, .bitmap = std::vector<std::uint8_t>{}});
        for (int code = 0; code < 256; ++code)
            if (code != 32)
                builder.character({.code = code, .width = 64, .bitmap = std::vector<std::uint8_t>{}});
        InMemoryConversion converted;
        velquin::testing::convertBytes(builder.bytes(), converted);
        EXPECT_EQ(converted.result, expected) << height;
        if (expected == morlix::CONVERSION_OK) {
            EXPECT_LT(converted.file.size(), 9'000'000u);
        }
    }
}

TEST(ConvertedFile, FontWithoutCharactersIsTheTableAlone) {
    DebugCapture log;
    InMemoryConversion conversion;
    velquin::testing::convertBytes(SoftFontBuilder().bytes(), conversion);
    ASSERT_EQ(conversion.result, 0);
    std::vector<std::uint8_t> expected = bytesOf("<SL40,30,0,96,4096>\x1b");
    expected.resize(expected.size() + 4096, 0);
    expected.push_back(0x1B);
    EXPECT_EQ(conversion.file, expected);
    EXPECT_TRUE(log.contains("Did not find space character\r\n"));
    EXPECT_TRUE(log.contains("Header offset length = 20\r\n"));
}

TEST(ConvertedFile, HeaderCountsEntriesAndLengthCoversTableAndCells) {
    // A space and 94 characters of one word by 30 rows: 95 cells of 60 bytes.
    SoftFontBuilder builder;
    builder.character(space());
    for (int code = 33; code < 127; ++code)
        builder.character({.code = code, .topOffset = 24, .width = 16, .rows = {"#"}});
    DebugCapture log;
    InMemoryConversion conversion;
    convertOk(builder, conversion);
    const std::string header = "<SL40,30,95,96,9796>";
    ASSERT_EQ(conversion.file.size(), 20u + 1 + 9796 + 1);
    EXPECT_EQ(std::string(conversion.file.begin(), conversion.file.begin() + 20), header);
    EXPECT_EQ(conversion.file[20], 0x1B);
    EXPECT_EQ(conversion.file.back(), 0x1B);
    EXPECT_TRUE(log.contains(header + "\r\n"));
    EXPECT_TRUE(log.contains("Header offset length = 21\r\n"));
    EXPECT_TRUE(log.contains("found space character (or created)\r\n"));
}

TEST(ConvertedFile, HowTheFontEndsDecidesTheResult) {
    struct Case {
        const char* trailer;
        std::int32_t result;
    };
    const Case cases[] = {
        {"", 0},                        // the last bitmap ends the file
        {"\x1b*c6", 0},                 // end of file inside a code command
        {"\x1b*c66E", 0},               // code command, then end of file
        {"\x1b*c66E\x1b(s2", 0},        // end of file inside a data command
        {"\x1b*c66E\x1b(s17W\x04", 5},  // end of file inside a character descriptor
        {"\x1b*c5F", 24},               // a font control command
        {"\x1b(10U", 22},               // a symbol set command
        {"\r\n", 21},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.trailer)));
        InMemoryConversion conversion;
        velquin::testing::convertBytes(
            SoftFontBuilder().character(space()).character({.rows = {"#"}}).raw(c.trailer).bytes(),
            conversion);
        EXPECT_EQ(conversion.result, c.result);
        if (c.result == 0) {
            EXPECT_EQ(conversion.converted().value().count, 2);
        }
    }
}

TEST(ConvertedFile, EndOfFileOrReadErrorAtEveryByte) {
    // A character of 4 rows, 8 dots (rows padded to a word) or 16 dots (rows copied whole).
    for (const std::size_t rowBytes : {1u, 2u}) {
        SoftFontBuilder builder;
        const std::size_t descriptorStart = 6, charactersStart = builder.bytes().size();
        builder.raw("\x1b*c65E");
        const std::size_t dataCommand = builder.bytes().size();
        builder.raw(rowBytes == 1 ? "\x1b(s20W" : "\x1b(s24W");
        const std::size_t characterDescriptor = builder.bytes().size();
        builder.raw(std::string("\x04\x00\x0e\x01\x00\x00\x00\x00\x00\x18\x00", 11) + char(8 * rowBytes) +
                    std::string("\x00\x04\x00\x20", 4));
        const std::size_t bitmap = builder.bytes().size();
        builder.raw(rowBytes == 1 ? "\xff\x81\x81\xff" : "\xff\xff\x80\x01\x80\x01\xff\xff");
        const auto full = builder.bytes();

        for (std::size_t length = 0; length <= full.size(); ++length) {
            for (const bool failsAtEnd : {false, true}) {
                SCOPED_TRACE(testing::Message() << rowBytes << " bytes a row, prefix " << length
                                                << (failsAtEnd ? ", read error" : ", end of file"));
                std::int32_t expected = 0;
                long count = 0;
                if (length < descriptorStart)
                    expected = 1;
                else if (length < charactersStart)
                    expected = 4;
                else if (length < dataCommand)
                    expected = failsAtEnd ? 20 : 0;
                else if (length < characterDescriptor)
                    expected = 0;
                else if (length < bitmap)
                    expected = 5;
                else if (length == full.size() && failsAtEnd)
                    expected = 20;  // the read after the last bitmap fails
                else
                    count = failsAtEnd ? 1 : 2;  // a failed bitmap read withdraws the character

                InMemoryConversion conversion;
                velquin::testing::convertBytes(std::span(full.data(), length), conversion, failsAtEnd);
                ASSERT_EQ(conversion.result, expected);
                if (expected != 0) continue;
                const auto font = conversion.converted();
                ASSERT_TRUE(font.has_value());
                EXPECT_EQ(font->count, count);
                if (count == 2) {
                    // Bitmap bytes missing at the end of the file are blank.
                    for (std::size_t row = 0; row < 4; ++row)
                        EXPECT_EQ(font->dot(65, static_cast<long>(row), 0), row * rowBytes < length - bitmap)
                            << row;
                }
            }
        }
    }
}

}  // namespace
