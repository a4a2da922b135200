#include "image_converter.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

namespace velquin::image {

namespace {

constexpr double MILLIMETRES_PER_INCH = 25.4;

bool isVectorFormat(const QByteArray& format) {
    return format == "svg" || format == "svgz" || format == "pdf";
}

QString mebibytes(qint64 bytes) {
    return QString::number(bytes / (1024 * 1024));
}

// Why an image of `size` may not be decoded, or nothing when it may.
QString refusalFor(QSize size, const ConversionLimits& limits) {
    if (size.width() > limits.maxSide || size.height() > limits.maxSide)
        return QStringLiteral("The image is %1 x %2 dots; images of more than %3 dots a side are refused")
            .arg(size.width())
            .arg(size.height())
            .arg(limits.maxSide);
    if (qint64(size.width()) * size.height() * 4 > limits.maxDecodedBytes)
        return QStringLiteral(
                   "The image is %1 x %2 dots, more than %3 MiB decoded; larger images are refused")
            .arg(size.width())
            .arg(size.height())
            .arg(mebibytes(limits.maxDecodedBytes));
    return {};
}

LoadedImage loadFailure(const QString& why) {
    LoadedImage loaded;
    loaded.error = why;
    return loaded;
}

struct Probe {
    QByteArray format;
    QSize size;
    QString error;
};

Probe probe(QIODevice& device) {
    Probe result;
    const qint64 start = device.pos();
    {
        QImageReader reader(&device);
        if (!reader.canRead()) {
            result.error =
                QStringLiteral("The file is not an image that can be read (%1)").arg(reader.errorString());
        } else {
            result.format = reader.format();
            result.size = reader.size();
        }
    }
    device.seek(start);
    return result;
}

QImage rotateGrey(const QImage& grey, int rotation) {
    if (rotation == 0) return grey;
    const int w = grey.width(), h = grey.height();
    const bool quarter = rotation == 90 || rotation == 270;
    QImage out(quarter ? h : w, quarter ? w : h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = grey.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            int tx = x, ty = y;
            if (rotation == 90) {
                tx = h - 1 - y;
                ty = x;
            } else if (rotation == 180) {
                tx = w - 1 - x;
                ty = h - 1 - y;
            } else {
                tx = y;
                ty = w - 1 - x;
            }
            out.scanLine(ty)[tx] = in[x];
        }
    }
    return out;
}

// 8 x 8 Bayer matrix: the order in which dots turn black as grey darkens.
constexpr int BAYER[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

}  // namespace

int dotsFor(double millimetres, int dotsPerInch) {
    return std::max(1, static_cast<int>(std::lround(millimetres * dotsPerInch / MILLIMETRES_PER_INCH)));
}

double millimetresFor(int dots, int dotsPerInch) {
    return dotsPerInch > 0 ? dots * MILLIMETRES_PER_INCH / dotsPerInch : 0.0;
}

QSize resultSize(QSize sourceSize, const ConversionOptions& options) {
    if (sourceSize.isEmpty()) return {};
    const bool quarter = options.rotation == 90 || options.rotation == 270;
    const QSize upright = quarter ? sourceSize.transposed() : sourceSize;
    int width = options.widthDots;
    int height = options.heightDots;
    if (width <= 0 && height <= 0) {
        width = upright.width();
        height = upright.height();
    } else if (height <= 0) {
        height = std::max<int>(
            1, static_cast<int>(std::lround(double(width) * upright.height() / upright.width())));
    } else if (width <= 0) {
        width = std::max<int>(
            1, static_cast<int>(std::lround(double(height) * upright.width() / upright.height())));
    }
    if (width > options.limits.maxSide || height > options.limits.maxSide) return {};
    return {width, height};
}

LoadedImage loadImage(QIODevice& device, const ConversionLimits& limits, std::optional<QSize> renderSize) {
    QImageReader reader(&device);
    reader.setAutoTransform(true);
    // Qt counts its allocation limit in whole MiB.
    reader.setAllocationLimit(static_cast<int>(std::max<qint64>(1, limits.maxDecodedBytes / (1024 * 1024))));
    if (!reader.canRead())
        return loadFailure(
            QStringLiteral("The file is not an image that can be read (%1)").arg(reader.errorString()));

    LoadedImage loaded;
    loaded.isVector = isVectorFormat(reader.format());
    loaded.sourceSize = reader.size();
    QSize decodeSize = loaded.sourceSize;
    if (loaded.isVector && renderSize && !renderSize->isEmpty()) {
        reader.setScaledSize(*renderSize);
        decodeSize = *renderSize;
    }
    if (decodeSize.isValid()) {
        if (const QString refusal = refusalFor(decodeSize, limits); !refusal.isEmpty())
            return loadFailure(refusal);
    }

    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull())
        return loadFailure(QStringLiteral("The image can not be decoded (%1)").arg(reader.errorString()));
    if (const QString refusal = refusalFor(decoded.size(), limits); !refusal.isEmpty())
        return loadFailure(refusal);
    if (!loaded.isVector || !loaded.sourceSize.isValid()) loaded.sourceSize = decoded.size();

    // Transparent parts print as paper: flatten onto white.
    if (decoded.hasAlphaChannel()) {
        QImage flat(decoded.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, decoded);
        painter.end();
        decoded = std::move(flat);
    }
    loaded.grey = decoded.convertToFormat(QImage::Format_Grayscale8);
    if (loaded.grey.isNull()) return loadFailure(QStringLiteral("There is not enough memory for the image"));
    return loaded;
}

LoadedImage loadImage(const QString& path, const ConversionLimits& limits, std::optional<QSize> renderSize) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return loadFailure(
            QStringLiteral("The file %1 can not be opened (%2)").arg(path, file.errorString()));
    return loadImage(file, limits, renderSize);
}

MonoImage ditherGrey(const QImage& grey, Dither dither, int thresholdLevel) {
    const int width = grey.width(), height = grey.height();
    MonoImage mono(width, height);
    if (dither == Dither::Threshold) {
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = grey.constScanLine(y);
            for (int x = 0; x < width; ++x)
                if (in[x] < thresholdLevel) mono.setBlack(x, y, true);
        }
    } else if (dither == Dither::Ordered) {
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = grey.constScanLine(y);
            for (int x = 0; x < width; ++x)
                if (in[x] < BAYER[y & 7][x & 7] * 4 + 2) mono.setBlack(x, y, true);
        }
    } else {
        // Floyd-Steinberg, serpentine. Errors carry in sixteenths.
        std::vector<int> current(static_cast<std::size_t>(width) + 2, 0), next(current.size(), 0);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = grey.constScanLine(y);
            const bool leftToRight = (y & 1) == 0;
            const int step = leftToRight ? 1 : -1;
            std::fill(next.begin(), next.end(), 0);
            for (int i = 0; i < width; ++i) {
                const int x = leftToRight ? i : width - 1 - i;
                const std::size_t at = static_cast<std::size_t>(x) + 1;
                const int value = in[x] + (current[at] + 8) / 16;
                const bool black = value < 128;
                if (black) mono.setBlack(x, y, true);
                const int error = value - (black ? 0 : 255);
                current[at + step] += error * 7;
                next[at - step] += error * 3;
                next[at] += error * 5;
                next[at + step] += error;
            }
            std::swap(current, next);
        }
    }
    return mono;
}

ConversionResult convertLoaded(const LoadedImage& loaded, const ConversionOptions& options) {
    ConversionResult result;
    if (!loaded.ok()) {
        result.error = loaded.error.isEmpty() ? QStringLiteral("There is no image to convert") : loaded.error;
        return result;
    }
    if (options.rotation != 0 && options.rotation != 90 && options.rotation != 180 &&
        options.rotation != 270) {
        result.error = QStringLiteral("Images turn by 90, 180 or 270 degrees only");
        return result;
    }
    const QSize target = resultSize(loaded.grey.size(), options);
    if (!target.isValid()) {
        result.error =
            QStringLiteral("The result may have at most %1 dots a side").arg(options.limits.maxSide);
        return result;
    }
    const bool quarter = options.rotation == 90 || options.rotation == 270;
    const QSize upright = quarter ? target.transposed() : target;
    QImage grey = loaded.grey;
    if (grey.size() != upright) {
        // Qt's smooth scaling averages areas on 32-bit pictures.
        grey = grey.convertToFormat(QImage::Format_RGB32)
                   .scaled(upright, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                   .convertToFormat(QImage::Format_Grayscale8);
    }
    grey = rotateGrey(grey, options.rotation);
    if (grey.isNull()) {
        result.error = QStringLiteral("There is not enough memory for the image");
        return result;
    }
    result.image = ditherGrey(grey, options.dither, std::clamp(options.thresholdLevel, 0, 256));
    if (options.invert) {
        for (int y = 0; y < result.image.height(); ++y)
            for (int x = 0; x < result.image.width(); ++x)
                result.image.setBlack(x, y, !result.image.isBlack(x, y));
    }
    return result;
}

ConversionResult convertImage(QIODevice& device, const ConversionOptions& options) {
    const Probe probed = probe(device);
    if (!probed.error.isEmpty()) return {{}, probed.error};
    std::optional<QSize> renderSize;
    if (isVectorFormat(probed.format) && probed.size.isValid()) {
        const QSize target = resultSize(probed.size, options);
        if (!target.isValid())
            return {{},
                    QStringLiteral("The result may have at most %1 dots a side").arg(options.limits.maxSide)};
        const bool quarter = options.rotation == 90 || options.rotation == 270;
        renderSize = quarter ? target.transposed() : target;
    }
    return convertLoaded(loadImage(device, options.limits, renderSize), options);
}

ConversionResult convertImage(const QString& path, const ConversionOptions& options) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("The file %1 can not be opened (%2)").arg(path, file.errorString())};
    return convertImage(file, options);
}

}  // namespace velquin::image
