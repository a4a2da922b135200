#include "svg_drawing.h"

#include <zlib.h>

#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>
#include <optional>

namespace velquin::image {

namespace {

constexpr qint64 STRIP_BYTES = qint64(8) << 20;
constexpr double MILLIMETRES_PER_INCH = 25.4;

// An .svgz file unpacked, at most MAX_SVG_BYTES; the bytes as they are when
// they are not gzip data.
bool unpacked(const QByteArray& bytes, QByteArray& text, QString& why) {
    if (bytes.size() < 2 || uchar(bytes[0]) != 0x1f || uchar(bytes[1]) != 0x8b) {
        text = bytes;
        return true;
    }
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        why = QStringLiteral("The compressed SVG can not be unpacked");
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    text.clear();
    char chunk[64 * 1024];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        text.append(chunk, static_cast<qsizetype>(sizeof chunk - stream.avail_out));
        if (text.size() > MAX_SVG_BYTES) break;
        if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
    }
    inflateEnd(&stream);
    if (text.size() > MAX_SVG_BYTES) {
        why = QStringLiteral("The SVG unpacks to more than %1 MiB; it is refused").arg(MAX_SVG_BYTES >> 20);
        return false;
    }
    if (status != Z_STREAM_END) {
        why = QStringLiteral("The compressed SVG is damaged");
        return false;
    }
    return true;
}

// A width or height attribute in millimetres, or nothing when it is in
// pixels, a share or missing.
std::optional<double> millimetres(const QString& length) {
    static const QRegularExpression PATTERN(QStringLiteral("^\\s*([0-9.eE+-]+)\\s*(mm|cm|in|pt|pc)\\s*$"));
    const QRegularExpressionMatch match = PATTERN.match(length);
    if (!match.hasMatch()) return std::nullopt;
    bool ok = false;
    const double value = match.captured(1).toDouble(&ok);
    if (!ok || !(value > 0)) return std::nullopt;
    const QString unit = match.captured(2);
    const double perUnit = unit == QLatin1String("mm")   ? 1.0
                           : unit == QLatin1String("cm") ? 10.0
                           : unit == QLatin1String("in") ? MILLIMETRES_PER_INCH
                           : unit == QLatin1String("pt") ? MILLIMETRES_PER_INCH / 72
                                                         : MILLIMETRES_PER_INCH / 6;
    return value * perUnit;
}

bool namesOnlyItself(const QXmlStreamAttributes& attributes) {
    for (const QXmlStreamAttribute& attribute : attributes) {
        if (attribute.name() != QLatin1String("href")) continue;
        const QStringView target = attribute.value().trimmed();
        if (!target.startsWith(QLatin1String("data:"), Qt::CaseInsensitive) &&
            !target.startsWith(QLatin1Char('#')))
            return false;
    }
    return true;
}

struct Cleaned {
    QByteArray text;
    std::optional<double> widthMm, heightMm;
    QString error;
    QStringList warnings;
};

// The drawing written again without the elements that would read another
// file (pictures by path or address) and without its document type, whose
// entities the reader has already expanded.
Cleaned cleaned(const QByteArray& text) {
    Cleaned result;
    QXmlStreamReader reader(text);
    QXmlStreamWriter writer(&result.text);
    int elements = 0;
    bool root = true;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::Invalid) break;
        if (token == QXmlStreamReader::DTD) continue;
        if (token == QXmlStreamReader::StartElement) {
            if (++elements > MAX_SVG_ELEMENTS) {
                result.error =
                    QStringLiteral("The SVG has more than %1 elements; it is refused").arg(MAX_SVG_ELEMENTS);
                return result;
            }
            if (root) {
                root = false;
                result.widthMm = millimetres(reader.attributes().value(QLatin1String("width")).toString());
                result.heightMm = millimetres(reader.attributes().value(QLatin1String("height")).toString());
            }
            // Of what Qt's renderer draws, only a picture is read from where
            // it points (a link or a reuse stays inside the file).
            if (reader.name() == QLatin1String("image") && !namesOnlyItself(reader.attributes())) {
                QString target;
                for (const QXmlStreamAttribute& attribute : reader.attributes())
                    if (attribute.name() == QLatin1String("href"))
                        target = attribute.value().left(200).toString();
                // The name reaches a terminal: no control characters.
                for (QChar& character : target)
                    if (character.category() == QChar::Other_Control) character = QLatin1Char('?');
                result.warnings << QStringLiteral(
                                       "The SVG's picture %1 is left out: only what the file "
                                       "itself holds is drawn")
                                       .arg(target);
                reader.skipCurrentElement();
                continue;
            }
        }
        writer.writeCurrentToken(reader);
    }
    if (reader.hasError())
        result.error = QStringLiteral("The SVG can not be read (line %1: %2)")
                           .arg(reader.lineNumber())
                           .arg(reader.errorString());
    return result;
}

}  // namespace

SvgDrawing openSvg(const QByteArray& bytes, int dotsPerInch) {
    SvgDrawing drawing;
    QByteArray text;
    if (!unpacked(bytes, text, drawing.error)) return drawing;
    if (text.size() > MAX_SVG_BYTES) {
        drawing.error =
            QStringLiteral("The SVG is larger than %1 MiB; it is refused").arg(MAX_SVG_BYTES >> 20);
        return drawing;
    }
    Cleaned clean = cleaned(text);
    drawing.warnings = clean.warnings;
    if (!clean.error.isEmpty()) {
        drawing.error = clean.error;
        return drawing;
    }
    auto renderer = std::make_shared<QSvgRenderer>();
    if (!renderer->load(clean.text) || !renderer->isValid() || renderer->defaultSize().isEmpty()) {
        drawing.error = QStringLiteral("The SVG can not be drawn");
        return drawing;
    }
    // The renderer's own size counts lengths at 90 to the inch; a drawing
    // given in lengths keeps them at the printer's resolution.
    // A side given without a length follows the other by the drawing's aspect.
    const QSizeF own =
        renderer->viewBoxF().isEmpty() ? QSizeF(renderer->defaultSize()) : renderer->viewBoxF().size();
    std::optional<double> widthMm = clean.widthMm, heightMm = clean.heightMm;
    if (widthMm && !heightMm) heightMm = *widthMm * own.height() / own.width();
    if (heightMm && !widthMm) widthMm = *heightMm * own.width() / own.height();
    const auto dots = [dotsPerInch](double millimetres) {
        return int(
            std::clamp(std::lround(millimetres * dotsPerInch / MILLIMETRES_PER_INCH), 1L, 1'000'000'000L));
    };
    drawing.size = widthMm ? QSize(dots(*widthMm), dots(*heightMm)) : renderer->defaultSize();
    drawing.renderer = std::move(renderer);
    return drawing;
}

QString drawSvgRows(const SvgDrawing& drawing, QSize upright, int rotation,
                    const std::function<void(const std::uint8_t*)>& row, std::chrono::milliseconds budget,
                    QRectF part) {
    if (!drawing.ok() || upright.isEmpty() || part.isEmpty())
        return QStringLiteral("There is no drawing to draw");
    const bool quarter = rotation == 90 || rotation == 270;
    const QSize final = quarter ? upright.transposed() : upright;
    const int stripRows =
        int(std::clamp<qint64>(STRIP_BYTES / (qint64(final.width()) * 4), 1, qint64(final.height())));
    QImage strip(final.width(), stripRows, QImage::Format_RGB32);
    if (strip.isNull()) return QStringLiteral("There is not enough memory for the image");
    QElapsedTimer clock;
    clock.start();
    for (int top = 0; top < final.height(); top += stripRows) {
        strip.fill(Qt::white);
        {
            QPainter painter(&strip);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.translate(0, -top);
            if (rotation == 90) painter.translate(final.width(), 0);
            if (rotation == 180) painter.translate(final.width(), final.height());
            if (rotation == 270) painter.translate(0, final.height());
            painter.rotate(rotation);
            const double width = upright.width() / part.width(), height = upright.height() / part.height();
            drawing.renderer->render(&painter, QRectF(-part.x() * width, -part.y() * height, width, height));
        }
        const QImage grey = strip.convertToFormat(QImage::Format_Grayscale8);
        if (grey.isNull()) return QStringLiteral("There is not enough memory for the image");
        for (int y = 0; y < stripRows && top + y < final.height(); ++y) row(grey.constScanLine(y));
        if (clock.elapsed() > budget.count() && top + stripRows < final.height())
            return QStringLiteral("Drawing the SVG takes more than %1 s; it is refused as too costly")
                .arg(budget.count() / 1000.0);
    }
    return {};
}

}  // namespace velquin::image
