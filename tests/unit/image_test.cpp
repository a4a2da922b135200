// Images to the printer's 1-bit PCX: our writer read back by ImageMagick and
// by our reader, the reader against hostile headers and ImageMagick's own
// files, the black-and-white modes on grey, sizes, turning, SVG, PDF, alpha,
// the limits, and the velquin-image command.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <random>
#include <thread>

#include "../support/hostile_images.h"
#include "image_conversion.h"
#include "image_converter.h"
#include "pcx.h"

using namespace velquin::image;
using velquin::testing::tinyPng;

namespace {

QByteArray run(const QString& program, const QStringList& arguments, int* exitCode = nullptr,
               QByteArray* errors = nullptr) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60'000)) ADD_FAILURE() << program.toStdString() << " did not finish";
    if (exitCode) *exitCode = process.exitCode();
    if (errors) *errors = process.readAllStandardError();
    return process.readAllStandardOutput();
}

// Another program's reading of a PCX file: the last width x height bytes of
// its grey output, one byte per pixel.
MonoImage readByOtherProgram(const QString& shellCommand, const QString& path, int width, int height) {
    int status = -1;
    const QByteArray out =
        run(QStringLiteral("sh"), {QStringLiteral("-c"), shellCommand, QStringLiteral("sh"), path}, &status);
    const qsizetype pixels = qsizetype(width) * height;
    EXPECT_EQ(status, 0) << shellCommand.toStdString();
    EXPECT_GE(out.size(), pixels) << shellCommand.toStdString();
    MonoImage mono(width, height);
    if (status != 0 || out.size() < pixels) return mono;
    const char* grey = out.constData() + (out.size() - pixels);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            mono.setBlack(x, y, static_cast<std::uint8_t>(grey[y * width + x]) < 128);
    return mono;
}

MonoImage inverted(MonoImage image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setBlack(x, y, !image.isBlack(x, y));
    return image;
}

QImage flatGrey(int width, int height, int grey) {
    QImage image(width, height, QImage::Format_Grayscale8);
    image.fill(qRgb(grey, grey, grey));
    return image;
}

QByteArray encoded(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
    return bytes;
}

// Qt writes no GIF: ImageMagick makes one from a PNG.
QByteArray byImageMagick(const QByteArray& png, const char* format) {
    QProcess process;
    process.start(QStringLiteral("convert"),
                  {QStringLiteral("png:-"), QLatin1String(format) + QLatin1String(":-")});
    process.write(png);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(30'000));
    return process.readAllStandardOutput();
}

ConversionResult convertBytes(QByteArray bytes, const ConversionOptions& options = {}) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return convertImage(buffer, options);
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()) << name.toStdString();
    return path;
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray svgOf(const QByteArray& attributes, const QByteArray& body) {
    return "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' " +
           attributes + ">" + body + "</svg>";
}

double blackShare(const MonoImage& image) {
    return double(image.blackCount()) / (double(image.width()) * image.height());
}

}  // namespace

// Netpbm and ImageMagick read our files back. Patterns over widths around the 8- and 16-dot byte and word
// edges; solid lines give runs longer than 63 bytes and runs that would cross line ends.
TEST(PcxWriter, ReadsBackPixelForPixelByImageMagickAndOurReader) {
    enum class Pattern { Random, Solid, Stripes };
    const QTemporaryDir dir;
    std::mt19937 random(7);
    for (const int width : {1, 7, 8, 9, 15, 16, 17, 33, 100, 1000, 1601})
        for (const Pattern pattern : {Pattern::Random, Pattern::Solid, Pattern::Stripes}) {
            SCOPED_TRACE(testing::Message() << "width " << width << " pattern " << int(pattern));
            const int height = 5;
            MonoImage image(width, height);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    image.setBlack(x, y,
                                   pattern == Pattern::Random  ? (random() & 1) != 0
                                   : pattern == Pattern::Solid ? y != 2
                                                               : (x / 3 + y) % 2 == 0);
            const QByteArray pcx = writePcx(image, 300);
            EXPECT_EQ(pcx[1], 5);
            EXPECT_EQ(pcx[3], 1);
            EXPECT_EQ(pcx[65], 1);
            EXPECT_EQ(image.bytesPerLine() % 2, 0);

            const PcxReadResult ours = readPcx(pcx);
            ASSERT_TRUE(ours.ok()) << ours.error.toStdString();
            EXPECT_TRUE(toMono(ours.image) == image);

            const QString path = dir.filePath(QStringLiteral("w%1-%2.pcx").arg(width).arg(int(pattern)));
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(pcx);
            file.close();
            EXPECT_TRUE(readByOtherProgram(QStringLiteral("pcxtoppm \"$1\" | ppmtopgm"), path, width,
                                           height) == image);
            // ImageMagick 6 reads a set bit of a 1-bit PCX as black whatever
            // the palette says; apart from that it must agree on every dot.
            EXPECT_TRUE(readByOtherProgram(QStringLiteral("convert \"$1\" -depth 8 gray:-"), path, width,
                                           height) == inverted(image));
        }
}

// A picture in `colours` colours (black and white for 2): rows 1, 2, 5, 6,
// ... of one colour, so that runs can go on across line ends; the others
// step through the colours, so that even a narrow picture uses many.
QByteArray ppmPicture(int width, int height, int colours) {
    QByteArray ppm = QStringLiteral("P6 %1 %2 255\n").arg(width).arg(height).toLatin1();
    int step = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int index = y % 4 == 1 || y % 4 == 2 ? 0 : step++ * 7 % colours;
            const QRgb colour =
                colours == 2 ? (index == 0 ? qRgb(0, 0, 0) : qRgb(255, 255, 255))
                             : qRgb(index * 97 % 256, (index * 57 + 30) % 256, (index * 151 + 60) % 256);
            ppm.append(char(qRed(colour))).append(char(qGreen(colour))).append(char(qBlue(colour)));
        }
    return ppm;
}

// An unencoded PCX file with its picture data run-length encoded as one
// stream, so that runs carry on across the ends of lines and planes.
QByteArray encodedAcrossLines(const QByteArray& raw) {
    auto word = [&raw](int at) { return std::uint8_t(raw[at]) | std::uint8_t(raw[at + 1]) << 8; };
    const qsizetype dataSize = qsizetype(word(66)) * std::uint8_t(raw[65]) * (word(10) - word(6) + 1);
    QByteArray out = raw.left(128);
    out[2] = 1;
    const QByteArray data = raw.mid(128, dataSize);
    for (qsizetype at = 0; at < data.size();) {
        qsizetype run = 1;
        while (at + run < data.size() && run < 63 && data[at + run] == data[at]) ++run;
        if (run > 1 || std::uint8_t(data[at]) >= 0xC0) out.append(char(0xC0 | run));
        out.append(data[at]);
        at += run;
    }
    return out + raw.mid(128 + dataSize);  // the 256-colour palette, if any
}

// Other writers' files read as ImageMagick reads them: its own 1-bit, 8-bit
// palette and 24-bit files (each also with runs across line ends), and
// Netpbm's 2- and 4-bit packed and 4-plane ones, which ImageMagick does not write.
TEST(PcxReader, ReadsOtherWritersFilesAsImageMagickDoes) {
    struct Kind {
        const char* name;
        int colours;
        const char* writer;  // $1 the picture, $2 the PCX file
        int bitsPerPixel;
        int planes;
    };
    const Kind kinds[] = {
        {"1-bit", 2, "convert \"$1\" gif:- | convert gif:- -compress none \"$2\"", 1, 1},
        {"8-bit palette", 40, "convert \"$1\" -type Palette -compress none \"$2\"", 8, 1},
        {"24-bit", 300, "convert \"$1\" -type TrueColor -compress none \"$2\"", 8, 3},
        {"2-bit packed", 4, "ppmtopcx -packed \"$1\" >\"$2\" 2>/dev/null", 2, 1},
        {"4-bit packed", 12, "ppmtopcx -packed \"$1\" >\"$2\" 2>/dev/null", 4, 1},
        {"4 planes", 12, "ppmtopcx \"$1\" >\"$2\" 2>/dev/null", 1, 4},
    };
    const QTemporaryDir dir;
    const QString ppm = dir.filePath(QStringLiteral("picture.ppm"));
    for (const Kind& kind : kinds)
        for (const int width : {1, 7, 9, 33}) {
            const int height = 20;
            SCOPED_TRACE(testing::Message() << kind.name << ", width " << width);
            QFile picture(ppm);
            ASSERT_TRUE(picture.open(QIODevice::WriteOnly));
            picture.write(ppmPicture(width, height, kind.colours));
            picture.close();
            const QString written = dir.filePath(QStringLiteral("written.pcx"));
            int status = -1;
            run(QStringLiteral("sh"),
                {QStringLiteral("-c"), QLatin1String(kind.writer), QStringLiteral("sh"), ppm, written},
                &status);
            ASSERT_EQ(status, 0);
            QFile file(written);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            std::vector<QByteArray> variants{file.readAll()};
            ASSERT_GE(variants[0].size(), 128);
            ASSERT_EQ(variants[0][3], kind.bitsPerPixel);
            ASSERT_EQ(variants[0][65], kind.planes);
            if (variants[0][2] == 0) variants.push_back(encodedAcrossLines(variants[0]));

            for (const QByteArray& bytes : variants) {
                SCOPED_TRACE(bytes[2] == 0 ? "unencoded" : "encoded");
                const QString path = dir.filePath(QStringLiteral("variant.pcx"));
                QFile variant(path);
                ASSERT_TRUE(variant.open(QIODevice::WriteOnly));
                variant.write(bytes);
                variant.close();
                const QByteArray rgb =
                    run(QStringLiteral("convert"),
                        {path, QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgb:-")});
                ASSERT_EQ(rgb.size(), width * height * 3);
                const PcxReadResult ours = readPcx(bytes);
                ASSERT_TRUE(ours.ok()) << ours.error.toStdString();
                ASSERT_EQ(ours.image.size(), QSize(width, height));
                // ImageMagick 6 reads a set bit of a 1-bit PCX as black whatever
                // the palette says; we read it as white, as our writer means it.
                const int flip = kind.bitsPerPixel == 1 && kind.planes == 1 ? 255 : 0;
                int mismatches = 0;
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x) {
                        const auto* p =
                            reinterpret_cast<const std::uint8_t*>(rgb.constData()) + (y * width + x) * 3;
                        const QRgb theirs = qRgb(p[0] ^ flip, p[1] ^ flip, p[2] ^ flip);
                        if (ours.image.pixel(x, y) != theirs && mismatches++ == 0)
                            ADD_FAILURE() << "first differing dot " << x << "," << y;
                    }
                EXPECT_EQ(mismatches, 0);
            }
        }
}

TEST(PcxReader, RefusesWhatItCannotReadWithAReason) {
    const QByteArray good = writePcx(MonoImage(20, 4));
    const auto patched = [&](int at, std::initializer_list<std::uint8_t> bytes) {
        QByteArray copy = good;
        for (const std::uint8_t byte : bytes) copy[at++] = static_cast<char>(byte);
        return copy;
    };
    const std::pair<const char*, QByteArray> cases[] = {
        {"short", good.left(100)},
        {"not pcx", patched(0, {0x0B})},
        {"unknown version", patched(1, {9})},
        {"unknown encoding", patched(2, {7})},
        {"3 bits", patched(3, {3})},
        {"huge width", patched(8, {0xFF, 0xFF})},
        {"huge height", patched(10, {0xFF, 0xFF})},
        {"xmax below xmin", patched(4, {50, 0})},
        {"line too short", patched(66, {1, 0})},
        {"line huge", patched(66, {0xFF, 0xFF, 0xFF})},  // 65535 bytes x 4 lines: within bounds, data ends
        {"data ends early", good.left(good.size() - 1)},
        {"run count without value", good.left(128) + QByteArray(1, char(0xC5))},
    };
    for (const auto& [name, bytes] : cases) {
        const PcxReadResult result = readPcx(bytes, {2000, 16 << 20});
        EXPECT_FALSE(result.ok()) << name;
        EXPECT_FALSE(result.error.isEmpty()) << name;
    }
}

// The share of black dots follows the grey: each mode on flat greys.
TEST(Converter, DitherModesFollowTheGreyLevel) {
    for (const Dither dither : {Dither::Diffusion, Dither::Ordered})
        for (const int grey : {0, 16, 64, 128, 191, 240, 255}) {
            const double share = blackShare(ditherGrey(flatGrey(96, 96, grey), dither, 128));
            EXPECT_NEAR(share, (255 - grey) / 255.0, 0.03) << int(dither) << " grey " << grey;
        }
    // Threshold: all black below the level, all white at it and above.
    for (const auto& [grey, level, black] :
         {std::tuple{99, 100, 1.0}, {100, 100, 0.0}, {200, 201, 1.0}, {0, 0, 0.0}, {255, 128, 0.0}})
        EXPECT_EQ(blackShare(ditherGrey(flatGrey(9, 3, grey), Dither::Threshold, level)), black) << grey;
}

// A 40 x 20 picture whose left half is black, converted with a threshold.
TEST(Converter, SizeRotationAndInvert) {
    QImage source(40, 20, QImage::Format_RGB32);
    source.fill(Qt::white);
    QPainter(&source).fillRect(0, 0, 20, 20, Qt::black);
    const QByteArray png = encoded(source, "PNG");
    struct Case {
        int widthDots, heightDots, rotation;
        bool invert;
        int width, height;
        QPoint black, white;
    };
    const Case cases[] = {
        {0, 0, 0, false, 40, 20, {0, 0}, {39, 19}},
        {20, 0, 0, false, 20, 10, {9, 9}, {10, 0}},
        {0, 5, 0, false, 10, 5, {4, 4}, {5, 0}},
        {30, 30, 0, false, 30, 30, {14, 29}, {15, 0}},  // both sides: aspect not kept
        {0, 0, 90, false, 20, 40, {0, 19}, {0, 20}},    // clockwise: the left half goes on top
        {0, 0, 180, false, 40, 20, {39, 0}, {0, 0}},
        {0, 0, 270, false, 20, 40, {0, 39}, {0, 0}},
        {10, 0, 90, false, 10, 20, {9, 9}, {0, 10}},  // sizes are those after turning
        {0, 0, 0, true, 40, 20, {39, 0}, {0, 0}},
    };
    for (const Case& c : cases) {
        ConversionOptions options;
        options.widthDots = c.widthDots;
        options.heightDots = c.heightDots;
        options.rotation = c.rotation;
        options.invert = c.invert;
        options.dither = Dither::Threshold;
        const ConversionResult result = convertBytes(png, options);
        SCOPED_TRACE(testing::Message()
                     << c.widthDots << "x" << c.heightDots << " r" << c.rotation << " i" << c.invert);
        ASSERT_TRUE(result.ok()) << result.error.toStdString();
        EXPECT_EQ(result.image.width(), c.width);
        EXPECT_EQ(result.image.height(), c.height);
        EXPECT_TRUE(result.image.isBlack(c.black.x(), c.black.y()));
        EXPECT_FALSE(result.image.isBlack(c.white.x(), c.white.y()));
        EXPECT_NEAR(blackShare(result.image), 0.5, 0.01);
    }
}

// Every input kind the plugins give, each a black square filling the middle
// quarter of its area. Vector logos are drawn at the dots asked for;
// transparent parts print as paper.
TEST(Converter, SvgPdfAndAlphaSources) {
    const QByteArray svg =
        "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='40'>"
        "<rect x='10' y='10' width='20' height='20' fill='black'/></svg>";

    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QSizeF(40, 40), QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(72);
        QPainter painter(&writer);
        painter.fillRect(QRectF(10, 10, 20, 20), Qt::black);
    }

    QImage alpha(40, 40, QImage::Format_ARGB32);
    alpha.fill(Qt::transparent);  // transparent black: white once flattened
    QPainter(&alpha).fillRect(10, 10, 20, 20, Qt::black);

    QImage opaque(40, 40, QImage::Format_RGB32);
    opaque.fill(Qt::white);
    QPainter(&opaque).fillRect(10, 10, 20, 20, Qt::black);

    const std::pair<const char*, QByteArray> sources[] = {
        {"svg", svg},
        {"pdf", pdf},
        {"png with alpha", encoded(alpha, "PNG")},
        {"tiff with alpha", encoded(alpha, "TIFF")},
        {"webp with alpha", encoded(alpha, "WEBP", 100)},
        {"gif", byImageMagick(encoded(opaque, "PNG"), "gif")},
        {"bmp", encoded(opaque, "BMP")},
        {"jpeg", encoded(opaque, "JPEG", 100)}};
    for (const auto& [name, bytes] : sources) {
        ConversionOptions options;
        options.widthDots = 400;
        options.dither = Dither::Threshold;
        const ConversionResult result = convertBytes(bytes, options);
        ASSERT_TRUE(result.ok()) << name << ": " << result.error.toStdString();
        EXPECT_EQ(result.image.width(), 400) << name;
        EXPECT_EQ(result.image.height(), 400) << name;
        EXPECT_NEAR(blackShare(result.image), 0.25, 0.01) << name;
        EXPECT_TRUE(result.image.isBlack(200, 200)) << name;
        EXPECT_FALSE(result.image.isBlack(50, 50)) << name;
        // Vectors are drawn sharp at the dots, not blown up from 40 pixels.
        if (name == std::string_view("svg") || name == std::string_view("pdf")) {
            EXPECT_TRUE(result.image.isBlack(100, 100)) << name;
            EXPECT_FALSE(result.image.isBlack(99, 100)) << name;
        }
    }
}

// Sizes past the limits are refused from the header, before decoding; broken
// files give a reason.
TEST(Converter, RefusesOversizedAndCorruptImages) {
    const auto bmpHeader = [](int width, int height) {
        QByteArray bmp(54, '\0');
        const auto put = [&](int at, std::uint32_t value) {
            for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>(value >> (8 * i));
        };
        bmp[0] = 'B';
        bmp[1] = 'M';
        put(2, 54 + 16);
        put(10, 54);
        put(14, 40);
        put(18, static_cast<std::uint32_t>(width));
        put(22, static_cast<std::uint32_t>(height));
        bmp[26] = 1;
        bmp[28] = 24;
        return bmp + QByteArray(16, '\0');
    };
    const QByteArray png = encoded(flatGrey(64, 64, 30), "PNG");
    const std::tuple<const char*, QByteArray, const char*> cases[] = {
        {"wider than the limit", bmpHeader(30000, 10), "more than 20000 dots a side"},
        {"too many bytes", bmpHeader(15000, 15000), "MiB decoded"},
        {"truncated png", png.left(png.size() / 2), "can not be decoded"},
        {"not an image", QByteArray("hello, printer"), "not an image"},
    };
    for (const auto& [name, bytes, reason] : cases) {
        const ConversionResult result = convertBytes(bytes);
        EXPECT_FALSE(result.ok()) << name;
        EXPECT_TRUE(result.error.contains(QLatin1String(reason)))
            << name << ": " << result.error.toStdString();
    }
    ConversionOptions tooWide;
    tooWide.widthDots = 20001;
    EXPECT_FALSE(convertBytes(png, tooWide).ok());
}

TEST(ImageConversion, PcxGoesBesideTheImageWithItsLastExtensionReplaced) {
    for (const auto& [image, pcx] : {std::pair{"/a/logo.png", "/a/logo.pcx"},
                                     {"/a/logo.v2.SVG", "/a/logo.v2.pcx"},
                                     {"/a.b/logo", "/a.b/logo.pcx"},
                                     {"/a/.hidden", "/a/.hidden.pcx"}})
        EXPECT_EQ(pcxPathBeside(QLatin1String(image)), QLatin1String(pcx)) << image;
}

TEST(ImageCommand, ExitStatusAndOutput) {
    const QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("in.png"));
    QImage source(50, 20, QImage::Format_RGB32);
    source.fill(Qt::black);
    ASSERT_TRUE(source.save(input));
    const QString output = dir.filePath(QStringLiteral("out.pcx"));
    const QString missing = dir.filePath(QStringLiteral("missing.png"));
    const QString program = QStringLiteral(VELQUIN_IMAGE_PROGRAM);
    const std::tuple<QStringList, int, QSize> cases[] = {
        {{input, output, "--dpi", "203", "--width-mm", "25.4"}, 0, {203, 81}},
        {{input, output, "--height-dots", "10", "--dither", "threshold:200", "--rotate", "90"}, 0, {4, 10}},
        {{input, output, "--width-in", "1", "--dpi", "300", "--dither", "ordered", "--invert"},
         0,
         {300, 120}},
        {{"--help"}, 0, {}},
        {{"--version"}, 0, {}},
        {{missing, output}, 1, {}},
        {{input, dir.filePath("no/such/folder/out.pcx")}, 1, {}},
        {{input}, 2, {}},
        {{input, output, "--width-mm", "20"}, 2, {}},  // a length needs a resolution
        {{input, output, "--rotate", "45"}, 2, {}},
        {{input, output, "--dither", "threshold:300"}, 2, {}},
        {{input, output, "--width-dots", "10", "--width-mm", "5", "--dpi", "203"}, 2, {}},
        {{input, output, "--sideways"}, 2, {}},
    };
    for (const auto& [arguments, expected, size] : cases) {
        QFile::remove(output);
        int status = -1;
        QByteArray errors;
        const QByteArray printed = run(program, arguments, &status, &errors);
        EXPECT_EQ(status, expected) << arguments.join(' ').toStdString() << ": " << errors.toStdString();
        EXPECT_EQ(errors.isEmpty(), expected == 0) << arguments.join(' ').toStdString();
        if (size.isValid()) {
            QFile file(output);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const PcxReadResult pcx = readPcx(file.readAll());
            ASSERT_TRUE(pcx.ok());
            EXPECT_EQ(pcx.image.size(), size) << arguments.join(' ').toStdString();
        } else if (expected == 0) {
            EXPECT_FALSE(printed.isEmpty());
        }
    }
}

// An SVG draws what the file holds and nothing else: pictures named by path
// (a plain file, a FIFO that would block) are left out with a warning, a
// picture inside the file is drawn; a length is honoured at the resolution
// given; a drawing past its time budget is refused.
TEST(Converter, SvgReadsOnlyItselfHonoursLengthsAndIsBounded) {
    const QTemporaryDir dir;
    const QString black = writeFile(dir, QStringLiteral("black.png"), encoded(flatGrey(8, 8, 0), "PNG"));
    const QString fifo = dir.filePath(QStringLiteral("fifo.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QByteArray inside = "data:image/png;base64," + encoded(flatGrey(8, 8, 0), "PNG").toBase64();
    const auto picture = [](const QByteArray& target) {
        return svgOf("width='40' height='40'",
                     "<image x='0' y='0' width='40' height='40' xlink:href='" + target + "'/>");
    };
    QByteArray heavy;
    for (int i = 0; i < 300; ++i) heavy += "<rect width='4000' height='4000' fill='black' opacity='0.01'/>";
    struct Case {
        const char* name;
        QByteArray svg;
        int dotsPerInch;
        std::chrono::milliseconds budget;
        QSize size;  // invalid: refused
        double black;
        bool warned;
    };
    const std::chrono::milliseconds ample{30'000};
    const Case cases[] = {
        {"picture by absolute path", picture(QFile::encodeName(black)), 203, ample, {40, 40}, 0.0, true},
        {"picture by file address",
         picture("file://" + QFile::encodeName(black)),
         203,
         ample,
         {40, 40},
         0.0,
         true},
        {"picture from a FIFO", picture(QFile::encodeName(fifo)), 203, ample, {40, 40}, 0.0, true},
        {"picture inside the file", picture(inside), 203, ample, {40, 40}, 1.0, false},
        {"50 mm at 203 dpi", svgOf("width='50mm' height='25mm'", ""), 203, ample, {400, 200}, 0.0, false},
        {"50 mm at 300 dpi", svgOf("width='50mm' height='25mm'", ""), 300, ample, {591, 295}, 0.0, false},
        {"2 in wide by its view box",
         svgOf("width='2in' viewBox='0 0 10 5'", ""),
         300,
         ample,
         {600, 300},
         0.0,
         false},
        {"pixels stay dots", svgOf("width='50' height='25'", ""), 300, ample, {50, 25}, 0.0, false},
        {"past its time budget",
         svgOf("width='4000' height='4000'", heavy),
         203,
         std::chrono::milliseconds(1),
         {},
         0.0,
         false},
    };
    for (const Case& c : cases) {
        ConversionOptions options;
        options.dotsPerInch = c.dotsPerInch;
        options.dither = Dither::Threshold;
        options.limits.maxDrawingTime = c.budget;
        const ConversionResult result = convertBytes(c.svg, options);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(result.warnings.isEmpty(), !c.warned) << result.warnings.join(' ').toStdString();
        if (!c.size.isValid()) {
            EXPECT_TRUE(result.error.contains(QLatin1String("too costly"))) << result.error.toStdString();
            continue;
        }
        ASSERT_TRUE(result.ok()) << result.error.toStdString();
        EXPECT_EQ(QSize(result.image.width(), result.image.height()), c.size);
        EXPECT_NEAR(blackShare(result.image), c.black, 0.01);
    }
}

// Without --dither the picture chooses: text and logos keep their edges by
// a threshold, a photograph keeps its greys by diffusion.
TEST(Converter, AutoDitherTellsLineArtFromPhotographs) {
    QImage text(300, 80, QImage::Format_RGB32);
    text.fill(Qt::white);
    {
        QPainter painter(&text);
        painter.setRenderHint(QPainter::TextAntialiasing);
        QFont font = painter.font();
        font.setPixelSize(11);
        painter.setFont(font);
        painter.drawText(text.rect(), Qt::TextWordWrap,
                         QStringLiteral("Small print: terms apply, see inside"));
        painter.setPen(QPen(Qt::red, 3));
        painter.drawEllipse(200, 10, 60, 60);
    }
    QImage photo(200, 150, QImage::Format_RGB32);
    std::mt19937 noise(7);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const int grey = std::clamp(x + y / 2 + int(noise() % 40) - 20, 0, 255);
            photo.setPixel(x, y, qRgb(grey, grey, grey));
        }
    const std::tuple<const char*, QByteArray, Dither> cases[] = {
        {"small print and a logo", encoded(text, "PNG"), Dither::Threshold},
        {"the same as JPEG", encoded(text, "JPEG", 90), Dither::Threshold},
        {"a logo drawing", svgOf("width='60' height='30'", "<circle cx='15' cy='15' r='12'/>"),
         Dither::Threshold},
        {"a photograph", encoded(photo, "JPEG", 90), Dither::Diffusion},
    };
    for (const auto& [name, bytes, expected] : cases) {
        const ConversionResult result = convertBytes(bytes);
        ASSERT_TRUE(result.ok()) << name << ": " << result.error.toStdString();
        EXPECT_EQ(result.ditherUsed, expected) << name;
    }
}

// A PDF's page by number, and its white margins cut.
TEST(Converter, PdfPageAndTrim) {
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QSizeF(200, 100), QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(72);
        QPainter painter(&writer);
        painter.fillRect(QRectF(150, 10, 20, 20), Qt::black);  // page 1: a small square near a corner
        writer.newPage();
        painter.fillRect(QRectF(0, 0, 200, 100), Qt::black);  // page 2: all black
    }
    struct Case {
        int page;
        bool trim;
        int widthDots;
        QSize size;  // invalid: refused
        double black;
    };
    const Case cases[] = {
        {1, false, 400, {400, 200}, 0.02},
        {2, false, 400, {400, 200}, 1.0},
        {1, true, 100, {100, 100}, 1.0},
        {3, false, 400, {}, 0},
    };
    for (const Case& c : cases) {
        ConversionOptions options;
        options.page = c.page;
        options.trim = c.trim;
        options.widthDots = c.widthDots;
        options.dither = Dither::Threshold;
        const ConversionResult result = convertBytes(pdf, options);
        SCOPED_TRACE(testing::Message() << "page " << c.page << " trim " << c.trim);
        if (!c.size.isValid()) {
            EXPECT_TRUE(result.error.contains(QLatin1String("no page 3"))) << result.error.toStdString();
            continue;
        }
        ASSERT_TRUE(result.ok()) << result.error.toStdString();
        EXPECT_NEAR(result.image.width(), c.size.width(), 1);
        EXPECT_NEAR(result.image.height(), c.size.height(), 1);
        EXPECT_NEAR(blackShare(result.image), c.black, 0.03);
    }
}

// The largest allowed result from a tiny file, and a file whose part
// declares 2 GiB, cost what the program promises (512 MiB decoded), measured
// on the real program.
TEST(ImageCommand, PeakMemoryStaysWithinThePromise) {
    const QTemporaryDir dir;
    const std::tuple<const char*, QByteArray, QStringList, int, qint64> cases[] = {
        {"1 x 1 to 20000 x 20000",
         tinyPng(),
         {"--width-dots", "20000", "--height-dots", "20000"},
         0,
         512 << 10},
        {"a part declaring 2 GiB", tinyPng(0x7FFFFFFF), {}, 1, 128 << 10},
    };
    for (const auto& [name, bytes, options, status, maxKib] : cases) {
        const QString input = writeFile(dir, QStringLiteral("in.png"), bytes);
        const QString peak = dir.filePath(QStringLiteral("peak"));
        int exitCode = -1;
        QByteArray errors;
        run(QStringLiteral("/usr/bin/time"),
            QStringList{"-f", "%M", "-o", peak, QStringLiteral(VELQUIN_IMAGE_PROGRAM), input,
                        dir.filePath(QStringLiteral("out.pcx"))} +
                options,
            &exitCode, &errors);
        EXPECT_EQ(exitCode, status) << name << ": " << errors.toStdString();
        const qint64 kib = contentOf(peak).trimmed().split('\n').last().toLongLong();
        EXPECT_GT(kib, 0) << name;
        EXPECT_LT(kib, maxKib) << name;
    }
}

// The PCX goes where it may, whole or not at all: never over the input,
// never over anything but a regular file, never under a name that is not
// .pcx unless forced; "-" is standard output.
TEST(ImageCommand, OutputIsWrittenWholeOrNotAtAll) {
    const QTemporaryDir dir;
    const QByteArray png = encoded(flatGrey(50, 20, 0), "PNG");
    const QString input = writeFile(dir, QStringLiteral("in.png"), png);
    const QString sameFile = dir.filePath(QStringLiteral("same.pcx"));
    ASSERT_TRUE(QFile::link(input, sameFile));
    const QString folder = dir.filePath(QStringLiteral("folder.pcx"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString program = QStringLiteral(VELQUIN_IMAGE_PROGRAM);
    struct Case {
        QStringList arguments;
        QString standardOutput;  // a file standard output goes to; empty: a pipe
        int status;
        const char* says;  // on standard error
        QString written;   // a file that must hold the PCX afterwards
    };
    const Case cases[] = {
        {{input, sameFile}, {}, 1, "is the input", {}},
        {{input, input, "--force"}, {}, 1, "is the input", {}},
        {{input, "/dev/null", "--force"}, {}, 1, "not a regular file", {}},
        {{input, folder}, {}, 1, "not a regular file", {}},
        {{input, dir.filePath("out.png")}, {}, 2, "does not end in .pcx", {}},
        {{input, dir.filePath("out.png"), "--force"}, {}, 0, "", dir.filePath("out.png")},
        {{input, dir.filePath("OUT.PCX")}, {}, 0, "", dir.filePath("OUT.PCX")},
        {{input, "-"}, dir.filePath("stdout.pcx"), 0, "-: 50 x 20 dots", dir.filePath("stdout.pcx")},
        {{input, "-"}, "/dev/full", 1, "No space left on device", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess process;
        if (!c.standardOutput.isEmpty()) process.setStandardOutputFile(c.standardOutput);
        process.start(program, c.arguments);
        ASSERT_TRUE(process.waitForFinished(60'000));
        const QByteArray errors = process.readAllStandardError();
        EXPECT_EQ(process.exitCode(), c.status) << errors.toStdString();
        EXPECT_TRUE(errors.contains(c.says)) << errors.toStdString();
        if (!c.written.isEmpty()) {
            EXPECT_TRUE(readPcx(contentOf(c.written)).ok());
        }
    }
    EXPECT_EQ(contentOf(input), png);
    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    EXPECT_TRUE(S_ISCHR(null.st_mode));
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

// On a full disk (a small private tmpfs) the old PCX stays as it was and the
// reason is given.
TEST(ImageCommand, AFullDiskKeepsTheOldFile) {
    const QTemporaryDir dir;
    const QString input = writeFile(dir, QStringLiteral("in.png"), encoded(flatGrey(1500, 1500, 128), "PNG"));
    const QString disk = dir.filePath(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkdir(disk));
    // A mount namespace of its own: the mount goes when the shell ends.
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=64k velquin-test \"$1\" || exit 77\n"
        "printf old > \"$1/out.pcx\"\n"
        "\"$2\" \"$3\" \"$1/out.pcx\" --dither diffusion; status=$?\n"
        "echo \"status $status content $(cat \"$1/out.pcx\") files $(ls \"$1\" | wc -l)\"");
    int status = -1;
    QByteArray errors;
    const QByteArray printed =
        run(QStringLiteral("unshare"),
            {"--mount", "sh", "-c", script, "sh", disk, QStringLiteral(VELQUIN_IMAGE_PROGRAM), input},
            &status, &errors);
    if (status != 0) GTEST_SKIP() << "no private tmpfs here: " << errors.toStdString();
    EXPECT_EQ(printed.trimmed(), "status 1 content old files 1");
    EXPECT_TRUE(errors.contains("No space left on device")) << errors.toStdString();
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
