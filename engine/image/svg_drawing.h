// SVG drawings for the printer, drawn by Qt's renderer from a cleaned copy
// of the file: nothing but the file itself is read (pictures the drawing
// names by path or address are left out, with a warning), its length and
// element count are bounded, and it is drawn strip by strip within a time
// budget, so a drawing of any allowed size costs a few MiB.
#pragma once

#include <QByteArray>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class QSvgRenderer;

namespace velquin::image {

inline constexpr qint64 MAX_SVG_BYTES = qint64(16) << 20;  // after unpacking .svgz
inline constexpr int MAX_SVG_ELEMENTS = 100'000;

struct SvgDrawing {
    std::shared_ptr<QSvgRenderer> renderer;  // null when the file is refused
    // The size in dots: a drawing whose width or height is a length (mm, cm,
    // in, pt, pc) at `dotsPerInch`, else its pixels as dots.
    QSize size;
    QString error;
    QStringList warnings;
    bool ok() const { return renderer != nullptr; }
};

// Reads a drawing from the bytes of an .svg or .svgz file.
SvgDrawing openSvg(const QByteArray& bytes, int dotsPerInch);

// Draws `part` of the drawing (in shares of its width and height) filling
// `upright` dots, turned clockwise by `rotation`, on white, and hands each
// grey row (Format_Grayscale8 values) of the result to `row` from the top.
// Returns why it stopped, empty when done.
QString drawSvgRows(const SvgDrawing& drawing, QSize upright, int rotation,
                    const std::function<void(const std::uint8_t*)>& row, std::chrono::milliseconds budget,
                    QRectF part = QRectF(0, 0, 1, 1));

}  // namespace velquin::image
