// What the printer information panel shows: the display texts of the
// library's codes, whether each fact lets the printer take uploads, and the
// number formats of the panel.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <optional>

class QLabel;

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

inline const QColor FACT_ACCEPTABLE_COLOUR{0, 255, 0};
inline const QColor FACT_UNACCEPTABLE_COLOUR{255, 0, 0};
inline QColor factColour(bool acceptable) {
    return acceptable ? FACT_ACCEPTABLE_COLOUR : FACT_UNACCEPTABLE_COLOUR;
}

// A number in the format "#,###0": digit groups with the locale's separator,
// at least one digit.
QString formatGrouped(std::int64_t value);

// What "Flash Space Remaining" shows when the printer gave no reading.
inline const QString FLASH_UNKNOWN = QStringLiteral("unknown");
// Shows a free-flash reading: digit groups in the good reading's green, or
// "unknown" in red; a demo figure says it is one.
void showFreeFlash(QLabel& label, std::optional<std::int64_t> freeBytes, bool demo = false);
// The firmware version as the panel shows it: "(V5.03)", in the locale's
// number format.
QString versionCaption(float version);

// The printer's identity as the ledger keys it: the facts the library gives,
// "MDL:model;CMD:language;BOARD:board;FWV:version;". The protocol has no
// serial number, so alike printers on one link share their record.
QString printerIdentity(std::int32_t logicBoard, std::int32_t printerType, std::int32_t printerModel,
                        float version);

}  // namespace velquin
