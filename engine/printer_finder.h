// Finding a printer and judging it, for every front end: the spooler's
// queues moved off the printer ports, a local printer's handle or a network
// printer's connection, and the facts the printer reports with the verdict
// on them and its reasons. It names no control: the window draws the facts
// on its panel, velquin-load reports them.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "printer_facts.h"
#include "printer_identity.h"

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
    bool operator==(const NetworkAddress&) const = default;
};

// What a printer reports of itself, and whether it can take uploads on its link.
struct PrinterFacts {
    PrinterLink link = PrinterLink::Local;
    std::int32_t portType = 0;
    std::int32_t logicBoard = 0;
    std::int32_t printerType = 0;
    std::int32_t printerModel = 0;
    float version = 0.0f;

    PrinterIdentity identity() const;
    // Why the printer cannot take uploads: one reason per fact that fails,
    // in the panel's order ("logic board MXR PLUS"); none when it can.
    QStringList unsuitability() const;
};

class PrinterFinder {
public:
    explicit PrinterFinder(MorlixLibrary& library) : library_(library) {}

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
};

}  // namespace velquin
