// One program per printer on the machine: the window and velquin-load take
// this lock before they drive a printer, so two programs (of any user or
// session) never interleave their bytes on one link.
//
// A lock is a UNIX socket bound to an abstract name made from the printer's
// key ("local", or the numeric address and port). Abstract names live in the
// kernel, not in a folder: every user of the machine's network namespace sees
// the same name, none can plant a file or a symlink in its place, and the
// name is freed when the holder's socket closes, also when the holder is
// killed, so nothing is left behind and nobody is locked out once it ends. A
// refused program connects to the holder's socket and learns its process id
// from the kernel.
//
// VELQUIN_LOCK_SCOPE, when set, puts the locks of a process in a scope of
// their own: test runs that drive stand-in printers at one address in
// parallel use it. The lock only keeps cooperating programs apart, so a
// scope gives nobody anything they could not have by not taking the lock.
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
        // Set when the lock could not be opened at all (the reason), as
        // opposed to being held by somebody.
        QString failure;
    };

    // The lock of the local printer, and of a network printer by address. An
    // address is keyed by the number it connects to, so every spelling of it
    // ("127.0.0.01", "127.000.000.001", "127.0.0.1") names one printer.
    // The local printer is the device the library opens: under another
    // device root (a simulated one) it is another device, with its own lock.
    static QString localKey();
    static QString networkKey(const QString& host, quint16 port);

    // Takes the lock at once or reports who holds it.
    static Attempt tryAcquire(const QString& key);
    // Waits for the lock, polling, until it is free or `keepWaiting` says
    // stop (then refused).
    static Attempt acquireWaiting(const QString& key, const std::function<bool()>& keepWaiting);

private:
    static Attempt take(const QString& key, bool askHolder);
    explicit PrinterLock(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

// "printer tcp:127.0.0.1:9100 is in use by process 1234"
QString lockRefusalText(const QString& printerName, qint64 holderPid);
// The refusal of an attempt: in use (by whom), or the lock could not be opened.
QString lockRefusalText(const QString& printerName, const PrinterLock::Attempt& attempt);

}  // namespace velquin
