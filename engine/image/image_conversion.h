// The conversion dialog's logic: one source image, the operator's choices
// (size in dots or as a length at a resolution, black-and-white mode,
// invert, turn), the result and its PCX bytes, and where the PCX goes: beside
// the image, replacing without asking only a file this program wrote.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "image_converter.h"

namespace velquin::image {

// The image's path with its last extension replaced by ".pcx" (added when it
// has none).
QString pcxPathBeside(const QString& imagePath);

// Remembers the PCX files this program wrote (path and content digest), so a
// later conversion may replace them without asking; a file changed since, or
// never written here, is not ours.
class WrittenFiles {
public:
    // `recordFile` keeps the list between runs; empty: only in memory.
    explicit WrittenFiles(QString recordFile = defaultRecordFile());
    static QString defaultRecordFile();

    bool isOurs(const QString& path) const;
    void remember(const QString& path, const QByteArray& content);

private:
    QStringList load() const;
    QString recordFile_;
    QStringList memory_;
};

class ImageConversion {
public:
    // The dialog lets the operator pick the mode; it starts at diffusion.
    ImageConversion() { options.dither = Dither::Diffusion; }

    // Decodes the image for the preview; false with error() when it cannot.
    bool open(const QString& imagePath);
    const QString& imagePath() const { return imagePath_; }
    const QString& error() const { return error_; }
    // The source as read (flattened on white, grey), for the "before" view.
    const QImage& source() const { return loaded_.grey; }
    QSize sourceSize() const { return loaded_.grey.size(); }

    ConversionOptions options;
    int dotsPerInch = 203;

    // Width or height in dots; the other side follows the aspect when
    // `keepAspect`, else stays as it was.
    void setWidthDots(int dots, bool keepAspect);
    void setHeightDots(int dots, bool keepAspect);
    QSize sizeDots() const;
    double widthMillimetres() const { return millimetresFor(sizeDots().width(), dotsPerInch); }
    double heightMillimetres() const { return millimetresFor(sizeDots().height(), dotsPerInch); }

    // The picture at the printer's dots for the current choices; a vector
    // image is drawn again at the dots asked for.
    const ConversionResult& result();
    QByteArray pcx();

    enum class SaveCheck { Free, Ours, NotOurs };
    SaveCheck checkTarget(const QString& path, const WrittenFiles& written) const;
    // Writes the PCX (atomically) and remembers it; false with error().
    bool write(const QString& path, WrittenFiles& written);

private:
    QString imagePath_;
    QString error_;
    LoadedImage loaded_;
    std::optional<LoadedImage> rendered_;  // a vector image drawn at the dots
    ConversionResult result_;
    std::optional<ConversionOptions> resultFor_;
    int resultDpi_ = 0;
};

}  // namespace velquin::image
