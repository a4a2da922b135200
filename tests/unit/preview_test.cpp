// The preview pane's pictures: a soft font's glyph sheet against its
// converted cells read by the tests' own decoder, a True Type font's names
// and sample, images at their size, hostile files, and the loader that
// delivers only the newest request.
#include "preview.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>

#include "../support/hostile_images.h"
#include "../support/soft_font_builder.h"
#include "pcx.h"
#include "preview_loader.h"
#include "softfont/byte_source.h"
#include "softfont/report.h"
#include "softfont/soft_font_converter.h"

using namespace velquin;
using namespace velquin::preview;

namespace {

const QString FONTS = QStringLiteral(SAMPLE_FONTS_DIR);

QByteArray readAll(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

QString write(const QTemporaryDir& folder, const QString& name, const QByteArray& bytes) {
    const QString path = folder.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

bool isBlack(const QImage& image, int x, int y) {
    return image.pixel(x, y) == qRgb(0, 0, 0);
}

// A picture with no straight pattern: odd width, lines that differ.
image::MonoImage pattern(int width, int height) {
    image::MonoImage mono(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) mono.setBlack(x, y, (x * 7 + y * 3) % 5 == 0 || x == y);
    return mono;
}

QByteArray pcxDeclaring(int width, int height) {
    QByteArray header(128, '\0');
    header[0] = 0x0A;
    header[1] = 5;
    header[2] = 1;
    header[3] = 1;
    qToLittleEndian<quint16>(quint16(width - 1), header.data() + 8);
    qToLittleEndian<quint16>(quint16(height - 1), header.data() + 10);
    header[65] = 1;
    qToLittleEndian<quint16>(quint16((width + 7) / 8), header.data() + 66);
    return header + QByteArray(64, '\xC1');
}

QByteArray bmpDeclaring(int width, int height) {
    QByteArray bmp(54, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    qToLittleEndian<quint32>(54 + 64, bmp.data() + 2);
    qToLittleEndian<quint32>(54, bmp.data() + 10);
    qToLittleEndian<quint32>(40, bmp.data() + 14);
    qToLittleEndian<qint32>(width, bmp.data() + 18);
    qToLittleEndian<qint32>(height, bmp.data() + 22);
    qToLittleEndian<quint16>(1, bmp.data() + 26);
    qToLittleEndian<quint16>(24, bmp.data() + 28);
    return bmp + QByteArray(64, '\x55');
}

}  // namespace

// Every converted character is on the sheet, each dot of its cell black
// exactly where the converted file has it set.
TEST(Preview, SoftFontSheetIsDrawnFromTheConvertedCells) {
    for (const QString& name : QDir(FONTS).entryList({QStringLiteral("*.sfp"), QStringLiteral("*.SFP")})) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray source = readAll(FONTS + QLatin1Char('/') + name);
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(source.constData()),
                                                  std::size_t(source.size()));
        morlix::softfont::ByteSource input(bytes);
        morlix::softfont::FontSummary summary;
        ASSERT_EQ(morlix::softfont::convertSoftFont(input, summary, morlix::softfont::Report({})), 0);
        const auto converted = velquin::testing::ConvertedFont::read(summary.image.file());
        ASSERT_TRUE(converted.has_value());

        const Preview preview = makePreview(LoaderMode::ModeSF, FONTS + QLatin1Char('/') + name);
        ASSERT_TRUE(preview.ok()) << preview.problem.toStdString();
        EXPECT_TRUE(preview.facts.contains(
            QStringLiteral("Cell: %1 x %2 dots").arg(converted->cellWidth).arg(converted->cellHeight)));
        EXPECT_TRUE(preview.facts.contains(QStringLiteral("Characters: %1").arg(converted->count)));
        int used = 0;
        for (int code = 0; code < 256; ++code) used += !converted->entry(code).empty();
        ASSERT_EQ(int(preview.sheetCells.size()), used);
        const int scale = preview.dotScale;
        for (const SheetCell& cell : preview.sheetCells) {
            const auto entry = converted->entry(cell.code);
            ASSERT_FALSE(entry.empty()) << cell.code;
            ASSERT_EQ(cell.cell.size(), QSize(entry.words * 16 * scale, int(converted->cellHeight) * scale));
            ASSERT_TRUE(preview.image.rect().contains(cell.cell));
            for (int row = 0; row < converted->cellHeight; ++row)
                for (int column = 0; column < entry.words * 16; ++column)
                    ASSERT_EQ(isBlack(preview.image, cell.cell.x() + column * scale + scale / 2,
                                      cell.cell.y() + row * scale + scale / 2),
                              converted->dot(cell.code, row, column))
                        << "code " << cell.code << " row " << row << " column " << column;
        }
    }
}

TEST(Preview, TrueTypeNamesAndSampleComeFromTheFile) {
    const Preview preview =
        makePreview(LoaderMode::ModeTTF, FONTS + QStringLiteral("/DejaVuSansMono-Bold.ttf"));
    ASSERT_TRUE(preview.ok()) << preview.problem.toStdString();
    EXPECT_TRUE(preview.facts.contains(QStringLiteral("Family: DejaVu Sans Mono")));
    EXPECT_TRUE(preview.facts.contains(QStringLiteral("Style: Bold")));
    ASSERT_FALSE(preview.image.isNull());
    int dark = 0;
    for (int y = 0; y < preview.image.height(); ++y)
        for (int x = 0; x < preview.image.width(); ++x) dark += qGray(preview.image.pixel(x, y)) < 128;
    EXPECT_GT(dark, 1000) << "the sample is blank";
}

TEST(Preview, ImagesAreShownDotForDot) {
    QTemporaryDir folder;
    const image::MonoImage mono = pattern(37, 19);
    QImage picture(mono.width(), mono.height(), QImage::Format_RGB32);
    for (int y = 0; y < mono.height(); ++y)
        for (int x = 0; x < mono.width(); ++x)
            picture.setPixel(x, y, mono.isBlack(x, y) ? 0xFF000000 : 0xFFFFFFFF);
    const auto encoded = [&picture](const char* format) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, format);
        return bytes;
    };

    // A BMP list entry that holds another format says which.
    const struct {
        LoaderMode mode;
        QString path;
        QString storedAs;
    } cases[] = {{LoaderMode::ModePCX, write(folder, QStringLiteral("a.pcx"), image::writePcx(mono)), {}},
                 {LoaderMode::ModeBMP, write(folder, QStringLiteral("a.bmp"), encoded("BMP")), {}},
                 {LoaderMode::ModeBMP, write(folder, QStringLiteral("b.bmp"), encoded("PNG")),
                  QStringLiteral("Stored as PNG, not BMP")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const Preview preview = makePreview(c.mode, c.path);
        ASSERT_TRUE(preview.ok()) << preview.problem.toStdString();
        const QStringList storedAs = preview.facts.filter(QStringLiteral("Stored as"));
        EXPECT_EQ(storedAs, c.storedAs.isEmpty() ? QStringList() : QStringList{c.storedAs});
        ASSERT_EQ(preview.image.size(), QSize(mono.width(), mono.height()));
        for (int y = 0; y < mono.height(); ++y)
            for (int x = 0; x < mono.width(); ++x)
                ASSERT_EQ(isBlack(preview.image, x, y), mono.isBlack(x, y));
    }
}

// Each gives a problem text and no picture; none may crash or allocate
// what the file declares.
TEST(Preview, HostileFilesSayWhyTheyCannotBeShown) {
    QTemporaryDir folder;
    const QByteArray pcx = image::writePcx(pattern(64, 64));
    const QByteArray ttf = readAll(FONTS + QStringLiteral("/DejaVuSansMono-Bold.ttf"));
    QByteArray scrambledTtf = ttf;
    for (qsizetype i = 12; i < scrambledTtf.size(); i += 7) scrambledTtf[i] = char(i * 31);
    const QByteArray softFont = readAll(FONTS + QStringLiteral("/courier10.sfp"));
    const QString missing = folder.filePath(QStringLiteral("gone.pcx"));
    PreviewLimits small;
    small.maxFontFileBytes = 1000;
    small.maxImageFileBytes = 100;

    const struct {
        const char* what;
        LoaderMode mode;
        QString path;
        PreviewLimits limits;
    } cases[] = {
        {"truncated PCX", LoaderMode::ModePCX, write(folder, "cut.pcx", pcx.left(200)), {}},
        {"PCX of 60000 x 60000",
         LoaderMode::ModePCX,
         write(folder, "huge.pcx", pcxDeclaring(60000, 60000)),
         {}},
        {"BMP of 60000 x 60000",
         LoaderMode::ModeBMP,
         write(folder, "huge.bmp", bmpDeclaring(60000, 60000)),
         {}},
        {"BMP of 8000 x 8000, over the memory limit",
         LoaderMode::ModeBMP,
         write(folder, "big.bmp", bmpDeclaring(8000, 8000)),
         {}},
        {"PCX of 8000 x 8000, over the memory limit",
         LoaderMode::ModePCX,
         write(folder, "big8000.pcx", pcxDeclaring(8000, 8000)),
         {}},
        {"BMP that is text", LoaderMode::ModeBMP, write(folder, "text.bmp", "not a picture"), {}},
        // Refused before a decoder reserves the 2 GiB the part declares.
        {"PNG whose text declares 2 GiB",
         LoaderMode::ModeBMP,
         write(folder, "declares.bmp", velquin::testing::tinyPng(0x7FFFFFFF)),
         {}},
        {"cut True Type font", LoaderMode::ModeTTF, write(folder, "cut.ttf", ttf.left(2000)), {}},
        {"scrambled True Type font", LoaderMode::ModeTTF, write(folder, "bad.ttf", scrambledTtf), {}},
        {"soft font cut in its descriptor",
         LoaderMode::ModeSF,
         write(folder, "cut.sfp", softFont.left(40)),
         {}},
        {"text as a soft font", LoaderMode::ModeSF, write(folder, "text.sfp", "hello"), {}},
        {"empty True Type font", LoaderMode::ModeTTF, write(folder, "empty.ttf", {}), {}},
        {"empty soft font", LoaderMode::ModeSF, write(folder, "empty.sfp", {}), {}},
        {"empty PCX", LoaderMode::ModePCX, write(folder, "empty.pcx", {}), {}},
        {"empty BMP", LoaderMode::ModeBMP, write(folder, "empty.bmp", {}), {}},
        {"missing PCX", LoaderMode::ModePCX, missing, {}},
        {"missing soft font", LoaderMode::ModeSF, missing, {}},
        {"folder as a font", LoaderMode::ModeTTF, folder.path(), {}},
        {"font over the size limit", LoaderMode::ModeTTF, FONTS + QStringLiteral("/DejaVuSansMono-Bold.ttf"),
         small},
        {"PCX over the size limit", LoaderMode::ModePCX, write(folder, "big.pcx", pcx), small},
    };
    for (const auto& c : cases) {
        const Preview preview = makePreview(c.mode, c.path, c.limits);
        EXPECT_FALSE(preview.problem.isEmpty()) << c.what;
        EXPECT_TRUE(preview.image.isNull()) << c.what;
        if (c.path.endsWith(QLatin1String("declares.bmp"))) {
            EXPECT_TRUE(preview.problem.contains("declares"));
        }
    }
}

TEST(Preview, LoaderDeliversTheNewestRequestOnly) {
    const QString ttf = FONTS + QStringLiteral("/DejaVuSansMono-Bold.ttf");
    PreviewLoader loader;
    QSignalSpy delivered(&loader, &PreviewLoader::previewReady);
    loader.request(LoaderMode::ModeTTF, ttf);
    loader.request(LoaderMode::ModeSF, FONTS + QStringLiteral("/courier10.sfp"));
    loader.request(LoaderMode::ModeSF, FONTS + QStringLiteral("/terminus16.SFP"));
    ASSERT_TRUE(delivered.wait(30'000));
    while (loader.busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QCoreApplication::processEvents();
    ASSERT_EQ(delivered.count(), 1);
    EXPECT_EQ(delivered.at(0).at(0).value<Preview>().heading, QStringLiteral("terminus16.SFP"));

    // A request the operator left before it finished is never shown.
    loader.request(LoaderMode::ModeTTF, ttf);
    loader.cancel();
    while (loader.busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered.count(), 1);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
