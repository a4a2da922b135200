#include "printer_lock.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QThread>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace velquin {

namespace {

constexpr int WAIT_POLL_MS = 100;
// Refused programs connect to learn the holder's process id; the holder never
// accepts, so its queue only has to be long enough for them.
constexpr int HOLDER_BACKLOG = 64;

// The abstract socket address of a key: a leading NUL, then the name.
struct LockAddress {
    sockaddr_un address{};
    socklen_t length = 0;
};

LockAddress lockAddress(const QString& key) {
    LockAddress lock;
    lock.address.sun_family = AF_UNIX;
    QByteArray name = QByteArrayLiteral("velquin/printer/");
    const QByteArray scope = qgetenv("VELQUIN_LOCK_SCOPE");
    if (!scope.isEmpty())
        name += QCryptographicHash::hash(scope, QCryptographicHash::Sha256).toHex().left(16) + '/';
    name += key.toUtf8();
    const std::size_t size =
        std::min<std::size_t>(static_cast<std::size_t>(name.size()), sizeof lock.address.sun_path - 1);
    std::memcpy(lock.address.sun_path + 1, name.constData(), size);
    lock.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
    return lock;
}

// The process id of whoever holds the name; 0 when it cannot be learnt.
qint64 holderOf(const LockAddress& lock) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0) return 0;
    qint64 pid = 0;
    if (::connect(probe, reinterpret_cast<const sockaddr*>(&lock.address), lock.length) == 0) {
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (::getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) pid = credentials.pid;
    }
    ::close(probe);
    return pid;
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

QString PrinterLock::localKey() {
    const QByteArray root = qgetenv("MORLIX_DEVICE_ROOT");
    if (root.isEmpty()) return QStringLiteral("local");
    return QStringLiteral("local-") +
           QString::fromLatin1(QCryptographicHash::hash(root, QCryptographicHash::Sha256).toHex().left(16));
}

QString PrinterLock::networkKey(const QString& host, quint16 port) {
    // The library connects to what inet_addr makes of the text: key by that number.
    in_addr address{};
    const QByteArray text = host.toLatin1();
    const QString numeric =
        ::inet_aton(text.constData(), &address) != 0 ? QString::fromLatin1(::inet_ntoa(address)) : host;
    return QStringLiteral("tcp-%1-%2").arg(numeric).arg(port);
}

PrinterLock::~PrinterLock() {
    // Closing the socket frees the name for the next program.
    ::close(descriptor_);
}

PrinterLock::Attempt PrinterLock::tryAcquire(const QString& key) {
    return take(key, true);
}

PrinterLock::Attempt PrinterLock::take(const QString& key, bool askHolder) {
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return {nullptr, 0, systemError(errno)};
    const LockAddress lock = lockAddress(key);
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&lock.address), lock.length) == 0 &&
        ::listen(descriptor, HOLDER_BACKLOG) == 0)
        return {std::unique_ptr<PrinterLock>(new PrinterLock(descriptor)), 0, {}};
    const int error = errno;
    ::close(descriptor);
    if (error != EADDRINUSE) return {nullptr, 0, systemError(error)};
    return {nullptr, askHolder ? holderOf(lock) : 0, {}};
}

PrinterLock::Attempt PrinterLock::acquireWaiting(const QString& key,
                                                 const std::function<bool()>& keepWaiting) {
    // Only the last refusal asks who holds it: each question waits in the
    // holder's queue until it ends.
    for (;;) {
        Attempt attempt = take(key, false);
        if (attempt.lock || !attempt.failure.isEmpty()) return attempt;
        if (!keepWaiting()) return take(key, true);
        QThread::msleep(WAIT_POLL_MS);
    }
}

QString lockRefusalText(const QString& printerName, qint64 holderPid) {
    if (holderPid <= 0) return QStringLiteral("printer %1 is in use by another program").arg(printerName);
    return QStringLiteral("printer %1 is in use by process %2").arg(printerName).arg(holderPid);
}

QString lockRefusalText(const QString& printerName, const PrinterLock::Attempt& attempt) {
    if (!attempt.failure.isEmpty())
        return QStringLiteral("cannot open the lock of printer %1: %2").arg(printerName, attempt.failure);
    return lockRefusalText(printerName, attempt.holderPid);
}

}  // namespace velquin
