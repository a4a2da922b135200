// Finding a printer and judging it, for every front end: the lock that keeps
// one program per printer, the spooler's
// queues moved off the printer ports, a local printer's handle or a network
// printer's connection, and the facts the printer reports with the verdict
// on them and its reasons. It names no control: the window draws the facts
// on its panel, velquin-load reports them.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "printer_facts.h"
#include "printer_lock.h"

namespace velquin {

class MorlixLibrary;

// A network printer's address as the operator typed it: four octet texts
// and a port text, handed to the library as they are.
struct NetworkAddress {
    QString octet1;
    QString octet2;
    QString octet3;
    QString octet4;
    QString port;
    // "127.0.0.1": the octets as typed, joined with dots.
    QString host() const { return QStringList{octet1, octet2, octet3, octet4}.join(QLatin1Char('.')); }
    bool operator==(const NetworkAddress&) const = default;
};

class PrinterFinder {
public:
    explicit PrinterFinder(MorlixLibrary& library) : library_(library) {}

    // Takes the lock of the printer keyed `key` (PrinterLock's keys), kept
    // until released or the finder goes; a lock this finder holds is granted
    // again. With `keepWaiting`, a held lock is waited for until it is free
    // or that says stop. The refused attempt when another program holds the
    // printer or the lock could not be taken.
    [[nodiscard]] std::optional<PrinterLock::Attempt> claim(const QString& key,
                                                            const std::function<bool()>& keepWaiting = {});
    void release(const QString& key);

    // Moves the spooler's queues off the printer ports; false when the
    // spooler refused (its reason came through the library's prompts).
    [[nodiscard]] bool redirectSpooler();
    // The local printer's handle; none when no printer was found.
    [[nodiscard]] std::optional<std::int32_t> openLocal();
    // A connection to the network printer at `address`, its texts handed to
    // the library in 8-bit form; none when it failed.
    [[nodiscard]] std::optional<std::int32_t> connect(const NetworkAddress& address);
    // What the printer just reached reports of itself; over the network its
    // port type is the network's, whatever it reports.
    PrinterFacts readFacts(PrinterLink link);

private:
    MorlixLibrary& library_;
    // Claimed by a job on the engine thread, or by the front end before one.
    std::mutex locksMutex_;
    std::map<QString, std::unique_ptr<PrinterLock>> locks_;
};

}  // namespace velquin
