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

// Where a soft font is converted when its own folder cannot take the
// converted file (a read-only folder, a package's share folder, a mount):
// a copy of the font under the program's cache folder
// ($XDG_CACHE_HOME/velquin/soft-fonts/), one folder per font path.
QString cachedSoftFontCopy(const QString& softFontFileName);

// The converted file of a soft font as the last conversion left it: beside
// the font, or in the cache folder when only that one is there.
QString convertedFileOf(const QString& softFontFileName);

struct ConversionOutcome {
    bool converted = false;
    std::int32_t sizeOfConvertedFile = 0;
    std::int32_t errorNumber = 0;
    QString convertedFileName;
    // Why a conversion failed: the converter's message, and the cause
    // behind it where the system or the file tells one.
    QString reason;
};

// Converts one soft font and reads the size of the converted file. The
// converted file goes beside the font; when it cannot be written there, the
// font is converted in the cache folder instead. A failed conversion adds
// the path and the message to the diagnostics list; with `diagnostics` set a
// good one adds the converted file's size.
ConversionOutcome ConvertFileSFFtoQKS(const QString& SFFfileName, bool diagnostics,
                                      const SoftFontConverterCall& convert, StatusLog& status);

}  // namespace velquin
