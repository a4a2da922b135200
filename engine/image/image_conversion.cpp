#include "image_conversion.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>

#include "output_file.h"
#include "pcx.h"

namespace velquin::image {

namespace {

// The record keeps the newest files only.
constexpr qsizetype RECORD_LIMIT = 1000;

QString recordLine(const QString& path, const QByteArray& content) {
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()) +
           QLatin1Char(' ') + QFileInfo(path).absoluteFilePath();
}

bool sameOptions(const ConversionOptions& a, const ConversionOptions& b) {
    return a.widthDots == b.widthDots && a.heightDots == b.heightDots && a.dither == b.dither &&
           a.thresholdLevel == b.thresholdLevel && a.invert == b.invert && a.rotation == b.rotation;
}

}  // namespace

QString pcxPathBeside(const QString& imagePath) {
    const QFileInfo info(imagePath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    return QDir(info.path()).filePath(stem + QStringLiteral(".pcx"));
}

WrittenFiles::WrittenFiles(QString recordFile) : recordFile_(std::move(recordFile)) {}

QString WrittenFiles::defaultRecordFile() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QStringLiteral("written-pcx-files"));
}

QStringList WrittenFiles::load() const {
    if (recordFile_.isEmpty()) return memory_;
    QFile file(recordFile_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool WrittenFiles::isOurs(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    return load().contains(recordLine(path, file.readAll()));
}

void WrittenFiles::remember(const QString& path, const QByteArray& content) {
    QStringList lines = load();
    const QString absolute = QLatin1Char(' ') + QFileInfo(path).absoluteFilePath();
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const QString& line) { return line.endsWith(absolute); }),
                lines.end());
    lines << recordLine(path, content);
    if (lines.size() > RECORD_LIMIT) lines = lines.mid(lines.size() - RECORD_LIMIT);
    if (recordFile_.isEmpty()) {
        memory_ = lines;
        return;
    }
    QDir().mkpath(QFileInfo(recordFile_).path());
    QSaveFile file(recordFile_);
    if (file.open(QIODevice::WriteOnly)) {
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        file.commit();
    }
}

bool ImageConversion::open(const QString& imagePath) {
    imagePath_ = imagePath;
    rendered_.reset();
    resultFor_.reset();
    loaded_ = loadImage(imagePath, options.limits);
    error_ = loaded_.error;
    if (!loaded_.ok()) return false;
    options.widthDots = 0;
    options.heightDots = 0;
    return true;
}

QSize ImageConversion::sizeDots() const {
    return resultSize(sourceSize(), options);
}

void ImageConversion::setWidthDots(int dots, bool keepAspect) {
    const QSize now = sizeDots();
    options.widthDots = dots;
    options.heightDots = keepAspect ? 0 : now.height();
}

void ImageConversion::setHeightDots(int dots, bool keepAspect) {
    const QSize now = sizeDots();
    options.heightDots = dots;
    options.widthDots = keepAspect ? 0 : now.width();
}

const ConversionResult& ImageConversion::result() {
    if (resultFor_ && sameOptions(*resultFor_, options)) return result_;
    const LoadedImage* from = &loaded_;
    if (loaded_.isVector && loaded_.ok()) {
        const QSize target = sizeDots();
        const bool quarter = options.rotation == 90 || options.rotation == 270;
        const QSize upright = quarter ? target.transposed() : target;
        if (target.isValid() && (!rendered_ || rendered_->grey.size() != upright)) {
            rendered_ = loadImage(imagePath_, options.limits, upright);
        }
        if (rendered_ && rendered_->ok()) from = &*rendered_;
    }
    // The drawing already has the dots; size it from the source's aspect.
    ConversionOptions effective = options;
    if (from != &loaded_) {
        const QSize target = sizeDots();
        effective.widthDots = target.width();
        effective.heightDots = target.height();
    }
    result_ = convertLoaded(*from, effective);
    resultFor_ = options;
    return result_;
}

QByteArray ImageConversion::pcx() {
    const ConversionResult& converted = result();
    return converted.ok() ? writePcx(converted.image, dotsPerInch) : QByteArray();
}

ImageConversion::SaveCheck ImageConversion::checkTarget(const QString& path,
                                                        const WrittenFiles& written) const {
    if (!QFileInfo::exists(path)) return SaveCheck::Free;
    return written.isOurs(path) ? SaveCheck::Ours : SaveCheck::NotOurs;
}

bool ImageConversion::write(const QString& path, WrittenFiles& written) {
    const QByteArray bytes = pcx();
    if (bytes.isEmpty()) {
        error_ = result().error;
        return false;
    }
    if (const QString why = writeOutputFile(path, bytes, {imagePath_}); !why.isEmpty()) {
        error_ = why;
        return false;
    }
    written.remember(path, bytes);
    return true;
}

}  // namespace velquin::image
