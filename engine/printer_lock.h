// One program per printer: the window and velquin-load both take this lock
// before they drive a printer, so two programs never interleave their bytes
// on one link. A lock is an advisory flock on a file named after the printer
// (its address, or "local") in $XDG_RUNTIME_DIR (else /tmp); the holder
// writes its process id into the file so that a refused program can name it.
#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace velquin {

class PrinterLock {
public:
    ~PrinterLock();
    PrinterLock(const PrinterLock&) = delete;
    PrinterLock& operator=(const PrinterLock&) = delete;

    struct Attempt {
        std::unique_ptr<PrinterLock> lock;  // null when refused
        qint64 holderPid = 0;               // the holder's process id when refused (0: unknown)
    };

    // The lock of the local printer, and of a network printer by address.
    static QString localKey() { return QStringLiteral("local"); }
    static QString networkKey(const QString& host, quint16 port);

    // Takes the lock at once or reports who holds it.
    static Attempt tryAcquire(const QString& key);
    // Waits for the lock, polling, until it is free or `keepWaiting` says
    // stop (then refused).
    static Attempt acquireWaiting(const QString& key, const std::function<bool()>& keepWaiting);

    // The file behind a key (for tests and messages).
    static QString lockFilePath(const QString& key);

private:
    explicit PrinterLock(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

// "printer tcp:127.0.0.1:9100 is in use by process 1234"
QString lockRefusalText(const QString& printerName, qint64 holderPid);

}  // namespace velquin
