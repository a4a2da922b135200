// What the printer information panel shows: the display texts of the
// library's codes, whether each fact lets the printer take uploads, and the
// number formats of the panel.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "printer_identity.h"

namespace velquin {

QString GetPortType(std::int32_t code);
QString GetLogicBoardType(std::int32_t code);
QString GetPrinterType(std::int32_t code);
QString GetPrinterModel(std::int32_t code);

enum class PrinterLink { Local, Network };

// Acceptable facts for uploads, judged by the link the printer is on.
bool portTypeAcceptable(std::int32_t code, PrinterLink link);
bool logicBoardAcceptable(std::int32_t code, PrinterLink link);
bool printerTypeAcceptable(std::int32_t code);
bool printerModelAcceptable(std::int32_t code);
bool firmwareVersionAcceptable(float version, PrinterLink link);

inline constexpr float LOCAL_MINIMUM_VERSION = 5.0f;
inline constexpr float NETWORK_MINIMUM_VERSION = 2.05f;

// A number in the format "#,###0": digit groups with the locale's separator,
// at least one digit.
QString formatGrouped(std::int64_t value);

// One value label of the panel: its text and whether its fact is
// acceptable (shown in the good colour, else the bad one). A fact nobody has
// judged yet keeps the colour the label had.
struct PanelFact {
    QString text;
    std::optional<bool> acceptable;
    bool operator==(const PanelFact&) const = default;
};

struct PrinterPanel;
// Why a found printer was judged unsuitable for uploads: the panel's facts
// that are not acceptable, as shown ("Hardware = LOGIC BD I"); empty when
// it is suitable or none was found.
QStringList unsuitabilityReasons(const PrinterPanel& panel);

// What "Flash Space Remaining" shows when the printer gave no reading.
inline const QString FLASH_UNKNOWN = QStringLiteral("unknown");
// A free-flash reading as shown: digit groups, acceptable; or "unknown",
// not acceptable. A demo figure says it is one.
PanelFact freeFlashFact(std::optional<std::int64_t> freeBytes, bool demo = false);

// The printer information panel as discovery left it: the six value labels
// top to bottom, the free flash, and the facts behind them.
struct PrinterPanel {
    PanelFact printerFound;  // "FOUND PRINTER", "PRINTER NOT FOUND", or empty
    PanelFact portType;
    PanelFact hardware;
    PanelFact printerType;
    PanelFact printerModel;
    PanelFact version;
    PanelFact flash;

    // A printer was found, on which link, and whether it can take uploads.
    bool found = false;
    std::optional<PrinterLink> link;
    bool suitable = false;
    // The codes the printer reported, and its free flash (none when the
    // printer gave no reading).
    std::int32_t portTypeCode = 0;
    std::int32_t logicBoardCode = 0;
    std::int32_t printerTypeCode = 0;
    std::int32_t printerModelCode = 0;
    float firmwareVersion = 0.0f;
    std::optional<std::int64_t> freeFlash;
    // Why the printer found cannot take uploads ("logic board MXR PLUS");
    // none when it can.
    QStringList reasons;

    bool operator==(const PrinterPanel&) const = default;
};
// The firmware version as the panel shows it: "(V5.03)", in the locale's
// number format.
QString versionCaption(float version);

// The printer's identity as the ledger keys it: the values of the facts the
// library gives. The protocol has no serial number, so alike printers on one
// link share their record.
PrinterIdentity printerIdentity(std::int32_t logicBoard, std::int32_t printerType, std::int32_t printerModel,
                                float version);

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

}  // namespace velquin
