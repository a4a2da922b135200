// What the preview pane shows of one file of the list, made without widgets
// so that it can be drawn on a worker thread and checked by tests.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <vector>

#include "app_state.h"

namespace velquin::preview {

// Where one converted character lies on a soft font's glyph sheet.
struct SheetCell {
    int code = 0;
    QRect cell;  // the cell's rows and words * 16 columns, in sheet pixels
};

struct Preview {
    QString heading;    // the file's name
    QStringList facts;  // one fact per line: size, family, cell size...
    QImage image;       // the picture; null when there is none to show
    QString problem;    // why the file cannot be shown; empty when it can
    // Soft fonts: the drawn cells and the pixels one printer dot takes.
    std::vector<SheetCell> sheetCells;
    int dotScale = 1;

    bool ok() const { return problem.isEmpty(); }
};

// Bounds that keep a hostile or huge file from costing unbounded time or memory.
struct PreviewLimits {
    qint64 maxFontFileBytes = qint64(64) << 20;    // True Type / OpenType files
    qint64 maxImageFileBytes = qint64(256) << 20;  // PCX and BMP files
    int maxImageSide = 20000;                      // dots
    int maxImageMegabytes = 128;                   // decoded
    int maxSheetSide = 8192;                       // pixels of a glyph sheet
};

// The preview of the file at `path` as the printer would get it in `mode`.
Preview makePreview(LoaderMode mode, const QString& path, const PreviewLimits& limits = {});

// Why the file at `path` cannot be loaded in `mode`, as the preview reads
// it (the same reasons, without drawing anything); empty when it can. True
// Type and PCX files only: soft fonts are judged by their converter, and
// BMP lists are never sent.
QString loadProblem(LoaderMode mode, const QString& path, const PreviewLimits& limits = {});

// Why a True Type or OpenType file's table directory does not hold
// together (a table reaching past the file's end: a cut file); empty when
// it does.
QString fontTablesProblem(const QByteArray& bytes);

}  // namespace velquin::preview
