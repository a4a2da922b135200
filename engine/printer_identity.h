// A printer's identity as values: what the library's codes and version say
// it is, without the captions the printer panel puts around them. The
// ledger keys a printer by it; the front ends report it.
#pragma once

#include <QJsonObject>
#include <QString>
#include <cstdint>

namespace velquin {

// The values behind the library's codes; empty for a code out of range.
QString portTypeName(std::int32_t code);         // "USB", "Ethernet", ...
QString logicBoardName(std::int32_t code);       // "MXR PLUS", ...
QString commandLanguageName(std::int32_t code);  // "KTL", ...
QString printerModelName(std::int32_t code);     // "RVA", ...
// The firmware version with two decimals ("5.07").
QString firmwareText(float version);

struct PrinterIdentity {
    QString model;       // "RVA"
    QString language;    // "KTL"
    QString logicBoard;  // "MXR PLUS"
    QString firmware;    // "5.07"

    static PrinterIdentity fromCodes(std::int32_t logicBoard, std::int32_t printerType,
                                     std::int32_t printerModel, float version);
    // One line for people: "model RVA, language KTL, board MXR PLUS, firmware 5.07".
    QString text() const;
    // printer_model, printer_type, logic_board, firmware_version.
    QJsonObject toJson() const;
    bool operator==(const PrinterIdentity&) const = default;
};

}  // namespace velquin
