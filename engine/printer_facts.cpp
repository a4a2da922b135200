#include "printer_facts.h"

#include <QLocale>
#include <array>

#include "morlix/printer_codes.h"

namespace velquin {

namespace {

// The panel's captions: the value behind its words ("Hardware = MXR PLUS").
QString caption(const char* words, const QString& value) {
    return value.isEmpty() ? QString() : QLatin1String(words) + value;
}

}  // namespace

QString GetPortType(std::int32_t code) {
    return caption("Port Type = ", portTypeName(code));
}

QString GetLogicBoardType(std::int32_t code) {
    return caption("Hardware = ", logicBoardName(code));
}

QString GetPrinterType(std::int32_t code) {
    return caption("Language = ", commandLanguageName(code));
}

QString GetPrinterModel(std::int32_t code) {
    return caption("Printer type = ", printerModelName(code));
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

PrinterIdentity printerIdentity(std::int32_t logicBoard, std::int32_t printerType, std::int32_t printerModel,
                                float version) {
    return PrinterIdentity::fromCodes(logicBoard, printerType, printerModel, version);
}

PanelFact freeFlashFact(std::optional<std::int64_t> freeBytes, bool demo) {
    if (!freeBytes) return {FLASH_UNKNOWN, false};
    return {formatGrouped(*freeBytes) + (demo ? QStringLiteral(" (demo)") : QString()), true};
}

QStringList unsuitabilityReasons(const PrinterPanel& panel) {
    QStringList reasons;
    if (panel.printerFound.acceptable != false) return reasons;
    for (const PanelFact* fact :
         {&panel.portType, &panel.hardware, &panel.printerType, &panel.printerModel, &panel.version})
        if (fact->acceptable == false && !fact->text.isEmpty()) reasons << fact->text;
    return reasons;
}

PrinterIdentity PrinterFacts::identity() const {
    return printerIdentity(logicBoard, printerType, printerModel, version);
}

QStringList PrinterFacts::unsuitability() const {
    const PrinterIdentity values = identity();
    QStringList reasons;
    const auto judge = [&reasons](bool acceptable, const QString& reason) {
        if (!acceptable) reasons << reason;
    };
    judge(portTypeAcceptable(portType, link), QStringLiteral("port type ") + portTypeName(portType));
    judge(logicBoardAcceptable(logicBoard, link), QStringLiteral("logic board ") + values.logicBoard);
    judge(printerTypeAcceptable(printerType), QStringLiteral("command language ") + values.language);
    judge(printerModelAcceptable(printerModel), QStringLiteral("model ") + values.model);
    judge(firmwareVersionAcceptable(version, link), QStringLiteral("firmware ") + values.firmware);
    return reasons;
}

}  // namespace velquin
