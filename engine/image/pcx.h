// PCX files: the writer of the printer's 1-bit images and a reader of the
// common kinds, bounded against hostile headers.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "mono_image.h"

namespace velquin::image {

// Version 5, 1 bit per pixel, 1 plane, run-length encoded, even bytes per
// line; palette entry 0 black and 1 white. `dotsPerInch` goes into the
// header's resolution fields.
QByteArray writePcx(const MonoImage& image, int dotsPerInch = 203);

struct PcxReadLimits {
    int maxSide = 20000;
    qint64 maxDecodedBytes = qint64(512) * 1024 * 1024;
};

struct PcxReadResult {
    QImage image;   // Format_RGB32; null on failure
    QString error;  // why the file could not be read
    int version = 0;
    int bitsPerPixel = 0;
    int planes = 0;
    bool ok() const { return !image.isNull(); }
};

// Reads 1, 2, 4 or 8 bits per pixel in one plane, 1 bit in 2 to 4 planes
// and 8 bits in 3 or 4 planes (RGB), encoded or not. Runs may cross the
// ends of lines.
PcxReadResult readPcx(const QByteArray& bytes, const PcxReadLimits& limits = {});

// The same reading as a picture of black and white dots: a dot is black when
// its colour's grey is below one half.
MonoImage toMono(const QImage& image);

}  // namespace velquin::image
