// Soft font conversion as the program sees it: the converter's result codes
// as the operator's messages, the name of the converted file, and one
// conversion through the library with its size and diagnostics lines.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

namespace velquin {

class StatusLog;

// The message the operator sees for a converter result code.
QString GetConversionErrorString(std::int32_t errorCode);

// The path of the converted file the converter writes for a soft font:
// beside the input, its last extension replaced by ".QKS".
QString ConvertFileName(const QString& softFontFileName);

// Runs the library's converter on one soft font path (8-bit, as the library
// takes it) and gives back its result code.
using SoftFontConverterCall = std::function<std::int32_t(const QByteArray& softFontPath)>;

struct ConversionOutcome {
    bool converted = false;
    std::int32_t sizeOfConvertedFile = 0;
    std::int32_t errorNumber = 0;
    QString convertedFileName;
};

// Converts one soft font and reads the size of the converted file. A failed
// conversion adds the path and the message to the diagnostics list; with
// `diagnostics` set a good one adds the converted file's size.
ConversionOutcome ConvertFileSFFtoQKS(const QString& SFFfileName, bool diagnostics,
                                      const SoftFontConverterCall& convert, StatusLog& status);

}  // namespace velquin
