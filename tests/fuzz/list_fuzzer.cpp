// Fuzzes the reading of list files: any bytes give lines or a named refusal,
// and lines never hold a line end or reach beyond the input.
#include <QByteArray>
#include <cstdint>
#include <cstdlib>

#include "list_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString problem;
    const std::optional<QStringList> lines = velquin::parseListFile(content, &problem);
    if (!lines) {
        if (problem.isEmpty() || !content.contains('\0')) std::abort();
        return 0;
    }
    qsizetype characters = 0;
    for (const QString& line : *lines) {
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) std::abort();
        characters += line.size();
    }
    if (characters > static_cast<qsizetype>(size) || lines->size() > static_cast<qsizetype>(size))
        std::abort();
    return 0;
}
