// Hostile bytes through the image path: as a PNG, BMP or GIF through the
// whole conversion (with its result written as PCX and read back, which must
// give the same dots), and as a PCX file through the reader.
#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image_converter.h"
#include "pcx.h"

using namespace velquin::image;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Kept for the whole run: the readers' plugins hang off it.
    static std::unique_ptr<QGuiApplication> application = std::make_unique<QGuiApplication>(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Small limits keep each run short; the checks are the same as at full size.
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const PcxReadResult pcx = readPcx(bytes, {1024, 8 << 20});
    if (!pcx.ok() && pcx.error.isEmpty()) std::abort();

    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&buffer);
    buffer.seek(0);
    if (format != "png" && format != "bmp" && format != "gif") return 0;

    ConversionOptions options;
    options.limits = {1024, 8 << 20};
    options.widthDots = size % 2 ? 37 : 0;
    options.rotation = static_cast<int>(size % 4) * 90;
    options.dither = static_cast<Dither>(size % 3);
    const ConversionResult result = convertImage(buffer, options);
    if (!result.ok()) {
        if (result.error.isEmpty()) std::abort();
        return 0;
    }
    const PcxReadResult back = readPcx(writePcx(result.image));
    if (!back.ok() || !(toMono(back.image) == result.image)) std::abort();
    return 0;
}
