// Turns an image file an operator has (PNG, JPEG, BMP, GIF, SVG, TIFF, WebP,
// a page of a PDF) into the printer's 1-bit picture: transparency onto
// white, white margins cut when asked, scaled to the dots asked for, made
// black and white by a threshold or a dither (chosen from the picture when
// not given), inverted and turned as asked. The result is scaled and made
// black and white a row at a time, so its size costs only its own bits.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

#include "mono_image.h"

class QIODevice;
class QImageReader;

namespace velquin::image {

// Auto: a threshold for line art (few tones, as logos and text), diffusion
// for photographs.
enum class Dither { Threshold, Diffusion, Ordered, Auto };

// The resolutions the printers come in, dots per inch.
inline constexpr int PRINTER_RESOLUTIONS[] = {203, 300, 600};

struct ConversionLimits {
    // Neither the decoded source nor the result may be wider or taller.
    int maxSide = 20000;
    // Nor may the decoded source take more memory.
    qint64 maxDecodedBytes = qint64(512) * 1024 * 1024;
    // Drawing an SVG stops past this time.
    std::chrono::milliseconds maxDrawingTime{30'000};
};

struct ConversionOptions {
    // The result's size in dots, after turning; 0 for a side worked out from
    // the other one keeping the aspect, or the source's size when both are 0.
    int widthDots = 0;
    int heightDots = 0;
    Dither dither = Dither::Auto;
    // Threshold: a dot whose grey (0 to 255) is below the level is black.
    int thresholdLevel = 128;
    bool invert = false;
    // Clockwise: 0, 90, 180 or 270.
    int rotation = 0;
    // The printer's resolution: an SVG whose size is a length is drawn at it.
    int dotsPerInch = 203;
    // The page of a PDF (or picture of a TIFF or GIF), from 1.
    int page = 1;
    // Cut the white margins before sizing.
    bool trim = false;
    ConversionLimits limits;
};

// Dots for a length at a resolution, at least 1.
int dotsFor(double millimetres, int dotsPerInch);
double millimetresFor(int dots, int dotsPerInch);

// A source image decoded and flattened onto white, ready to convert many
// times (the dialog's live preview).
struct LoadedImage {
    QImage grey;            // Format_Grayscale8, transparency on white; null on failure
    QSize sourceSize;       // the size the file gives, before any scaling
    bool isVector = false;  // SVG or PDF: rendered at the size asked for
    QString error;
    QStringList warnings;  // what was left out of the file
    bool ok() const { return !grey.isNull(); }
};

// The size in dots a conversion of a source of `sourceSize` gives, after
// turning; invalid when the options ask for a side beyond the limits.
QSize resultSize(QSize sourceSize, const ConversionOptions& options);

// Decodes the image. A vector image is rendered at `renderSize` when given
// (else at its own size); a raster image is read at its own size. Refused
// before decoding when the decoded image would pass the limits.
// `page` counts from 1; an SVG whose size is a length is measured at
// `dotsPerInch`.
LoadedImage loadImage(QIODevice& device, const ConversionLimits& limits,
                      std::optional<QSize> renderSize = std::nullopt, int page = 1, int dotsPerInch = 203);
LoadedImage loadImage(const QString& path, const ConversionLimits& limits,
                      std::optional<QSize> renderSize = std::nullopt, int page = 1, int dotsPerInch = 203);

struct ConversionResult {
    MonoImage image;
    Dither ditherUsed = Dither::Diffusion;  // Auto resolved
    QString error;
    QStringList warnings;
    bool ok() const { return error.isEmpty() && !image.isNull(); }
};

// Scales, turns, dithers and inverts an already loaded image.
ConversionResult convertLoaded(const LoadedImage& loaded, const ConversionOptions& options);

// The whole path: reads the size, refuses what passes the limits, decodes
// (a vector image straight at the dots needed) and converts.
ConversionResult convertImage(QIODevice& device, const ConversionOptions& options);
ConversionResult convertImage(const QString& path, const ConversionOptions& options);

// The black-and-white step alone, on a grey picture (Auto: chosen from it).
MonoImage ditherGrey(const QImage& grey, Dither dither, int thresholdLevel);

// Few tones, as logos and text: a threshold keeps their edges.
bool isLineArt(const QImage& grey);

// "threshold", "diffusion", "ordered" or "auto".
QString ditherName(Dither dither);

// Readies a reader of a file that may be hostile: its structure checked
// against the file's length before a decoder trusts it, Qt's allocation
// limit set. Returns why the file is refused, empty when it may be read.
QString readerRefusal(QImageReader& reader, qint64 maxDecodedBytes);

}  // namespace velquin::image
