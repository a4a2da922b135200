// The converter on files: the exported entry point, where the converted file
// goes, what a failure leaves behind, and the sample fonts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "morlix/conversion_result.h"
#include "morlix/morlix.h"
#include "platform/debug_output.h"
#include "softfont_test_support.h"
#include "velquin/converted_file_name.h"

namespace {

namespace fs = std::filesystem;
using morlix::platform::DebugCapture;
using velquin::testing::ConvertedFont;
using velquin::testing::FontDescriptor;
using velquin::testing::Glyph;
using velquin::testing::InMemoryConversion;
using velquin::testing::ReportLines;
using velquin::testing::SoftFontBuilder;

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

SoftFontBuilder smallFont(const FontDescriptor& descriptor = {}) {
    return SoftFontBuilder(descriptor)
        .character({.code = 32, .topOffset = 24, .width = 8})
        .character({.code = 65, .topOffset = 22, .rows = {".##.", "#..#", "####", "#..#"}});
}

class ConverterFiles : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "softfont-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(folder_, ignored);
    }

    fs::path place(const std::string& name, std::span<const std::uint8_t> bytes) {
        writeFile(folder_ / name, bytes);
        return folder_ / name;
    }
    std::int32_t convert(const fs::path& path, ReportLines& output) {
        return morlix::softfont::convertSoftFontFile(path.c_str(), output.report);
    }
    std::vector<std::string> namesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
};

TEST_F(ConverterFiles, ExportWritesBesideTheInputAndReports) {
    const auto font = smallFont();
    const auto input = place("COUR12.SFP", font.bytes());
    InMemoryConversion expected;
    velquin::testing::convertBytes(font.bytes(), expected);

    DebugCapture log;
    testing::internal::CaptureStdout();
    const std::int32_t result = qkSoftFontFileName(input.c_str());
    const std::string standardOutput = testing::internal::GetCapturedStdout();
    ASSERT_EQ(result, 0);
    EXPECT_EQ(readFile(folder_ / "COUR12.QKS"), expected.file);
    EXPECT_EQ(namesInFolder(), (std::vector<std::string>{"COUR12.QKS", "COUR12.SFP"}));
    EXPECT_NE(standardOutput.find("\r\nFound Soft Font header, length = 64\r\n"), std::string::npos);
    EXPECT_NE(standardOutput.find("This file is compatible with QK ticket printers\r\n"), std::string::npos);
    const std::string written = std::to_string(expected.file.size());
    EXPECT_NE(standardOutput.find("Write file index = " + written + ", bytes written = " + written + "\r\n"),
              std::string::npos);
    ASSERT_GE(log.lines().size(), 8u);
    EXPECT_EQ(log.lines()[0], "Orginal file name = " + input.string() + "\r\n");
    EXPECT_EQ(log.lines()[1], "Stripped file name wo extention = " + (folder_ / "COUR12").string() + "\r\n");
    EXPECT_EQ(log.lines()[2], "QK destination file name = " + (folder_ / "COUR12.QKS").string() + "\r\n");
    EXPECT_TRUE(log.contains("Size of offset table = 4096 bytes\r\n"));
}

TEST_F(ConverterFiles, NamesWithDotsDoNotCollideAndASecondRunReplacesTheFirst) {
    ReportLines output;
    const auto first = place("my.font.sfp", smallFont().bytes());
    FontDescriptor wide;
    wide.cellWidth = 99;
    const auto second = place("my.bold.sfp", smallFont(wide).bytes());
    ASSERT_EQ(convert(first, output), 0);
    ASSERT_EQ(convert(second, output), 0);
    EXPECT_EQ(ConvertedFont::read(readFile(folder_ / "my.font.QKS"))->cellWidth, 40);
    EXPECT_EQ(ConvertedFont::read(readFile(folder_ / "my.bold.QKS"))->cellWidth, 99);

    place("my.font.sfp", smallFont(wide).bytes());
    ASSERT_EQ(convert(first, output), 0);
    EXPECT_EQ(ConvertedFont::read(readFile(folder_ / "my.font.QKS"))->cellWidth, 99);
}

TEST_F(ConverterFiles, RefusedFontWritesNothingAndKeepsTheOlderFile) {
    FontDescriptor landscape;
    landscape.orientation = 1;
    const auto input = place("font.sfp", smallFont(landscape).bytes());
    const std::vector<std::uint8_t> older = {'o', 'l', 'd'};
    place("font.QKS", older);
    ReportLines output;
    EXPECT_EQ(convert(input, output), 14);
    EXPECT_EQ(readFile(folder_ / "font.QKS"), older);
    EXPECT_EQ(namesInFolder(), (std::vector<std::string>{"font.QKS", "font.sfp"}));
}

TEST_F(ConverterFiles, InputsThatCannotBeOpenedGiveOne) {
    fs::create_directory(folder_ / "folder.sfp");
    const std::string longPath = (folder_ / std::string(5000, 'a')).string() + ".sfp";
    for (const std::string& path : {(folder_ / "missing.sfp").string(), (folder_ / "folder.sfp").string(),
                                    longPath, std::string("/dev/null"), std::string()}) {
        DebugCapture log;
        EXPECT_EQ(qkSoftFontFileName(path.c_str()), 1) << path.substr(0, 80);
        // Log lines are cut at the log buffer; the long path's line starts the same.
        const std::string expected = "Could not open file " + path.substr(0, 100);
        EXPECT_TRUE(std::any_of(log.lines().begin(), log.lines().end(), [&](const std::string& line) {
            return line.starts_with(expected);
        })) << path.substr(0, 80);
    }
    EXPECT_EQ(qkSoftFontFileName(nullptr), 1);
    EXPECT_EQ(namesInFolder(), std::vector<std::string>{"folder.sfp"});
}

TEST_F(ConverterFiles, InputLargerThanAnySoftFontIsRefusedUnread) {
    // Sparse files: a font's bytes followed by zeros up to the size.
    const auto font = smallFont().bytes();
    for (const auto& [size, refused] :
         {std::pair{std::size_t{16} << 20, false}, std::pair{(std::size_t{16} << 20) + 1, true},
          std::pair{std::size_t{1} << 30, true}}) {
        const auto input = place("big.sfp", font);
        fs::resize_file(input, size);
        ReportLines output;
        const std::int32_t result = convert(input, output);
        EXPECT_EQ(result == morlix::CONVERSION_INPUT_TOO_LARGE, refused) << size << " gave " << result;
    }
}

TEST_F(ConverterFiles, ReadOnlyInputConverts) {
    const auto input = place("font.sfp", smallFont().bytes());
    fs::permissions(input, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(folder_, fs::perms::all);
    // Root may open any file for writing: convert as an ordinary user so the
    // read-only permission really applies.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t NOBODY = 65534;
        if (::geteuid() == 0 && (::setgid(NOBODY) != 0 || ::setuid(NOBODY) != 0)) ::_exit(100);
        ::_exit(qkSoftFontFileName(input.c_str()));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::exists(folder_ / "font.QKS"));
}

TEST_F(ConverterFiles, FailureToWriteIsCodeTwentySevenAndLeavesNoFile) {
    const auto input = place("font.sfp", smallFont().bytes());
    fs::create_directory(folder_ / "font.QKS");  // the rename cannot replace a folder
    ReportLines output;
    EXPECT_EQ(convert(input, output), 27);
    EXPECT_EQ(output.lines.back(), "Could not create file " + (folder_ / "font.QKS").string() + "\r\n");
    EXPECT_EQ(namesInFolder(), (std::vector<std::string>{"font.QKS", "font.sfp"}));
    EXPECT_TRUE(fs::is_empty(folder_ / "font.QKS"));

    if (::geteuid() != 0) {
        fs::remove(folder_ / "font.QKS");
        fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
        ReportLines denied;
        EXPECT_EQ(convert(input, denied), 27);
        EXPECT_EQ(denied.lines.back(), "Could not create file " + (folder_ / "font.QKS").string() + "\r\n");
    }
}

// A name as long as the file system allows still converts: the temporary
// file beside it must not be longer than the name itself.
TEST_F(ConverterFiles, LongestFileNameConverts) {
    const std::string stem(251, 'n');
    const auto input = place(stem + ".sfp", smallFont().bytes());
    ReportLines output;
    ASSERT_EQ(convert(input, output), 0);
    EXPECT_EQ(namesInFolder(), (std::vector<std::string>{stem + ".QKS", stem + ".sfp"}));
}

TEST_F(ConverterFiles, FontCarryingTheConvertedNameIsNotOverwritten) {
    const auto font = smallFont();
    const auto input = place("font.QKS", font.bytes());
    ReportLines output;
    EXPECT_EQ(convert(input, output), 27);
    EXPECT_EQ(readFile(input), font.bytes());
}

// Every sample font converts, and each glyph's dots read back from its cell
// are the dots of its own bitmap placed at its offsets.
TEST_F(ConverterFiles, SampleFontsConvertDotForDot) {
    int fontsChecked = 0;
    for (const auto& sample : fs::directory_iterator(SAMPLE_FONTS_DIR)) {
        std::string extension = sample.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (extension != ".sfp") continue;
        SCOPED_TRACE(sample.path().filename().string());
        const auto bytes = readFile(sample.path());
        const auto input = place(sample.path().filename().string(), bytes);
        ReportLines output;
        ASSERT_EQ(convert(input, output), 0);
        const auto font = ConvertedFont::read(readFile(velquin::convertedFileName(input.string())));
        ASSERT_TRUE(font.has_value());

        const std::size_t descriptor =
            static_cast<std::size_t>(std::find(bytes.begin(), bytes.end(), 'W') - bytes.begin()) + 1;
        const long baseline = bytes[descriptor + 6] << 8 | bytes[descriptor + 7];
        std::map<int, velquin::testing::SoftFontRecord> glyphs;
        const auto records = velquin::testing::readSoftFontRecords(bytes);
        for (const auto& record : records) glyphs[record.code] = record;
        ASSERT_GT(glyphs.size(), 150u);
        EXPECT_EQ(font->count, static_cast<long>(records.size()) + (records.front().code == 32 ? 0 : 1));

        for (const auto& [code, glyph] : glyphs) {
            const auto entry = font->entry(code);
            EXPECT_EQ(entry.width, glyph.width) << code;
            EXPECT_EQ(entry.words, (glyph.width + 15) / 16) << code;
            EXPECT_EQ(entry.leftOffset, static_cast<std::uint16_t>(glyph.leftOffset)) << code;
            EXPECT_EQ(entry.escapement, glyph.deltaX >> 2) << code;
            int wrongDots = 0;
            for (long row = 0; row < font->cellHeight; ++row) {
                const long sourceRow = row - (baseline - glyph.topOffset);
                for (long column = 0; column < entry.words * 16L; ++column) {
                    const bool expected = code != 32 && sourceRow >= 0 && sourceRow < glyph.height &&
                                          column < glyph.width && glyph.dot(sourceRow, column);
                    wrongDots += font->dot(code, row, column) != expected;
                }
            }
            EXPECT_EQ(wrongDots, 0) << "code " << code;
        }
        ++fontsChecked;
    }
    EXPECT_EQ(fontsChecked, 5);
}

}  // namespace
