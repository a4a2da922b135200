// What the printer information panel shows: the display texts of the
// library's codes, whether each fact lets the printer take uploads, and the
// number formats of the panel.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>

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
// The firmware version as the panel shows it: "(V5.03)", in the locale's
// number format.
QString versionCaption(float version);

}  // namespace velquin
