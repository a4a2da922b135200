#include <algorithm>
#include <array>
#include <vector>

#include "pcx.h"

namespace velquin::image {

namespace {

constexpr int HEADER_SIZE = 128;

int word(const QByteArray& bytes, int at) {
    return static_cast<std::uint8_t>(bytes[at]) | (static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

PcxReadResult failure(const QString& why) {
    PcxReadResult result;
    result.error = why;
    return result;
}

// The colours of a palette index in the header's 16-entry palette.
QRgb headerColour(const QByteArray& bytes, int index) {
    const int at = 16 + 3 * index;
    return qRgb(static_cast<std::uint8_t>(bytes[at]), static_cast<std::uint8_t>(bytes[at + 1]),
                static_cast<std::uint8_t>(bytes[at + 2]));
}

}  // namespace

PcxReadResult readPcx(const QByteArray& bytes, const PcxReadLimits& limits) {
    if (bytes.size() < HEADER_SIZE) return failure(QStringLiteral("The file is too short for a PCX header"));
    if (static_cast<std::uint8_t>(bytes[0]) != 0x0A)
        return failure(QStringLiteral("The file is not a PCX file"));
    const int version = static_cast<std::uint8_t>(bytes[1]);
    const int encoding = static_cast<std::uint8_t>(bytes[2]);
    const int bitsPerPixel = static_cast<std::uint8_t>(bytes[3]);
    const int planes = static_cast<std::uint8_t>(bytes[65]);
    const int bytesPerLine = word(bytes, 66);
    if (version != 0 && version != 2 && version != 3 && version != 4 && version != 5)
        return failure(QStringLiteral("PCX version %1 is not known").arg(version));
    if (encoding > 1) return failure(QStringLiteral("PCX encoding %1 is not known").arg(encoding));

    const bool planar1 = bitsPerPixel == 1 && planes >= 1 && planes <= 4;
    const bool packed = (bitsPerPixel == 2 || bitsPerPixel == 4 || bitsPerPixel == 8) && planes == 1;
    const bool rgb = bitsPerPixel == 8 && (planes == 3 || planes == 4);
    if (!planar1 && !packed && !rgb)
        return failure(QStringLiteral("PCX files of %1 bits per pixel in %2 planes can not be read")
                           .arg(bitsPerPixel)
                           .arg(planes));

    const int xMin = word(bytes, 4), yMin = word(bytes, 6), xMax = word(bytes, 8), yMax = word(bytes, 10);
    if (xMax < xMin || yMax < yMin) return failure(QStringLiteral("The PCX header gives an empty picture"));
    const int width = xMax - xMin + 1;
    const int height = yMax - yMin + 1;
    if (width > limits.maxSide || height > limits.maxSide)
        return failure(QStringLiteral("The PCX picture is %1 x %2 dots; more than %3 dots a side are refused")
                           .arg(width)
                           .arg(height)
                           .arg(limits.maxSide));
    const qint64 minLine = (qint64(width) * bitsPerPixel + 7) / 8;
    if (bytesPerLine < minLine)
        return failure(QStringLiteral("The PCX header's %1 bytes per line can not hold %2 dots")
                           .arg(bytesPerLine)
                           .arg(width));
    const qint64 scanSize = qint64(bytesPerLine) * planes;
    const qint64 dataSize = scanSize * height;
    if (dataSize > limits.maxDecodedBytes || qint64(width) * height * 4 > limits.maxDecodedBytes)
        return failure(QStringLiteral("The PCX picture would take more than %1 MiB decoded")
                           .arg(limits.maxDecodedBytes / (1024 * 1024)));

    // Decode the whole picture as one stream: some writers let a run carry
    // on into the next line.
    std::vector<std::uint8_t> data(static_cast<std::size_t>(dataSize));
    const auto* in = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    qint64 at = HEADER_SIZE;
    const qint64 end = bytes.size();
    std::size_t filled = 0;
    if (encoding == 0) {
        if (end - at < dataSize) return failure(QStringLiteral("The PCX picture data ends early"));
        std::copy(in + at, in + at + dataSize, data.begin());
        filled = data.size();
        at += dataSize;
    } else {
        while (filled < data.size() && at < end) {
            std::uint8_t value = in[at++];
            std::size_t count = 1;
            if ((value & 0xC0) == 0xC0) {
                count = value & 0x3F;
                if (at >= end) break;
                value = in[at++];
            }
            count = std::min(count, data.size() - filled);
            std::fill_n(data.begin() + static_cast<std::ptrdiff_t>(filled), count, value);
            filled += count;
        }
        if (filled < data.size()) return failure(QStringLiteral("The PCX picture data ends early"));
    }

    std::array<QRgb, 256> palette{};
    if (bitsPerPixel == 8 && planes == 1) {
        // The 256-colour palette: a 12 and 768 bytes at the end of the file.
        if (end >= HEADER_SIZE + 769 && in[end - 769] == 0x0C) {
            for (int i = 0; i < 256; ++i) {
                const qint64 p = end - 768 + 3 * i;
                palette[static_cast<std::size_t>(i)] = qRgb(in[p], in[p + 1], in[p + 2]);
            }
        } else {
            for (int i = 0; i < 256; ++i) palette[static_cast<std::size_t>(i)] = qRgb(i, i, i);
        }
    } else if (bitsPerPixel == 1 && planes == 1) {
        // Black and white whatever the header's palette says, as widely read.
        palette[0] = qRgb(0, 0, 0);
        palette[1] = qRgb(255, 255, 255);
    } else {
        for (int i = 0; i < 16; ++i) palette[static_cast<std::size_t>(i)] = headerColour(bytes, i);
    }

    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return failure(QStringLiteral("There is not enough memory for the PCX picture"));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* scan =
            data.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(scanSize);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (rgb) {
                out[x] = qRgb(scan[x], scan[bytesPerLine + x], scan[2 * bytesPerLine + x]);
            } else if (planar1) {
                int index = 0;
                for (int plane = 0; plane < planes; ++plane) {
                    const std::uint8_t byte = scan[plane * bytesPerLine + (x >> 3)];
                    index |= ((byte >> (7 - (x & 7))) & 1) << plane;
                }
                out[x] = palette[static_cast<std::size_t>(index)];
            } else {
                const int bit = x * bitsPerPixel;
                const int shift = 8 - bitsPerPixel - (bit & 7);
                const int index = (scan[bit >> 3] >> shift) & ((1 << bitsPerPixel) - 1);
                out[x] = palette[static_cast<std::size_t>(index)];
            }
        }
    }

    PcxReadResult result;
    result.image = std::move(image);
    result.version = version;
    result.bitsPerPixel = bitsPerPixel;
    result.planes = planes;
    return result;
}

MonoImage toMono(const QImage& image) {
    MonoImage mono(image.width(), image.height());
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) mono.setBlack(x, y, qGray(line[x]) < 128);
    }
    return mono;
}

}  // namespace velquin::image
