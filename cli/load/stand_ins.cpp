#include "stand_ins.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>

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
    options.shownNames.insert(copy, QStringLiteral("-"));
    return {};
}

QString linkToRawName(const QByteArray& rawName, const QString& folder, const QString& name) {
    struct stat info {};
    if (::stat(rawName.constData(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    // The link is read from the private folder: a relative name is made whole.
    QByteArray target = rawName;
    if (!target.startsWith('/')) {
        char here[PATH_MAX];
        if (::getcwd(here, sizeof here) == nullptr) return {};
        target = QByteArray(here) + '/' + target;
    }
    // The extension stays: it is what the name says the file is.
    const qsizetype dot = rawName.lastIndexOf('.');
    const QByteArray extension = dot > rawName.lastIndexOf('/') ? rawName.mid(dot) : QByteArray();
    const QString link = QDir(folder).filePath(name + rawNameShown(extension));
    if (::symlink(target.constData(), QFile::encodeName(link).constData()) != 0) return {};
    return link;
}

StandardInputTaken takeRawListNames(LoadOptions& options, const std::function<QString()>& folder) {
    const auto isText = [](const QByteArray& name) {
        return QFile::encodeName(QFile::decodeName(name)) == name;
    };
    // A list that cannot be read is told of as usual, when its files are resolved.
    const std::optional<QList<QByteArray>> lines = readListFileLines(options.listFile);
    if (!lines || std::all_of(lines->begin(), lines->end(), isText)) return {};
    const QDir listFolder = QFileInfo(options.listFile).absoluteDir();
    QStringList files;
    for (qsizetype index = 0; index < lines->size(); ++index) {
        const QByteArray& line = (*lines)[index];
        if (line.trimmed().isEmpty()) continue;
        if (isText(line)) {
            files << listFolder.filePath(QFile::decodeName(line));
            continue;
        }
        const QByteArray raw =
            line.startsWith('/') ? line : QFile::encodeName(listFolder.absolutePath()) + '/' + line;
        const QString link = linkToRawName(raw, folder(), QStringLiteral("line-%1").arg(index + 1));
        if (link.isEmpty())
            return {QStringLiteral("line %1 of %2 is not valid UTF-8 (%3) and names no file")
                        .arg(index + 1)
                        .arg(options.listFile, rawNameShown(line))};
        options.shownNames.insert(link, rawNameShown(line));
        files << link;
    }
    if (!options.mode) options.mode = modeOfListFile(options.listFile);
    options.files = files;
    options.listFile.clear();
    return {};
}

QString rawNameShown(const QByteArray& rawName) {
    QString shown;
    for (const char byte : rawName) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 || code >= 0x7f)
            shown += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else
            shown += QLatin1Char(byte);
    }
    return shown;
}

}  // namespace velquin::load
