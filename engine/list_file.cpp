#include "list_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

namespace velquin {

namespace {

std::nullopt_t refuse(QString* problem, const QString& why) {
    if (problem) *problem = why;
    return std::nullopt;
}

QStringList namesOf(const QList<QByteArray>& lines) {
    QStringList names;
    names.reserve(lines.size());
    for (const QByteArray& line : lines) names << QFile::decodeName(line);
    return names;
}

}  // namespace

bool writeListFile(const QString& listFile, const QStringList& paths) {
    QByteArray content;
    for (const QString& path : paths) content += QFile::encodeName(path) + "\r\n";
    QSaveFile file(listFile);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

std::optional<QStringList> readListFile(const QString& listFile, QString* problem) {
    const std::optional<QList<QByteArray>> lines = readListFileLines(listFile, problem);
    if (!lines) return std::nullopt;
    return namesOf(*lines);
}

std::optional<QList<QByteArray>> readListFileLines(const QString& listFile, QString* problem) {
    // Opened without waiting (a FIFO would block) and judged by what was
    // opened: only a regular file, and only as much as a list can hold, so
    // a device (/dev/zero) or a huge file is never read whole.
    const int descriptor = ::open(QFile::encodeName(listFile).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return refuse(problem, QString::fromLocal8Bit(std::strerror(errno)));
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return refuse(problem, file.errorString());
    }
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))
        return refuse(problem, QStringLiteral("not a regular file"));
    const QByteArray content = file.read(MAX_LIST_FILE_SIZE + 1);
    if (file.error() != QFileDevice::NoError) return refuse(problem, file.errorString());
    if (content.size() > MAX_LIST_FILE_SIZE)
        return refuse(problem, QStringLiteral("larger than %1 bytes").arg(MAX_LIST_FILE_SIZE));
    return parseListFileLines(content, problem);
}

std::optional<QStringList> parseListFile(const QByteArray& content, QString* problem) {
    const std::optional<QList<QByteArray>> lines = parseListFileLines(content, problem);
    if (!lines) return std::nullopt;
    return namesOf(*lines);
}

std::optional<QList<QByteArray>> parseListFileLines(const QByteArray& content, QString* problem) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = start;
        while (end < content.size() && content[end] != '\r' && content[end] != '\n') ++end;
        const QByteArray line = content.mid(start, end - start);
        // No file name holds a NUL byte: the line would name another file.
        if (line.contains('\0'))
            return refuse(problem, QStringLiteral("line %1 holds a NUL byte").arg(lines.size() + 1));
        lines << line;
        if (end < content.size() && content[end] == '\r') ++end;
        if (end < content.size() && content[end] == '\n') ++end;
        start = end;
    }
    return lines;
}

}  // namespace velquin
