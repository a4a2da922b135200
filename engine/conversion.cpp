#include "conversion.h"

#include <morlix/conversion_result.h>
#include <velquin/conversion_messages.h>
#include <velquin/converted_file_name.h>

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

ConversionOutcome ConvertFileSFFtoQKS(const QString& SFFfileName, bool diagnostics,
                                      const SoftFontConverterCall& convert, StatusLog& status) {
    ConversionOutcome outcome;
    const std::int32_t result = convert(QFile::encodeName(SFFfileName));
    if (result > morlix::CONVERSION_OK) {
        status.addStatusLine(SFFfileName + QLatin1Char(' ') + GetConversionErrorString(result));
        status.selectLastStatusLine();
        outcome.errorNumber = result;
        return outcome;
    }

    outcome.convertedFileName = ConvertFileName(SFFfileName);
    QFile converted(outcome.convertedFileName);
    // A converted file that is not there cannot be sent: the conversion failed
    // as far as the operator is concerned, whatever the converter said.
    if (!converted.open(QIODevice::ReadOnly)) {
        status.addStatusLine(outcome.convertedFileName + QStringLiteral(" could not be opened"));
        status.selectLastStatusLine();
        outcome.errorNumber = morlix::CONVERSION_WRITE_FAILED;
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
