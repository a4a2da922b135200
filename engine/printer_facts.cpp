#include "printer_facts.h"

#include <QLocale>
#include <array>

#include "morlix/printer_codes.h"

namespace velquin {

namespace {

template <std::size_t N>
QString textOfCode(const std::array<const char*, N>& texts, std::int32_t code) {
    if (code < 0 || static_cast<std::size_t>(code) >= N) return {};
    return QString::fromLatin1(texts[static_cast<std::size_t>(code)]);
}

}  // namespace

QString GetPortType(std::int32_t code) {
    static constexpr std::array<const char*, 5> texts = {"Port Type = USB", "Port Type = Parallel",
                                                         "Port Type = Serial", "Port Type = Ethernet",
                                                         "Port Type = Unknown"};
    return textOfCode(texts, code);
}

QString GetLogicBoardType(std::int32_t code) {
    static constexpr std::array<const char*, 3> texts = {"Hardware = LOGIC BD I", "Hardware = LOGIC BD II",
                                                         "Hardware = MXR PLUS"};
    return textOfCode(texts, code);
}

QString GetPrinterType(std::int32_t code) {
    static constexpr std::array<const char*, 4> texts = {"Language = G", "Language = KTL",
                                                         "Language = RASTER", "Language = NOT FOUND"};
    return textOfCode(texts, code);
}

QString GetPrinterModel(std::int32_t code) {
    static constexpr std::array<const char*, 4> texts = {"Printer type = RVA", "Printer type = RVB",
                                                         "Printer type = RVC",
                                                         "Printer type = Unknown printer model"};
    return textOfCode(texts, code);
}

bool portTypeAcceptable(std::int32_t code, PrinterLink link) {
    return link == PrinterLink::Network || code == morlix::PORT_TYPE_USB ||
           code == morlix::PORT_TYPE_PARALLEL;
}

bool logicBoardAcceptable(std::int32_t code, PrinterLink link) {
    return code == (link == PrinterLink::Local ? morlix::LOGIC_BD_MXR_PLUS : morlix::LOGIC_BD_II);
}

bool printerTypeAcceptable(std::int32_t code) {
    return code == morlix::PRINTER_TYPE_KTL;
}

bool printerModelAcceptable(std::int32_t code) {
    return code == morlix::PRINTER_MODEL_RVA || code == morlix::PRINTER_MODEL_RVB;
}

bool firmwareVersionAcceptable(float version, PrinterLink link) {
    return version >= (link == PrinterLink::Local ? LOCAL_MINIMUM_VERSION : NETWORK_MINIMUM_VERSION);
}

QString formatGrouped(std::int64_t value) {
    QLocale locale;
    // Qt's C locale leaves out group separators unless told otherwise.
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(static_cast<qlonglong>(value));
}

QString versionCaption(float version) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    // Seven significant digits: the float 5.03 shows as 5.03, not 5.0300002.
    return QStringLiteral("(V") + locale.toString(static_cast<double>(version), 'g', 7).trimmed() +
           QStringLiteral(")");
}

QString printerIdentity(std::int32_t logicBoard, std::int32_t printerType, std::int32_t printerModel,
                        float version) {
    return QStringLiteral("MDL:%1;CMD:%2;BOARD:%3;FWV:%4;")
        .arg(GetPrinterModel(printerModel), GetPrinterType(printerType), GetLogicBoardType(logicBoard),
             QString::number(static_cast<double>(version), 'f', 2));
}

PanelFact freeFlashFact(std::optional<std::int64_t> freeBytes, bool demo) {
    if (!freeBytes) return {FLASH_UNKNOWN, false};
    return {formatGrouped(*freeBytes) + (demo ? QStringLiteral(" (demo)") : QString()), true};
}

}  // namespace velquin
