// The file list, list files and the soft font conversion wrapper.
#include "file_list.h"

#include <gtest/gtest.h>
#include <morlix/conversion_result.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTemporaryDir>
#include <functional>

#include "../support/loadable_files.h"
#include "conversion.h"
#include "preview.h"
#include "work_fakes.h"

namespace velquin::testing {
namespace {

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

TEST(ConversionMessages, EveryCodeHasItsMessage) {
    EXPECT_EQ(GetConversionErrorString(0), "Good");
    EXPECT_EQ(GetConversionErrorString(1), "Soft font file not found");
    EXPECT_EQ(GetConversionErrorString(11), "Error Soft Font is FONT TYPE 2 Not compatable");
    EXPECT_EQ(GetConversionErrorString(14), "Error Soft Font is LANDSCAPE MODE");
    EXPECT_EQ(GetConversionErrorString(25), "Error read character default");
    EXPECT_EQ(GetConversionErrorString(morlix::CONVERSION_WRITE_FAILED),
              "Error application could not write the converted file");
    for (const int unknown : {-1, 26, 30, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(GetConversionErrorString(unknown), "Unknown conversion error") << unknown;
    }
    for (int code = 1; code <= morlix::CONVERSION_INPUT_TOO_LARGE; ++code) {
        if (code == morlix::CONVERSION_END_OF_FONT) continue;
        EXPECT_NE(GetConversionErrorString(code), "Unknown conversion error") << code;
    }
}

TEST(ConversionNames, TheConvertedFileStandsBesideTheFontWithItsCaseKept) {
    EXPECT_EQ(ConvertFileName("/fonts/cour12.sfp"), "/fonts/cour12.QKS");
    EXPECT_EQ(ConvertFileName("/fonts/My.Font.SFP"), "/fonts/My.Font.QKS");
    EXPECT_EQ(ConvertFileName("/fonts.d/noextension"), "/fonts.d/noextension.QKS");
    EXPECT_EQ(ConvertFileName(QString::fromUtf8("/f/\u00e9t\u00e9.sfp")),
              QString::fromUtf8("/f/\u00e9t\u00e9.QKS"));
}

class ConversionWrapperTest : public ::testing::Test {
protected:
    void SetUp() override {
        font = dir.filePath("Font.sfp");
        writeFile(font, "font");
    }
    QTemporaryDir dir;
    QString font;
    FakeView view;
};

TEST_F(ConversionWrapperTest, AGoodConversionGivesTheConvertedSize) {
    QByteArray seenPath;
    const auto convert = [&](const QByteArray& path) {
        seenPath = path;
        writeFile(dir.filePath("Font.QKS"), QByteArray(1234, 'x'));
        return 0;
    };
    ConversionOutcome quiet = ConvertFileSFFtoQKS(font, false, convert, view);
    EXPECT_TRUE(quiet.converted);
    EXPECT_EQ(quiet.sizeOfConvertedFile, 1234);
    EXPECT_EQ(quiet.errorNumber, 0);
    EXPECT_EQ(seenPath, QFile::encodeName(font));
    EXPECT_TRUE(view.allLines.isEmpty());

    ConvertFileSFFtoQKS(font, true, convert, view);
    EXPECT_EQ(view.allLines, QStringList({dir.filePath("Font.QKS") + " size = 1234"}));
}

TEST_F(ConversionWrapperTest, AFailedConversionIsReportedWhateverTheDiagnosticsSay) {
    const ConversionOutcome outcome = ConvertFileSFFtoQKS(
        font, false, [](const QByteArray&) { return 14; }, view);
    EXPECT_FALSE(outcome.converted);
    EXPECT_EQ(outcome.errorNumber, 14);
    EXPECT_EQ(view.allLines, QStringList({font + " Error Soft Font is LANDSCAPE MODE"}));
}

TEST_F(ConversionWrapperTest, AConvertedFileThatIsNotThereIsAFailure) {
    const ConversionOutcome outcome = ConvertFileSFFtoQKS(
        font, false, [](const QByteArray&) { return 0; }, view);
    EXPECT_FALSE(outcome.converted);
    EXPECT_EQ(outcome.errorNumber, morlix::CONVERSION_WRITE_FAILED);
    EXPECT_EQ(view.allLines, QStringList({dir.filePath("Font.QKS") + " could not be opened"}));
}

TEST(ListFiles, OnePathPerLineEndedByCrLf) {
    QTemporaryDir dir;
    const QString list = dir.filePath("fonts.TFL");
    const QStringList paths = {"/a/One.ttf", "/b c/two.OTF", QString::fromUtf8("/d/\u00fc.ttf")};
    ASSERT_TRUE(writeListFile(list, paths));
    EXPECT_EQ(contentOf(list), QByteArray("/a/One.ttf\r\n/b c/two.OTF\r\n") +
                                   QString::fromUtf8("/d/\u00fc.ttf").toUtf8() + "\r\n");
    EXPECT_EQ(readListFile(list), paths);

    ASSERT_TRUE(writeListFile(list, {}));
    EXPECT_EQ(contentOf(list), QByteArray());
    EXPECT_EQ(readListFile(list), QStringList());
}

TEST(ListFiles, LinesEndedByCrOrLfOrNothingAreRead) {
    QTemporaryDir dir;
    const QString list = dir.filePath("mixed.PFL");
    writeFile(list, "one\rtwo\nthree\r\n\r\nlast");
    EXPECT_EQ(readListFile(list), QStringList({"one", "two", "three", "", "last"}));
}

TEST(ListFiles, UnreadableAndUnwritableListFilesAreFailures) {
    QTemporaryDir dir;
    EXPECT_FALSE(readListFile(dir.filePath("missing.TFL")).has_value());
    EXPECT_FALSE(writeListFile(dir.filePath("no/such/folder/list.TFL"), {"x"}));
}

class FileListTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "file_list_test";
            static char* argv[] = {name, nullptr};
            static QApplication application(argc, argv);
        }
    }
    void SetUp() override { files_ = std::make_unique<FileList>(); }
    QString file(const QString& name, int size) {
        const QString path = dir.filePath(name);
        // Each holds together as its kind does (True Type, PCX), anything for the rest.
        writeFile(path, name.endsWith(".ttf")   ? trueTypeFile(size, 1)
                        : name.endsWith(".pcx") ? pcxFile(size, 1)
                                                : QByteArray(size, 'f'));
        return path;
    }
    QString cell(int row, int column) const { return files_->index(row, column).data().toString(); }
    FileList& list() { return *files_; }

    QTemporaryDir dir;
    std::unique_ptr<FileList> files_;
    FakeView view;
    SoftFontConverterCall noConverter = [](const QByteArray&) { return 1; };
};

TEST_F(FileListTest, RowsKeepOrderSizesAndTheSum) {
    FileList& files = list();
    ASSERT_TRUE(files.append("/x/a.ttf", 1024));
    ASSERT_TRUE(files.append("/x/b.ttf", 1024));
    ASSERT_TRUE(files.append("/x/c.ttf", 1024));
    EXPECT_EQ(cell(1, ORDER_COLUMN), " 1");
    EXPECT_EQ(cell(3, ORDER_COLUMN), " 3");
    EXPECT_EQ(cell(2, PATH_COLUMN), "/x/b.ttf");
    EXPECT_EQ(cell(2, SIZE_COLUMN), "1024");
    EXPECT_EQ(cell(2, FONT_ID_COLUMN), "");
    EXPECT_EQ(files.count(), 3);
    EXPECT_EQ(files.flashNeeded(), 3072);

    files.removeLast();
    EXPECT_EQ(files.count(), 2);
    EXPECT_EQ(files.flashNeeded(), 2048);
    EXPECT_EQ(files.paths(), QStringList({"/x/a.ttf", "/x/b.ttf"}));

    files.removeAll();
    files.removeLast();  // on an empty list: nothing
    EXPECT_EQ(files.count(), 0);
    EXPECT_EQ(files.flashNeeded(), 0);
    EXPECT_EQ(files.rowCount(), 1);
}

TEST_F(FileListTest, TheListHoldsOneHundredFiles) {
    FileList& files = list();
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(files.append(QString("/f%1").arg(i), 2'000'000));
    EXPECT_FALSE(files.append("/one-too-many", 1));
    EXPECT_EQ(files.count(), 100);
    EXPECT_EQ(cell(100, ORDER_COLUMN), " 100");
    EXPECT_EQ(files.flashNeeded(), 200'000'000);
}

TEST_F(FileListTest, LoadingReplacesTheListAndReportsWhatItCouldNotAdd) {
    FileList& files = list();
    files.append("/old.ttf", 5);
    const QString a = file("a.ttf", 100);
    const QString b = file("b.ttf", 200);
    const QString missing = dir.filePath("missing.ttf");

    const FileList::LoadReport report =
        files.load({a, "", missing, b}, LoaderMode::ModeTTF, noConverter, view);

    EXPECT_EQ(report.added, 2);
    EXPECT_EQ(report.notAdded, QStringList({"line 2: empty", "line 3: " + missing + " can not be opened"}));
    EXPECT_EQ(view.allLines, QStringList({"List file line 2: empty, not added",
                                          "List file line 3: " + missing + " can not be opened, not added"}));
    EXPECT_EQ(files.paths(), QStringList({a, b}));
    EXPECT_EQ(cell(2, ORDER_COLUMN), " 2");
    EXPECT_EQ(cell(2, SIZE_COLUMN), "200");
    EXPECT_EQ(files.flashNeeded(), 300);
}

TEST_F(FileListTest, LoadingMoreThanOneHundredFilesKeepsTheFirstHundred) {
    const QString a = file("a.pcx", 144);
    const QStringList lines(102, a);
    const FileList::LoadReport report = list().load(lines, LoaderMode::ModePCX, noConverter, view);
    EXPECT_EQ(report.added, 100);
    EXPECT_EQ(report.notAdded.size(), 2);
    EXPECT_TRUE(report.notAdded[0].startsWith("line 101: "));
    EXPECT_EQ(list().flashNeeded(), 14'400);
}

TEST_F(FileListTest, SoftFontsAreSizedByTheirConvertedFile) {
    const QString good = file("good.sfp", 10);
    const QString bad = file("bad.sfp", 10);
    const auto convert = [&](const QByteArray& path) {
        if (QFile::decodeName(path) == bad) return 14;
        writeFile(dir.filePath("good.QKS"), QByteArray(77, 'q'));
        return 0;
    };
    const FileList::LoadReport report = list().load({good, bad}, LoaderMode::ModeSF, convert, view);
    EXPECT_EQ(cell(1, PATH_COLUMN), good);
    EXPECT_EQ(cell(1, SIZE_COLUMN), "77");
    // A font the converter refuses is not listed, with the converter's reason.
    EXPECT_EQ(report.notAdded, QStringList({"line 2: " + bad +
                                            " is not a soft font the converter can load: Error Soft Font is "
                                            "LANDSCAPE MODE"}));
}

// Damaged files: a header claiming 60,000 x 60,000 dots, picture data that
// ends early, a font cut after 5,000 bytes.
QByteArray hugePcx() {
    QByteArray bytes = pcxFile(400, 1);
    for (const int at : {8, 10}) {
        bytes[at] = static_cast<char>(59'999 & 0xFF);
        bytes[at + 1] = static_cast<char>(59'999 >> 8);
    }
    bytes[66] = static_cast<char>(7'500 & 0xFF);
    bytes[67] = static_cast<char>(7'500 >> 8);
    return bytes;
}

TEST_F(FileListTest, FilesThePreviewCannotReadAreRefusedWithItsReason) {
    QFile font(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"));
    ASSERT_TRUE(font.open(QIODevice::ReadOnly));
    const struct {
        const char* name;
        LoaderMode mode;
        QByteArray bytes;
        const char* reason;
    } cases[] = {
        {"huge.pcx", LoaderMode::ModePCX, hugePcx(),
         "The PCX picture is 60000 x 60000 dots; more than 20000 dots a side are refused"},
        {"short.pcx", LoaderMode::ModePCX, pcxFile(4'000, 1).left(2'000), "The PCX picture data ends early"},
        {"cut.ttf", LoaderMode::ModeTTF, font.read(5'000), "The font is cut short: its table '"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.name);
        const QString path = dir.filePath(bad.name);
        writeFile(path, bad.bytes);
        const QString previewSays = preview::makePreview(bad.mode, path).problem;
        EXPECT_TRUE(previewSays.startsWith(bad.reason)) << previewSays.toStdString();
        EXPECT_EQ(loadProblem(bad.mode, path), "cannot be loaded: " + previewSays);
        const FileList::LoadReport report = list().load({path}, bad.mode, noConverter, view);
        EXPECT_EQ(report.notAdded, QStringList("line 1: " + path + " cannot be loaded: " + previewSays));
    }
}

TEST_F(FileListTest, ASendReadsTheFilesAgainAndTellsWhatChanged) {
    const QString a = file("a.pcx", 1'108);
    const QString b = file("b.pcx", 2'000);
    list().load({a, b}, LoaderMode::ModePCX, noConverter, view);
    EXPECT_EQ(list().recheck(LoaderMode::ModePCX).resized, QStringList());

    writeFile(a, pcxFile(4'774, 2));
    const FileList::Recheck grown = list().recheck(LoaderMode::ModePCX);
    EXPECT_EQ(grown.resized, QStringList(a + ": 1,108 bytes when listed, 4,774 now"));
    EXPECT_EQ(grown.refusal, "");
    EXPECT_EQ(cell(1, SIZE_COLUMN), "4774");
    EXPECT_EQ(list().flashNeeded(), 6'774);

    writeFile(b, pcxFile(2'000, 3).left(1'000));
    EXPECT_EQ(list().recheck(LoaderMode::ModePCX).refusal,
              "File " + b + " cannot be loaded: The PCX picture data ends early");
}

TEST_F(FileListTest, EditingKeepsOrderNumbersSizesAndTheChangedMark) {
    FileList& files = list();
    files.load({file("a.ttf", 100), file("b.ttf", 200), file("c.ttf", 300), file("d.ttf", 400)},
               LoaderMode::ModeTTF, noConverter, view);
    EXPECT_FALSE(files.changedSinceSaved());
    const auto names = [&] {
        QStringList shown;
        for (int row = 1; row <= files.count(); ++row)
            shown << cell(row, ORDER_COLUMN) + QFileInfo(cell(row, PATH_COLUMN)).baseName() +
                         cell(row, SIZE_COLUMN);
        return shown.join(',');
    };
    struct Edit {
        const char* what;
        std::function<bool()> apply;
        const char* after;
    };
    const std::vector<Edit> edits = {
        {"delete a middle row", [&] { return files.removeRowAt(2); }, " 1a100, 2c300, 3d400"},
        {"move down", [&] { return files.moveRowTo(1, 3); }, " 1c300, 2d400, 3a100"},
        {"move up", [&] { return files.moveRowTo(3, 2); }, " 1c300, 2a100, 3d400"},
        {"no such row", [&] { return !files.removeRowAt(4) && !files.moveRowTo(0, 1); },
         " 1c300, 2a100, 3d400"},
    };
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.what);
        EXPECT_TRUE(edit.apply());
        EXPECT_EQ(names(), QLatin1String(edit.after));
    }
    EXPECT_EQ(files.count(), 3);
    EXPECT_EQ(files.flashNeeded(), 800);
    EXPECT_TRUE(files.changedSinceSaved());
    files.markSaved();
    EXPECT_FALSE(files.changedSinceSaved());

    // A row dragged onto another takes its place; the heading row stays put.
    std::unique_ptr<QMimeData> dragged(files.mimeData({files.index(3, PATH_COLUMN)}));
    ASSERT_TRUE(dragged);
    files.dropMimeData(dragged.get(), Qt::MoveAction, -1, -1, files.index(1, PATH_COLUMN));
    EXPECT_EQ(names(), " 1d400, 2c300, 3a100");
    EXPECT_FALSE(files.flags(files.index(0, PATH_COLUMN)).testFlag(Qt::ItemIsDragEnabled));
    EXPECT_EQ(files.mimeData({files.index(0, PATH_COLUMN)}), nullptr);
}

}  // namespace
}  // namespace velquin::testing
