#include "conversion.h"

#include <morlix/conversion_result.h>
#include <velquin/conversion_messages.h>
#include <velquin/converted_file_name.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "operation_view.h"

namespace velquin {

QString GetConversionErrorString(std::int32_t errorCode) {
    if (const char* message = conversionMessage(errorCode)) return QString::fromLatin1(message);
    return QStringLiteral("Unknown conversion error");
}

QString ConvertFileName(const QString& softFontFileName) {
    const QByteArray converted =
        QByteArray::fromStdString(convertedFileName(QFile::encodeName(softFontFileName).toStdString()));
    return QFile::decodeName(converted);
}

QString cachedSoftFontCopy(const QString& softFontFileName) {
    QString cacheHome = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cacheHome.isEmpty()) cacheHome = QDir::homePath() + QStringLiteral("/.cache");
    const QFileInfo font(softFontFileName);
    const QByteArray folderKey =
        QCryptographicHash::hash(QFile::encodeName(font.absoluteFilePath()), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return cacheHome + QStringLiteral("/velquin/soft-fonts/") + QString::fromLatin1(folderKey) +
           QLatin1Char('/') + font.fileName();
}

QString convertedFileOf(const QString& softFontFileName) {
    const QString beside = ConvertFileName(softFontFileName);
    const QString cached = ConvertFileName(cachedSoftFontCopy(softFontFileName));
    return !QFileInfo::exists(beside) && QFileInfo::exists(cached) ? cached : beside;
}

namespace {

// The cause behind a converter's refusal, where one can be told: the
// system's reason a file cannot be read or written, or what the file lacks.
QString causeOf(std::int32_t result, const QString& font, const QString& converted) {
    if (result == morlix::CONVERSION_CANNOT_OPEN) {
        QFile file(font);
        if (!file.open(QIODevice::ReadOnly)) return file.errorString();
        if (!QFileInfo(font).isFile()) return QStringLiteral("not a regular file");
        return QStringLiteral("no soft font header in the file");
    }
    if (result == morlix::CONVERSION_WRITE_FAILED) {
        QFile file(converted);
        if (!file.open(QIODevice::ReadWrite)) return converted + QStringLiteral(": ") + file.errorString();
    }
    return {};
}

// Copies the font into its cache folder (private to this user) for a
// conversion there; the copy's folder takes the converted file.
bool copyIntoCache(const QString& font, const QString& copy, QString& problem) {
    const QString folder = QFileInfo(copy).absolutePath();
    if (!QDir().mkpath(folder)) {
        problem = folder + QStringLiteral(": the cache folder cannot be made");
        return false;
    }
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::remove(copy);
    QFile source(font);
    if (!source.copy(copy)) {
        problem = copy + QStringLiteral(": ") + source.errorString();
        return false;
    }
    return true;
}

}  // namespace

ConversionOutcome ConvertFileSFFtoQKS(const QString& SFFfileName, bool diagnostics,
                                      const SoftFontConverterCall& convert, StatusLog& status) {
    ConversionOutcome outcome;
    QString converting = SFFfileName;
    std::int32_t result = convert(QFile::encodeName(converting));
    QString cause = causeOf(result, SFFfileName, ConvertFileName(SFFfileName));
    // The font's folder cannot take the converted file: convert a copy in
    // the cache folder, where this user can always write.
    if (result == morlix::CONVERSION_WRITE_FAILED) {
        const QString copy = cachedSoftFontCopy(SFFfileName);
        if (copyIntoCache(SFFfileName, copy, cause)) {
            converting = copy;
            result = convert(QFile::encodeName(converting));
            cause = causeOf(result, copy, ConvertFileName(copy));
        }
    }
    if (result > morlix::CONVERSION_OK) {
        status.addStatusLine(SFFfileName + QLatin1Char(' ') + GetConversionErrorString(result));
        status.selectLastStatusLine();
        outcome.errorNumber = result;
        outcome.reason = GetConversionErrorString(result);
        if (!cause.isEmpty()) outcome.reason += QStringLiteral(" (") + cause + QLatin1Char(')');
        return outcome;
    }

    outcome.convertedFileName = ConvertFileName(converting);
    QFile converted(outcome.convertedFileName);
    // A converted file that is not there cannot be sent: the conversion failed
    // as far as the operator is concerned, whatever the converter said.
    if (!converted.open(QIODevice::ReadOnly)) {
        status.addStatusLine(outcome.convertedFileName + QStringLiteral(" could not be opened"));
        status.selectLastStatusLine();
        outcome.errorNumber = morlix::CONVERSION_WRITE_FAILED;
        outcome.reason =
            outcome.convertedFileName + QStringLiteral(" could not be opened: ") + converted.errorString();
        return outcome;
    }
    const qint64 size = converted.size();
    outcome.sizeOfConvertedFile = size > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(size);
    if (diagnostics) {
        status.addStatusLine(outcome.convertedFileName + QStringLiteral(" size = ") +
                             QString::number(outcome.sizeOfConvertedFile));
    }
    outcome.converted = true;
    return outcome;
}

}  // namespace velquin
