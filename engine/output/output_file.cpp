#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

namespace velquin {

namespace {

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString cannotWrite(const QString& path, const QString& why) {
    return QStringLiteral("%1 can not be written (%2)").arg(path, why);
}

// Every byte to the descriptor; the system's reason when one cannot be.
QString writeAll(int descriptor, const QByteArray& bytes) {
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, at, static_cast<std::size_t>(left));
        if (written < 0) {
            if (errno == EINTR) continue;
            return systemReason(errno);
        }
        at += written;
        left -= written;
    }
    return {};
}

// Writes a new file beside `path`, then renames it into place once every
// write, the flush to the disk and the close succeeded; on failure the new
// file goes and `path` stays as it was. The file keeps the old one's mode.
QString replaceWhole(const QString& path, const QByteArray& bytes) {
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray name = QFile::encodeName(info.fileName());
    QByteArray temporary;
    int descriptor = -1;
    for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
        temporary =
            folder + "/." + name + "." + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        descriptor = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno != EEXIST) return systemReason(errno);
    }
    if (descriptor < 0) return systemReason(EEXIST);
    struct stat old {};
    QString why;
    if (::stat(QFile::encodeName(path).constData(), &old) == 0 &&
        ::fchmod(descriptor, old.st_mode & 07777) != 0)
        why = systemReason(errno);
    if (why.isEmpty()) why = writeAll(descriptor, bytes);
    if (why.isEmpty() && ::fsync(descriptor) != 0) why = systemReason(errno);
    if (::close(descriptor) != 0 && why.isEmpty()) why = systemReason(errno);
    if (why.isEmpty() && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        why = systemReason(errno);
    if (!why.isEmpty()) ::unlink(temporary.constData());
    return why;
}

}  // namespace

QString outputRefusal(const QString& path, const QStringList& inputs) {
    if (path == QLatin1String(STANDARD_OUTPUT_NAME)) return {};
    struct stat target {};
    if (::stat(QFile::encodeName(path).constData(), &target) != 0) return {};
    for (const QString& input : inputs) {
        struct stat source {};
        if (::stat(QFile::encodeName(input).constData(), &source) == 0 && source.st_dev == target.st_dev &&
            source.st_ino == target.st_ino)
            return QStringLiteral("%1 is the input %2; give another output").arg(path, input);
    }
    if (!S_ISREG(target.st_mode))
        return QStringLiteral("%1 is not a regular file and is not replaced (- writes to standard output)")
            .arg(path);
    return {};
}

QString writeOutputFile(const QString& path, const QByteArray& bytes, const QStringList& inputs,
                        int standardOutput) {
    if (const QString refusal = outputRefusal(path, inputs); !refusal.isEmpty()) return refusal;
    if (path == QLatin1String(STANDARD_OUTPUT_NAME)) {
        const QString why = writeAll(standardOutput, bytes);
        return why.isEmpty() ? why : cannotWrite(QStringLiteral("standard output"), why);
    }
    // A link is followed: the file it names is the one replaced.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.canonicalFilePath() : path;
    if (const QString why = replaceWhole(target, bytes); !why.isEmpty()) return cannotWrite(path, why);
    return {};
}

}  // namespace velquin
