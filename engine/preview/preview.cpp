#include "preview.h"

#include <morlix/conversion_result.h>
#include <velquin/conversion_messages.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QImageReader>
#include <QLocale>
#include <QPainter>
#include <QRawFont>
#include <algorithm>
#include <cmath>

#include "converted_soft_font.h"
#include "image_converter.h"
#include "pcx.h"
#include "softfont/byte_source.h"
#include "softfont/report.h"
#include "softfont/soft_font_converter.h"

namespace velquin::preview {
namespace {

const QString SAMPLE_TEXT = QStringLiteral("The quick brown fox 0123456789");
constexpr int SAMPLE_SIZES[] = {16, 32};
constexpr int RANGE_CHARACTERS = 64;  // of the font's own range shown
constexpr int RANGE_LINE = 32;        // characters per line of the range
constexpr int MAX_LINE_WIDTH = 2400;  // pixels; a wider sample line is cut
constexpr int SHEET_COLUMNS = 16;
constexpr int MIN_CELL_PIXELS = 24;  // small cells are drawn larger, whole dots
constexpr int MAX_DOT_SCALE = 4;
constexpr int SHEET_GAP = 6;

Preview problem(Preview preview, const QString& text) {
    preview.problem = text;
    return preview;
}

QString sizeFact(qint64 bytes) {
    return QStringLiteral("File size: %1 bytes").arg(QLocale().toString(bytes));
}

constexpr qint64 READ_PIECE_BYTES = qint64(1) << 20;

// Reads a regular file whole when it is at most `maxBytes` long; else a
// problem text. Never waits on a device or a pipe.
bool readBounded(const QString& path, qint64 maxBytes, QByteArray& bytes, QString& why) {
    const QFileInfo info(path);
    if (!info.exists()) {
        why = QStringLiteral("The file does not exist");
        return false;
    }
    if (!info.isFile()) {
        why = QStringLiteral("This is not a regular file");
        return false;
    }
    if (info.size() > maxBytes) {
        why = QStringLiteral("The file is %1 bytes; files over %2 bytes are not shown")
                  .arg(QLocale().toString(info.size()), QLocale().toString(maxBytes));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("The file cannot be read: %1").arg(file.errorString());
        return false;
    }
    // One byte more than allowed tells a file that grew since it was measured.
    // Read a piece at a time: asking for the whole bound at once would
    // reserve it, hundreds of MiB for a file of a few bytes.
    bytes.clear();
    while (bytes.size() <= maxBytes) {
        const QByteArray piece = file.read(std::min<qint64>(READ_PIECE_BYTES, maxBytes + 1 - bytes.size()));
        if (piece.isEmpty()) break;
        bytes += piece;
    }
    if (bytes.size() > maxBytes) {
        why =
            QStringLiteral("The file grew past %1 bytes while it was read").arg(QLocale().toString(maxBytes));
        return false;
    }
    if (bytes.isEmpty()) {
        why = file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("The file is empty");
        return false;
    }
    return true;
}

// ---- True Type / OpenType ----------------------------------------------

quint32 bigEndian32(const QByteArray& bytes, qsizetype at) {
    quint32 value = 0;
    for (qsizetype i = 0; i < 4; ++i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

// A table's four-letter tag as it can be shown (a damaged one may hold any byte).
QString tableTag(const QByteArray& bytes, qsizetype at) {
    QString tag;
    for (qsizetype i = 0; i < 4; ++i) {
        const char c = bytes[at + i];
        tag += c >= ' ' && c <= '~' ? QChar::fromLatin1(c) : QChar(u'?');
    }
    return tag;
}

// Every font of the file: one, or each of a collection's.
QList<quint32> fontOffsets(const QByteArray& bytes, QString& why) {
    constexpr qsizetype COLLECTION_HEADER = 12;
    constexpr quint32 MAX_COLLECTION_FONTS = 4096;
    if (!bytes.startsWith("ttcf")) return {0};
    if (bytes.size() < COLLECTION_HEADER) {
        why = QStringLiteral("The font collection is cut short in its header");
        return {};
    }
    const quint32 count = bigEndian32(bytes, 8);
    if (count == 0 || count > MAX_COLLECTION_FONTS ||
        COLLECTION_HEADER + qint64(count) * 4 > qint64(bytes.size())) {
        why = QStringLiteral("The font collection's list of fonts does not fit in the file");
        return {};
    }
    QList<quint32> offsets;
    for (quint32 i = 0; i < count; ++i) offsets << bigEndian32(bytes, COLLECTION_HEADER + qsizetype(i) * 4);
    return offsets;
}

}  // namespace

QString fontTablesProblem(const QByteArray& bytes) {
    constexpr qint64 OFFSET_TABLE = 12;
    constexpr qint64 TABLE_RECORD = 16;
    const qint64 fileSize = bytes.size();
    QString why;
    const QList<quint32> fonts = fontOffsets(bytes, why);
    if (fonts.isEmpty()) return why;
    for (const quint32 font : fonts) {
        if (font + OFFSET_TABLE > fileSize)
            return QStringLiteral("The font is cut short: its table directory lies past the file's end");
        const qint64 tables =
            static_cast<std::uint8_t>(bytes[font + 4]) << 8 | static_cast<std::uint8_t>(bytes[font + 5]);
        if (tables == 0) return QStringLiteral("The font has no tables");
        if (font + OFFSET_TABLE + tables * TABLE_RECORD > fileSize)
            return QStringLiteral("The font is cut short: its table directory lies past the file's end");
        for (qint64 table = 0; table < tables; ++table) {
            const qint64 record = font + OFFSET_TABLE + table * TABLE_RECORD;
            const qint64 end = qint64(bigEndian32(bytes, record + 8)) + bigEndian32(bytes, record + 12);
            if (end > fileSize)
                return QStringLiteral("The font is cut short: its table '%1' ends at byte %2, the file at %3")
                    .arg(tableTag(bytes, record), QLocale().toString(end), QLocale().toString(fileSize));
        }
    }
    return {};
}

namespace {

QString outlineKind(const QByteArray& bytes) {
    const QByteArray tag = bytes.left(4);
    if (tag == "OTTO") return QStringLiteral("OpenType, PostScript outlines");
    if (tag == "ttcf") return QStringLiteral("font collection; its first font is shown");
    return QStringLiteral("TrueType outlines");
}

int glyphCount(const QRawFont& font) {
    const QByteArray maxp = font.fontTable("maxp");
    if (maxp.size() < 6) return -1;
    return static_cast<std::uint8_t>(maxp[4]) << 8 | static_cast<std::uint8_t>(maxp[5]);
}

// The first characters the font covers from the space on, and how many it
// covers in all (planes 0 to 2; control codes and surrogates skipped).
QString coveredCharacters(const QRawFont& font, int& total) {
    QList<uint> first;
    total = 0;
    for (uint code = 0x20; code < 0x30000; ++code) {
        if ((code >= 0x7F && code < 0xA0) || (code >= 0xD800 && code < 0xE000)) continue;
        if (!font.supportsCharacter(code)) continue;
        ++total;
        if (first.size() < RANGE_CHARACTERS) first.append(code);
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(first.constData()), first.size());
}

// One line of `text` in `font`, drawn from the font's own glyphs.
QImage drawLine(const QRawFont& font, const QString& text) {
    const QList<quint32> glyphs = font.glyphIndexesForString(text);
    const QList<QPointF> advances = font.advancesForGlyphIndexes(glyphs);
    const qreal pixelSize = font.pixelSize();
    const qreal ascent = std::clamp(font.ascent(), 0.0, 4 * pixelSize);
    const qreal descent = std::clamp(font.descent(), 0.0, 4 * pixelSize);
    QList<QPointF> positions;
    qreal x = 0;
    for (const QPointF& advance : advances) {
        if (x > MAX_LINE_WIDTH) break;
        positions.append(QPointF(x, ascent));
        x += std::clamp(advance.x(), 0.0, qreal(MAX_LINE_WIDTH));
    }
    QImage line(std::clamp(int(std::ceil(x)), 1, MAX_LINE_WIDTH),
                std::max(1, int(std::ceil(ascent + descent))), QImage::Format_RGB32);
    line.fill(Qt::white);
    QGlyphRun run;
    run.setRawFont(font);
    run.setGlyphIndexes(glyphs.first(positions.size()));
    run.setPositions(positions);
    QPainter painter(&line);
    painter.setPen(Qt::black);
    painter.drawGlyphRun(QPointF(0, 0), run);
    return line;
}

QImage stack(const QList<QImage>& lines, int gap) {
    int width = 1, height = 0;
    for (const QImage& line : lines) {
        width = std::max(width, line.width());
        height += line.height() + gap;
    }
    QImage image(width, std::max(1, height), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    int y = 0;
    for (const QImage& line : lines) {
        painter.drawImage(0, y, line);
        y += line.height() + gap;
    }
    return image;
}

Preview trueTypePreview(Preview preview, const QString& path, const PreviewLimits& limits) {
    QByteArray bytes;
    QString why;
    if (!readBounded(path, limits.maxFontFileBytes, bytes, why)) return problem(preview, why);
    preview.facts << sizeFact(bytes.size());
    if (const QString cut = fontTablesProblem(bytes); !cut.isEmpty()) return problem(preview, cut);
    const QRawFont probe(bytes, SAMPLE_SIZES[0]);
    if (!probe.isValid() || probe.familyName().isEmpty())
        return problem(preview,
                       QStringLiteral("This file is not a True Type or OpenType font that can be read"));

    int covered = 0;
    const QString range = coveredCharacters(probe, covered);
    preview.facts << QStringLiteral("Family: %1").arg(probe.familyName())
                  << QStringLiteral("Style: %1").arg(probe.styleName())
                  << QStringLiteral("Kind: %1").arg(outlineKind(bytes));
    if (const int glyphs = glyphCount(probe); glyphs >= 0)
        preview.facts << QStringLiteral("Glyphs: %1").arg(QLocale().toString(glyphs));
    preview.facts << QStringLiteral("Characters covered: %1").arg(QLocale().toString(covered));

    QList<QImage> lines;
    for (const int size : SAMPLE_SIZES) {
        const QRawFont font(bytes, size);
        lines << drawLine(font, SAMPLE_TEXT);
        for (qsizetype from = 0; from < range.size(); from += RANGE_LINE)
            lines << drawLine(font, range.mid(from, RANGE_LINE));
    }
    preview.image = stack(lines, 4);
    return preview;
}

// ---- Soft fonts ----------------------------------------------------------

QString conversionProblem(std::int32_t code) {
    // Code 1 also means the file has no font descriptor at its start.
    if (code == morlix::CONVERSION_CANNOT_OPEN)
        return QStringLiteral("This file does not begin with a soft font's descriptor");
    const char* message = conversionMessage(code);
    return QStringLiteral("This soft font cannot be converted: %1")
        .arg(message ? QString::fromLatin1(message) : QStringLiteral("result %1").arg(code));
}

QString codeLabel(int code) {
    const bool printable = (code > 32 && code < 127) || code > 160;
    return printable ? QStringLiteral("%1 %2").arg(code).arg(QChar(code)) : QString::number(code);
}

// The sheet: 16 characters a row, each cell drawn dot by dot from the
// converted file over a pale box of the cell's size, its code below it.
bool drawSheet(Preview& preview, const ConvertedSoftFont& font, const PreviewLimits& limits) {
    int cellColumns = font.cellWidth();
    for (const ConvertedGlyph& glyph : font.glyphs()) cellColumns = std::max(cellColumns, glyph.words * 16);
    const int cellRows = font.cellHeight();
    const int rows = (int(font.glyphs().size()) + SHEET_COLUMNS - 1) / SHEET_COLUMNS;
    QFont labelFont;
    labelFont.setPixelSize(11);
    const QFontMetrics metrics(labelFont);
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("255 W"));

    int scale =
        std::clamp((MIN_CELL_PIXELS + std::max(cellRows, 1) - 1) / std::max(cellRows, 1), 1, MAX_DOT_SCALE);
    qint64 tileWidth = 0, tileHeight = 0;
    for (;; --scale) {
        tileWidth = std::max<qint64>(qint64(cellColumns) * scale, labelWidth) + SHEET_GAP;
        tileHeight = qint64(cellRows) * scale + metrics.height() + SHEET_GAP;
        if ((tileWidth * SHEET_COLUMNS <= limits.maxSheetSide && tileHeight * rows <= limits.maxSheetSide) ||
            scale == 1)
            break;
    }
    if (tileWidth * SHEET_COLUMNS > limits.maxSheetSide || tileHeight * rows > limits.maxSheetSide) {
        preview.problem = QStringLiteral("The glyph sheet would be %1 x %2 pixels, too large to show")
                              .arg(tileWidth * SHEET_COLUMNS)
                              .arg(tileHeight * rows);
        return false;
    }

    QImage sheet(int(tileWidth * SHEET_COLUMNS), std::max(1, int(tileHeight * rows)), QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    painter.setFont(labelFont);
    const QRgb black = qRgb(0, 0, 0);
    int index = 0;
    for (const ConvertedGlyph& glyph : font.glyphs()) {
        const int left = int(tileWidth) * (index % SHEET_COLUMNS) + SHEET_GAP / 2;
        const int top = int(tileHeight) * (index / SHEET_COLUMNS) + SHEET_GAP / 2;
        ++index;
        const QRect cell(left, top, glyph.words * 16 * scale, cellRows * scale);
        painter.fillRect(QRect(left, top, std::max(font.cellWidth(), glyph.width) * scale, cellRows * scale),
                         QColor(0xE4, 0xEC, 0xF6));
        for (int row = 0; row < cellRows; ++row)
            for (int column = 0; column < glyph.words * 16; ++column)
                if (font.dot(glyph, row, column))
                    painter.fillRect(left + column * scale, top + row * scale, scale, scale, black);
        painter.setPen(QColor(0x55, 0x55, 0x55));
        painter.drawText(QRect(left, top + cellRows * scale, int(tileWidth) - SHEET_GAP, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, codeLabel(glyph.code));
        preview.sheetCells.push_back({glyph.code, cell});
    }
    preview.image = sheet;
    preview.dotScale = scale;
    return true;
}

Preview softFontPreview(Preview preview, const QString& path, const PreviewLimits& limits) {
    // The converter's own reading, with its own size limit.
    morlix::softfont::SoftFontFile file;
    if (!QFileInfo(path).exists()) return problem(preview, QStringLiteral("The file does not exist"));
    if (!morlix::softfont::openSoftFontFile(QFile::encodeName(path).toStdString(), file))
        return problem(preview, QStringLiteral("The file cannot be read"));
    if (file.tooLarge)
        return problem(preview, QString::fromLatin1(conversionMessage(morlix::CONVERSION_INPUT_TOO_LARGE)));
    if (file.bytes.empty()) return problem(preview, QStringLiteral("The file is empty"));
    preview.facts << sizeFact(qint64(file.bytes.size()));

    // Converted in memory exactly as for sending; nothing is written.
    morlix::softfont::ByteSource input(file.bytes, file.readFailed);
    morlix::softfont::FontSummary summary;
    const morlix::softfont::Report quiet([](std::string_view) {});
    const std::int32_t result = morlix::softfont::convertSoftFont(input, summary, quiet);
    if (result != morlix::CONVERSION_OK) return problem(preview, conversionProblem(result));
    QString why;
    const auto font = ConvertedSoftFont::decode(summary.image.file(), why);
    if (!font) return problem(preview, why);

    preview.facts << QStringLiteral("Converted size: %1 bytes")
                         .arg(QLocale().toString(qint64(summary.image.file().size())))
                  << QStringLiteral("Cell: %1 x %2 dots").arg(font->cellWidth()).arg(font->cellHeight())
                  << QStringLiteral("Characters: %1").arg(font->characterCount())
                  << QStringLiteral("Pitch: %1 quarter dots").arg(font->pitch());
    // The count includes a space made for the font and codes defined twice.
    if (font->characterCount() != long(font->glyphs().size()))
        preview.facts << QStringLiteral("Codes drawn: %1").arg(font->glyphs().size());
    drawSheet(preview, *font, limits);
    return preview;
}

// ---- Images --------------------------------------------------------------

QString dotsFact(const QSize& size) {
    return QStringLiteral("Size: %1 x %2 dots").arg(size.width()).arg(size.height());
}

image::PcxReadResult readPcxBounded(const QByteArray& bytes, const PreviewLimits& limits) {
    image::PcxReadLimits pcxLimits;
    pcxLimits.maxSide = limits.maxImageSide;
    pcxLimits.maxDecodedBytes = qint64(limits.maxImageMegabytes) << 20;
    return image::readPcx(bytes, pcxLimits);
}

Preview pcxPreview(Preview preview, const QString& path, const PreviewLimits& limits) {
    QByteArray bytes;
    QString why;
    if (!readBounded(path, limits.maxImageFileBytes, bytes, why)) return problem(preview, why);
    preview.facts << sizeFact(bytes.size());
    const image::PcxReadResult read = readPcxBounded(bytes, limits);
    if (!read.ok()) return problem(preview, read.error);
    preview.facts << dotsFact(read.image.size())
                  << QStringLiteral("PCX version %1, %2 bits per pixel, %3 planes")
                         .arg(read.version)
                         .arg(read.bitsPerPixel)
                         .arg(read.planes);
    preview.image = read.image;
    return preview;
}

Preview bmpPreview(Preview preview, const QString& path, const PreviewLimits& limits) {
    QByteArray bytes;
    QString why;
    if (!readBounded(path, limits.maxImageFileBytes, bytes, why)) return problem(preview, why);
    preview.facts << sizeFact(bytes.size());
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    // A reader that guessed its format does not name it; ask the data first.
    const QByteArray format = QImageReader::imageFormat(&buffer);
    QImageReader reader(&buffer);
    if (const QString refusal = image::readerRefusal(reader, qint64(limits.maxImageMegabytes) << 20);
        !refusal.isEmpty())
        return problem(preview, refusal);
    // Drawings are not pictures the printer takes as BMP; and Qt's SVG
    // reader would read the files a drawing names.
    if (format.startsWith("svg") || format == "pdf")
        return problem(preview, QStringLiteral("Stored as %1, not BMP; a drawing is not shown here")
                                    .arg(QString::fromLatin1(format).toUpper()));
    const QSize size = reader.size();
    if (size.width() > limits.maxImageSide || size.height() > limits.maxImageSide)
        return problem(preview,
                       QStringLiteral("The picture is %1 x %2 dots; more than %3 dots a side are refused")
                           .arg(size.width())
                           .arg(size.height())
                           .arg(limits.maxImageSide));
    QImage picture = reader.read();
    if (picture.isNull())
        return problem(preview, QStringLiteral("This image cannot be read: %1").arg(reader.errorString()));
    preview.facts << dotsFact(picture.size());
    if (format != "bmp")
        preview.facts << QStringLiteral("Stored as %1, not BMP").arg(QString::fromLatin1(format).toUpper());
    preview.image = std::move(picture);
    return preview;
}

}  // namespace

QString loadProblem(LoaderMode mode, const QString& path, const PreviewLimits& limits) {
    QByteArray bytes;
    QString why;
    switch (mode) {
        case LoaderMode::ModeTTF:
            if (!readBounded(path, limits.maxFontFileBytes, bytes, why)) return why;
            return fontTablesProblem(bytes);
        case LoaderMode::ModePCX:
            if (!readBounded(path, limits.maxImageFileBytes, bytes, why)) return why;
            return readPcxBounded(bytes, limits).error;
        case LoaderMode::ModeSF:
        case LoaderMode::ModeBMP:
            break;
    }
    return {};
}

Preview makePreview(LoaderMode mode, const QString& path, const PreviewLimits& limits) {
    Preview preview;
    preview.heading = QFileInfo(path).fileName();
    switch (mode) {
        case LoaderMode::ModeTTF:
            return trueTypePreview(std::move(preview), path, limits);
        case LoaderMode::ModeSF:
            return softFontPreview(std::move(preview), path, limits);
        case LoaderMode::ModePCX:
            return pcxPreview(std::move(preview), path, limits);
        case LoaderMode::ModeBMP:
            return bmpPreview(std::move(preview), path, limits);
    }
    return problem(std::move(preview), QStringLiteral("Unknown mode"));
}

}  // namespace velquin::preview
