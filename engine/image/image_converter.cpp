#include "image_converter.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "svg_drawing.h"

namespace velquin::image {

namespace {

constexpr double MILLIMETRES_PER_INCH = 25.4;

// A grey at or above this is paper, for cutting margins.
constexpr int NEARLY_WHITE = 240;
// Decoded rows are flattened onto white this many at a time.
constexpr int FLATTEN_ROWS = 256;
// Line art's tones are judged on a picture of at most this side.
constexpr int LINE_ART_SAMPLE_SIDE = 512;

using RowSink = std::function<void(const std::uint8_t*)>;

bool isSvgFormat(const QByteArray& format) {
    return format == "svg" || format == "svgz";
}

bool isVectorFormat(const QByteArray& format) {
    return isSvgFormat(format) || format == "pdf";
}

bool quarterTurn(int rotation) {
    return rotation == 90 || rotation == 270;
}

QString tooLargeResult(const ConversionLimits& limits) {
    return QStringLiteral("The result may have at most %1 dots a side").arg(limits.maxSide);
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

// A PNG whose parts declare more bytes than the file holds: libpng would
// reserve what a part declares before reading it.
QString pngRefusal(QIODevice& device) {
    static constexpr char SIGNATURE[] = "\x89PNG\r\n\x1a\n";
    const qint64 start = device.pos();
    const qint64 fileEnd = device.size();
    QString refusal;
    if (device.peek(8) == QByteArray(SIGNATURE, 8)) {
        qint64 at = start + 8;
        while (at < fileEnd) {
            if (!device.seek(at)) break;
            const QByteArray header = device.read(8);
            if (header.size() < 8) break;
            const quint32 length = qFromBigEndian<quint32>(header.constData());
            const qint64 end = at + 12 + qint64(length);
            if (length > 0x7FFFFFFFu || end > fileEnd) {
                refusal = QStringLiteral(
                              "The file is damaged: a part of it declares %1 bytes, more than "
                              "the file holds")
                              .arg(length);
                break;
            }
            if (header.mid(4, 4) == "IEND") break;
            at = end;
        }
    }
    device.seek(start);
    return refusal;
}

Probe probe(QIODevice& device, const ConversionLimits& limits) {
    Probe result;
    const qint64 start = device.pos();
    {
        QImageReader reader(&device);
        if (const QString refusal = readerRefusal(reader, limits.maxDecodedBytes); !refusal.isEmpty()) {
            result.error = refusal;
        } else if (!reader.canRead()) {
            result.error =
                QStringLiteral("The file is not an image that can be read (%1)").arg(reader.errorString());
        } else {
            result.format = reader.format();
            // Some readers do not name a format they guessed; the data does.
            if (result.format.isEmpty() && device.seek(start))
                result.format = QImageReader::imageFormat(&device);
            // Qt's SVG reader would parse the drawing, and read what it names, to
            // give a size; the drawing's own reading gives it.
            if (!isSvgFormat(result.format)) result.size = reader.size();
        }
    }
    device.seek(start);
    return result;
}

// The rest of the device, at most `limit` bytes; empty with `why` past it.
QByteArray readAtMost(QIODevice& device, qint64 limit, QString& why) {
    QByteArray bytes = device.read(limit + 1);
    if (bytes.size() > limit) {
        why = QStringLiteral("The file is larger than %1 MiB; it is refused").arg(mebibytes(limit));
        return {};
    }
    return bytes;
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

// Which source pixels make one result pixel along one side, and how much
// each counts: areas averaged when shrinking, two neighbours blended when
// growing.
struct Taps {
    std::vector<int> first;       // per result pixel
    std::vector<int> count;       // per result pixel
    std::vector<float> weights;   // all pixels' weights, one after another
    std::vector<std::size_t> at;  // where each result pixel's weights start
};

Taps tapsFor(int from, int to) {
    Taps taps;
    taps.first.resize(static_cast<std::size_t>(to));
    taps.count.resize(static_cast<std::size_t>(to));
    taps.at.resize(static_cast<std::size_t>(to));
    const double scale = double(from) / to;
    for (int i = 0; i < to; ++i) {
        const std::size_t index = static_cast<std::size_t>(i);
        taps.at[index] = taps.weights.size();
        if (from >= to) {
            const double low = i * scale, high = (i + 1) * scale;
            const int first = static_cast<int>(std::floor(low));
            const int last = std::min(from - 1, static_cast<int>(std::ceil(high)) - 1);
            taps.first[index] = first;
            for (int j = first; j <= last; ++j)
                taps.weights.push_back(float((std::min(high, j + 1.0) - std::max(low, double(j))) / scale));
            taps.count[index] = last - first + 1;
        } else {
            const double x = std::clamp((i + 0.5) * scale - 0.5, 0.0, double(from - 1));
            const int first = static_cast<int>(std::floor(x));
            const float fraction = float(x - first);
            taps.first[index] = first;
            taps.weights.push_back(1.0f - fraction);
            taps.count[index] = 1;
            if (first + 1 < from) {
                taps.weights.push_back(fraction);
                taps.count[index] = 2;
            }
        }
    }
    return taps;
}

// Scales a grey picture to `size`, handing over one result row at a time;
// only two source rows scaled across are kept.
void scaleRows(const QImage& grey, QSize size, const RowSink& sink) {
    if (grey.size() == size) {
        for (int y = 0; y < grey.height(); ++y) sink(grey.constScanLine(y));
        return;
    }
    const Taps across = tapsFor(grey.width(), size.width());
    const Taps down = tapsFor(grey.height(), size.height());
    const std::size_t width = static_cast<std::size_t>(size.width());
    std::array<std::vector<float>, 2> cached{std::vector<float>(width), std::vector<float>(width)};
    std::array<int, 2> cachedRow{-1, -1};
    int nextSlot = 0;
    const auto scaledAcross = [&](int sourceRow) -> const std::vector<float>& {
        for (int slot = 0; slot < 2; ++slot)
            if (cachedRow[slot] == sourceRow) return cached[slot];
        const int slot = nextSlot;
        nextSlot ^= 1;
        const std::uint8_t* in = grey.constScanLine(sourceRow);
        std::vector<float>& out = cached[slot];
        for (std::size_t x = 0; x < width; ++x) {
            const float* weight = across.weights.data() + across.at[x];
            const std::uint8_t* from = in + across.first[x];
            float sum = 0;
            for (int k = 0; k < across.count[x]; ++k) sum += weight[k] * from[k];
            out[x] = sum;
        }
        cachedRow[slot] = sourceRow;
        return out;
    };
    std::vector<float> sum(width);
    std::vector<std::uint8_t> row(width);
    for (std::size_t y = 0; y < static_cast<std::size_t>(size.height()); ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (int k = 0; k < down.count[y]; ++k) {
            const float weight = down.weights[down.at[y] + static_cast<std::size_t>(k)];
            const std::vector<float>& line = scaledAcross(down.first[y] + k);
            for (std::size_t x = 0; x < width; ++x) sum[x] += weight * line[x];
        }
        for (std::size_t x = 0; x < width; ++x)
            row[x] = static_cast<std::uint8_t>(std::clamp(std::lround(sum[x]), 0L, 255L));
        sink(row.data());
    }
}

// Makes grey rows black and white one at a time, from the top.
class RowDitherer {
public:
    RowDitherer(int width, int height, Dither dither, int thresholdLevel, bool invert)
        : mono_(width, height),
          dither_(dither),
          level_(thresholdLevel),
          invert_(invert),
          current_(static_cast<std::size_t>(width) + 2, 0),
          next_(current_.size(), 0) {}

    void addRow(const std::uint8_t* in) {
        const int width = mono_.width();
        const int y = y_++;
        if (dither_ == Dither::Diffusion) {
            // Floyd-Steinberg, serpentine. Errors carry in sixteenths.
            const bool leftToRight = (y & 1) == 0;
            const int step = leftToRight ? 1 : -1;
            std::fill(next_.begin(), next_.end(), 0);
            for (int i = 0; i < width; ++i) {
                const int x = leftToRight ? i : width - 1 - i;
                const std::size_t at = static_cast<std::size_t>(x) + 1;
                const int value = in[x] + (current_[at] + 8) / 16;
                const bool black = value < 128;
                if (black != invert_) mono_.setBlack(x, y, true);
                const int error = value - (black ? 0 : 255);
                current_[at + step] += error * 7;
                next_[at - step] += error * 3;
                next_[at] += error * 5;
                next_[at + step] += error;
            }
            std::swap(current_, next_);
            return;
        }
        for (int x = 0; x < width; ++x) {
            const int level = dither_ == Dither::Ordered ? BAYER[y & 7][x & 7] * 4 + 2 : level_;
            if ((in[x] < level) != invert_) mono_.setBlack(x, y, true);
        }
    }

    MonoImage take() { return std::move(mono_); }

private:
    MonoImage mono_;
    Dither dither_;
    int level_;
    bool invert_;
    int y_ = 0;
    std::vector<int> current_, next_;
};

// The smallest rectangle holding every dot darker than paper; the whole
// picture when it is all paper.
QRect contentBox(const QImage& grey) {
    int left = grey.width(), right = -1, top = grey.height(), bottom = -1;
    for (int y = 0; y < grey.height(); ++y) {
        const std::uint8_t* in = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x) {
            if (in[x] >= NEARLY_WHITE) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = y;
        }
    }
    return right < 0 ? grey.rect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// A decoded picture as grey, its transparent parts on white, flattened a
// few rows at a time so that no second full-size colour copy is made.
QImage flattenedGrey(const QImage& decoded) {
    if (!decoded.hasAlphaChannel()) return decoded.convertToFormat(QImage::Format_Grayscale8);
    QImage grey(decoded.size(), QImage::Format_Grayscale8);
    if (grey.isNull()) return grey;
    for (int top = 0; top < decoded.height(); top += FLATTEN_ROWS) {
        const int rows = std::min(FLATTEN_ROWS, decoded.height() - top);
        QImage strip(decoded.width(), rows, QImage::Format_RGB32);
        strip.fill(Qt::white);
        {
            QPainter painter(&strip);
            painter.drawImage(QPoint(0, 0), decoded, QRect(0, top, decoded.width(), rows));
        }
        const QImage stripGrey = strip.convertToFormat(QImage::Format_Grayscale8);
        for (int y = 0; y < rows; ++y)
            std::copy_n(stripGrey.constScanLine(y), decoded.width(), grey.scanLine(top + y));
    }
    return grey;
}

LoadedImage loadSvg(QIODevice& device, const ConversionLimits& limits, std::optional<QSize> renderSize,
                    int dotsPerInch) {
    QString why;
    const QByteArray bytes = readAtMost(device, MAX_SVG_BYTES, why);
    if (!why.isEmpty()) return loadFailure(why);
    const SvgDrawing drawing = openSvg(bytes, dotsPerInch);
    if (!drawing.ok()) return loadFailure(drawing.error);
    LoadedImage loaded;
    loaded.isVector = true;
    loaded.sourceSize = drawing.size;
    loaded.warnings = drawing.warnings;
    const QSize size = renderSize && !renderSize->isEmpty() ? *renderSize : drawing.size;
    if (const QString refusal = refusalFor(size, limits); !refusal.isEmpty()) return loadFailure(refusal);
    QImage grey(size, QImage::Format_Grayscale8);
    if (grey.isNull()) return loadFailure(QStringLiteral("There is not enough memory for the image"));
    int y = 0;
    why = drawSvgRows(
        drawing, size, 0,
        [&](const std::uint8_t* row) { std::copy_n(row, size.width(), grey.scanLine(y++)); },
        limits.maxDrawingTime);
    if (!why.isEmpty()) return loadFailure(why);
    loaded.grey = std::move(grey);
    return loaded;
}

MonoImage ditherRows(QSize size, Dither dither, int level, bool invert,
                     const std::function<void(const RowSink&)>& rows) {
    RowDitherer ditherer(size.width(), size.height(), dither, level, invert);
    rows([&](const std::uint8_t* row) { ditherer.addRow(row); });
    return ditherer.take();
}

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

QString readerRefusal(QImageReader& reader, qint64 maxDecodedBytes) {
    // Qt counts its allocation limit in whole MiB.
    reader.setAllocationLimit(static_cast<int>(std::max<qint64>(1, maxDecodedBytes / (1024 * 1024))));
    QIODevice* device = reader.device();
    if (device == nullptr || device->isSequential()) return {};
    return pngRefusal(*device);
}

LoadedImage loadImage(QIODevice& device, const ConversionLimits& limits, std::optional<QSize> renderSize,
                      int page, int dotsPerInch) {
    const Probe probed = probe(device, limits);
    if (!probed.error.isEmpty()) return loadFailure(probed.error);
    if (isSvgFormat(probed.format)) {
        if (page != 1) return loadFailure(QStringLiteral("An SVG has one page only"));
        return loadSvg(device, limits, renderSize, dotsPerInch);
    }

    QImageReader reader(&device);
    reader.setAutoTransform(true);
    if (const QString refusal = readerRefusal(reader, limits.maxDecodedBytes); !refusal.isEmpty())
        return loadFailure(refusal);
    if (page != 1) {
        const int pages = reader.imageCount();
        if (page > pages || !reader.jumpToImage(page - 1))
            return loadFailure(QStringLiteral("The file has %1 page%2; there is no page %3")
                                   .arg(std::max(pages, 1))
                                   .arg(pages > 1 ? QStringLiteral("s") : QString())
                                   .arg(page));
    }

    LoadedImage loaded;
    loaded.isVector = isVectorFormat(probed.format);
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
    loaded.grey = flattenedGrey(decoded);
    if (loaded.grey.isNull()) return loadFailure(QStringLiteral("There is not enough memory for the image"));
    return loaded;
}

LoadedImage loadImage(const QString& path, const ConversionLimits& limits, std::optional<QSize> renderSize,
                      int page, int dotsPerInch) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return loadFailure(
            QStringLiteral("The file %1 can not be opened (%2)").arg(path, file.errorString()));
    return loadImage(file, limits, renderSize, page, dotsPerInch);
}

bool isLineArt(const QImage& grey) {
    if (grey.isNull()) return false;
    // Tones in 64 steps, so that a compressed file's noise stays in its step.
    std::array<qint64, 64> counts{};
    const int stepX = std::max(1, grey.width() / LINE_ART_SAMPLE_SIDE);
    const int stepY = std::max(1, grey.height() / LINE_ART_SAMPLE_SIDE);
    qint64 total = 0;
    for (int y = 0; y < grey.height(); y += stepY) {
        const std::uint8_t* in = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); x += stepX, ++total) ++counts[in[x] / 4];
    }
    // Line art: a few tones, each over 1 % of the picture, make most of it;
    // the many others are the soft edges between them.
    int tones = 0;
    qint64 inTones = 0;
    for (const qint64 count : counts)
        if (count * 100 >= total) {
            ++tones;
            inTones += count;
        }
    return tones <= 8 && inTones * 10 >= total * 8;
}

QString ditherName(Dither dither) {
    switch (dither) {
        case Dither::Threshold:
            return QStringLiteral("threshold");
        case Dither::Diffusion:
            return QStringLiteral("diffusion");
        case Dither::Ordered:
            return QStringLiteral("ordered");
        case Dither::Auto:
            break;
    }
    return QStringLiteral("auto");
}

MonoImage ditherGrey(const QImage& grey, Dither dither, int thresholdLevel) {
    if (dither == Dither::Auto) dither = isLineArt(grey) ? Dither::Threshold : Dither::Diffusion;
    return ditherRows(grey.size(), dither, thresholdLevel, false, [&](const RowSink& sink) {
        for (int y = 0; y < grey.height(); ++y) sink(grey.constScanLine(y));
    });
}

ConversionResult convertLoaded(const LoadedImage& loaded, const ConversionOptions& options) {
    ConversionResult result;
    result.warnings = loaded.warnings;
    if (!loaded.ok()) {
        result.error = loaded.error.isEmpty() ? QStringLiteral("There is no image to convert") : loaded.error;
        return result;
    }
    if (options.rotation != 0 && options.rotation != 90 && options.rotation != 180 &&
        options.rotation != 270) {
        result.error = QStringLiteral("Images turn by 90, 180 or 270 degrees only");
        return result;
    }
    // Turned before scaling: the source is bounded, the result may be far larger.
    QImage grey = options.trim ? loaded.grey.copy(contentBox(loaded.grey)) : loaded.grey;
    grey = rotateGrey(grey, options.rotation);
    const QSize target =
        resultSize(quarterTurn(options.rotation) ? grey.size().transposed() : grey.size(), options);
    if (!target.isValid()) {
        result.error = tooLargeResult(options.limits);
        return result;
    }
    if (grey.isNull()) {
        result.error = QStringLiteral("There is not enough memory for the image");
        return result;
    }
    result.ditherUsed = options.dither;
    if (result.ditherUsed == Dither::Auto)
        result.ditherUsed = isLineArt(grey) ? Dither::Threshold : Dither::Diffusion;
    result.image = ditherRows(target, result.ditherUsed, std::clamp(options.thresholdLevel, 0, 256),
                              options.invert, [&](const RowSink& sink) { scaleRows(grey, target, sink); });
    return result;
}

namespace {

// An SVG drawn straight at the result's dots, a strip at a time.
ConversionResult convertSvg(QIODevice& device, const ConversionOptions& options) {
    ConversionResult result;
    if (options.page != 1) {
        result.error = QStringLiteral("An SVG has one page only");
        return result;
    }
    const QByteArray bytes = readAtMost(device, MAX_SVG_BYTES, result.error);
    if (!result.error.isEmpty()) return result;
    const SvgDrawing drawing = openSvg(bytes, options.dotsPerInch);
    result.warnings = drawing.warnings;
    if (!drawing.ok()) {
        result.error = drawing.error;
        return result;
    }
    if (options.rotation != 0 && options.rotation != 90 && options.rotation != 180 &&
        options.rotation != 270) {
        result.error = QStringLiteral("Images turn by 90, 180 or 270 degrees only");
        return result;
    }

    // A small drawing judges the tones and, when trimming, where the margins end.
    const double sampleScale =
        std::min(1.0, double(LINE_ART_SAMPLE_SIDE) / std::max(drawing.size.width(), drawing.size.height()));
    const QSize sampleSize(std::max(1, int(drawing.size.width() * sampleScale)),
                           std::max(1, int(drawing.size.height() * sampleScale)));
    QImage sample(sampleSize, QImage::Format_Grayscale8);
    int y = 0;
    result.error = drawSvgRows(
        drawing, sampleSize, 0,
        [&](const std::uint8_t* row) { std::copy_n(row, sampleSize.width(), sample.scanLine(y++)); },
        options.limits.maxDrawingTime);
    if (!result.error.isEmpty()) return result;
    QRectF part(0, 0, 1, 1);
    QSizeF partSize = drawing.size;
    if (options.trim) {
        const QRect box = contentBox(sample);
        part = QRectF(double(box.x()) / sampleSize.width(), double(box.y()) / sampleSize.height(),
                      double(box.width()) / sampleSize.width(), double(box.height()) / sampleSize.height());
        partSize = QSizeF(drawing.size.width() * part.width(), drawing.size.height() * part.height());
        sample = sample.copy(box);
    }

    const QSize source(std::max(1, int(std::lround(partSize.width()))),
                       std::max(1, int(std::lround(partSize.height()))));
    const QSize target = resultSize(source, options);
    if (!target.isValid()) {
        result.error = tooLargeResult(options.limits);
        return result;
    }
    result.ditherUsed = options.dither;
    if (result.ditherUsed == Dither::Auto)
        result.ditherUsed = isLineArt(sample) ? Dither::Threshold : Dither::Diffusion;
    const QSize upright = quarterTurn(options.rotation) ? target.transposed() : target;
    result.image = ditherRows(target, result.ditherUsed, std::clamp(options.thresholdLevel, 0, 256),
                              options.invert, [&](const RowSink& sink) {
                                  result.error = drawSvgRows(drawing, upright, options.rotation, sink,
                                                             options.limits.maxDrawingTime, part);
                              });
    if (!result.error.isEmpty()) result.image = {};
    return result;
}

}  // namespace

ConversionResult convertImage(QIODevice& device, const ConversionOptions& options) {
    const Probe probed = probe(device, options.limits);
    if (!probed.error.isEmpty()) return {{}, Dither::Diffusion, probed.error, {}};
    if (isSvgFormat(probed.format)) return convertSvg(device, options);

    // A page of a PDF is drawn at the dots asked for; trimmed, it is first
    // drawn at its own size to find where the margins end.
    std::optional<QSize> renderSize;
    std::optional<QRect> trimmedBox;
    ConversionOptions effective = options;
    if (isVectorFormat(probed.format) && probed.size.isValid()) {
        QSize source = probed.size;
        if (options.trim) {
            const LoadedImage page = loadImage(device, options.limits, std::nullopt, options.page);
            if (!page.ok()) return {{}, Dither::Diffusion, page.error, {}};
            device.seek(0);
            trimmedBox = contentBox(page.grey);
            source = trimmedBox->size();
        }
        const QSize target = resultSize(source, options);
        if (!target.isValid()) return {{}, Dither::Diffusion, tooLargeResult(options.limits), {}};
        const QSize upright = quarterTurn(options.rotation) ? target.transposed() : target;
        const double scaleX = double(upright.width()) / source.width();
        const double scaleY = double(upright.height()) / source.height();
        renderSize = QSize(std::max(1, int(std::lround(probed.size.width() * scaleX))),
                           std::max(1, int(std::lround(probed.size.height() * scaleY))));
        if (trimmedBox)
            trimmedBox = QRect(int(std::lround(trimmedBox->x() * scaleX)),
                               int(std::lround(trimmedBox->y() * scaleY)), upright.width(), upright.height());
        effective.trim = false;
    }
    LoadedImage loaded = loadImage(device, options.limits, renderSize, options.page, options.dotsPerInch);
    if (loaded.ok() && trimmedBox)
        loaded.grey = loaded.grey.copy(trimmedBox->intersected(loaded.grey.rect()));
    return convertLoaded(loaded, effective);
}

ConversionResult convertImage(const QString& path, const ConversionOptions& options) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{},
                Dither::Diffusion,
                QStringLiteral("The file %1 can not be opened (%2)").arg(path, file.errorString()),
                {}};
    return convertImage(file, options);
}

}  // namespace velquin::image
