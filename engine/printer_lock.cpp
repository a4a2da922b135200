#include "printer_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <string>

namespace velquin {

namespace {

constexpr int WAIT_POLL_MS = 100;

QString lockFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
    return QStringLiteral("/tmp");
}

// The process id written in a lock file; 0 when there is none.
qint64 readHolder(int descriptor) {
    char text[32] = {};
    const ssize_t length = ::pread(descriptor, text, sizeof text - 1, 0);
    if (length <= 0) return 0;
    return QByteArray(text, static_cast<qsizetype>(length)).trimmed().toLongLong();
}

}  // namespace

QString PrinterLock::networkKey(const QString& host, quint16 port) {
    return QStringLiteral("tcp-%1-%2").arg(host).arg(port);
}

QString PrinterLock::lockFilePath(const QString& key) {
    QString name = key;
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('.')) c = QLatin1Char('_');
    return lockFolder() + QStringLiteral("/velquin-printer-") + name + QStringLiteral(".lock");
}

PrinterLock::~PrinterLock() {
    // Closing the descriptor releases the flock; the file stays (removing it
    // would race with a program that has just opened it).
    ::close(descriptor_);
}

PrinterLock::Attempt PrinterLock::tryAcquire(const QString& key) {
    const QByteArray path = QFile::encodeName(lockFilePath(key));
    const int descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) return {};
    int result = 0;
    do {
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const qint64 holder = readHolder(descriptor);
        ::close(descriptor);
        return {nullptr, holder};
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(descriptor, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(descriptor, pid.data(), pid.size(), 0);
    }
    return {std::unique_ptr<PrinterLock>(new PrinterLock(descriptor)), 0};
}

PrinterLock::Attempt PrinterLock::acquireWaiting(const QString& key,
                                                 const std::function<bool()>& keepWaiting) {
    for (;;) {
        Attempt attempt = tryAcquire(key);
        if (attempt.lock || !keepWaiting()) return attempt;
        QThread::msleep(WAIT_POLL_MS);
    }
}

QString lockRefusalText(const QString& printerName, qint64 holderPid) {
    if (holderPid <= 0) return QStringLiteral("printer %1 is in use by another program").arg(printerName);
    return QStringLiteral("printer %1 is in use by process %2").arg(printerName).arg(holderPid);
}

}  // namespace velquin
