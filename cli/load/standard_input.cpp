#include "standard_input.h"

#include <QDir>
#include <QFile>

#include "list_file.h"

namespace velquin::load {

namespace {

// At most `limit` bytes of standard input; nothing when it holds more or cannot be read.
std::optional<QByteArray> readStandardInput(qint64 limit, QString& problem) {
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        problem = input.errorString();
        return std::nullopt;
    }
    const QByteArray bytes = input.read(limit + 1);
    if (input.error() != QFileDevice::NoError) {
        problem = input.errorString();
        return std::nullopt;
    }
    if (bytes.size() > limit) {
        problem = QStringLiteral("larger than %1 bytes").arg(limit);
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

StandardInputTaken takeStandardInput(LoadOptions& options, const QString& folder) {
    QString problem;
    if (options.listFile == QLatin1String("-")) {
        const std::optional<QByteArray> content = readStandardInput(MAX_LIST_FILE_SIZE, problem);
        const std::optional<QStringList> lines =
            content ? parseListFile(*content, &problem) : std::optional<QStringList>();
        if (!lines) return {QStringLiteral("cannot read the list on standard input: %1").arg(problem)};
        options.listFile.clear();
        for (const QString& line : *lines)
            if (!line.trimmed().isEmpty()) options.files << QDir::current().absoluteFilePath(line);
        if (options.files.isEmpty())
            return {QStringLiteral("the list on standard input names no file: nothing to send"), true};
        return {};
    }
    const qsizetype dash = options.files.indexOf(QStringLiteral("-"));
    if (dash < 0) return {};
    const std::optional<QByteArray> bytes = readStandardInput(MAX_STANDARD_INPUT_SIZE, problem);
    if (!bytes) return {QStringLiteral("cannot read standard input: %1").arg(problem)};
    const QString copy = QDir(folder).filePath(QStringLiteral("standard-input"));
    QFile file(copy);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size() || !file.flush())
        return {QStringLiteral("cannot keep standard input in %1: %2").arg(folder, file.errorString())};
    options.files[dash] = copy;
    options.standardInputCopy = copy;
    return {};
}

}  // namespace velquin::load
