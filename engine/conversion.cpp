#include "conversion.h"

#include <velquin/conversion_result.h>
#include <velquin/converted_file_name.h>

#include <QFile>
#include <QFileInfo>
#include <array>

#include "operation_view.h"

namespace velquin {

namespace {

// Messages of the result codes 0 to 29, by code.
constexpr std::array<const char*, 30> CONVERSION_MESSAGES = {
    "Good",
    "Soft font file not found",
    "Error application could not allocate memory",
    "Soft Font header too long",
    "Error application could not read Soft Font header",
    "Error application bad character",
    "Error Soft Font is type INTELLIFONT BOUND SCALEABLE",
    "Error Soft Font is type INTELLIFONT UNBOUND SCALEABLE",
    "Error Soft Font is type TRUE TYPE SCALEABLE",
    "Error Soft Font is RESOLUTION SPECIFIED BITMAP",
    "Error Soft Font is FONT TYPE 1 Not compatable",
    "Error Soft Font is FONT TYPE 2 Not compatable",
    "Error Soft Font is FONT TYPE 10 Not compatable",
    "Error Soft Font is FONT TYPE 11 Not compatable",
    "Error Soft Font is LANDSCAPE MODE",
    "Error Soft Font is REVERSE PORTRAIT MODE",
    "Error Soft Font is REVERSE LANDSCAPE MODE",
    "Error Soft Font is of UNKNOWN ORIENTATION",
    "Error Soft Font spacing unknown",
    "Error Soft Font type greater than 2",
    "Error application reading character generator data",
    "Error first byte of character generator NOT escape character",
    "Error second byte of character generator NOT Asterisk",
    "Error third byte of character generator is NOT c",
    "Error no terminating E in character generator",
    "Error read character default",
    nullptr,  // 26 ends a font inside the converter and never reaches the program
    "Error application could not write the converted file",
    "Error Soft Font converts to more than any printer's flash can hold (9,000,000 bytes)",
    "Error Soft Font file larger than any soft font can be (16 MiB)",
};

}  // namespace

QString GetConversionErrorString(std::int32_t errorCode) {
    if (errorCode >= 0 && errorCode < static_cast<std::int32_t>(CONVERSION_MESSAGES.size()) &&
        CONVERSION_MESSAGES[static_cast<std::size_t>(errorCode)] != nullptr) {
        return QString::fromLatin1(CONVERSION_MESSAGES[static_cast<std::size_t>(errorCode)]);
    }
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
    if (result > CONVERSION_OK) {
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
        outcome.errorNumber = CONVERSION_WRITE_FAILED;
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
