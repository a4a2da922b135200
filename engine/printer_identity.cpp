#include "printer_identity.h"

#include <array>

namespace velquin {

namespace {

template <std::size_t N>
QString nameOfCode(const std::array<const char*, N>& names, std::int32_t code) {
    if (code < 0 || static_cast<std::size_t>(code) >= N) return {};
    return QString::fromLatin1(names[static_cast<std::size_t>(code)]);
}

}  // namespace

QString portTypeName(std::int32_t code) {
    static constexpr std::array<const char*, 5> names = {"USB", "Parallel", "Serial", "Ethernet", "Unknown"};
    return nameOfCode(names, code);
}

QString logicBoardName(std::int32_t code) {
    static constexpr std::array<const char*, 3> names = {"LOGIC BD I", "LOGIC BD II", "MXR PLUS"};
    return nameOfCode(names, code);
}

QString commandLanguageName(std::int32_t code) {
    static constexpr std::array<const char*, 4> names = {"G", "KTL", "RASTER", "NOT FOUND"};
    return nameOfCode(names, code);
}

QString printerModelName(std::int32_t code) {
    static constexpr std::array<const char*, 4> names = {"RVA", "RVB", "RVC", "Unknown printer model"};
    return nameOfCode(names, code);
}

QString firmwareText(float version) {
    return QString::number(static_cast<double>(version), 'f', 2);
}

PrinterIdentity PrinterIdentity::fromCodes(std::int32_t logicBoard, std::int32_t printerType,
                                           std::int32_t printerModel, float version) {
    return {printerModelName(printerModel), commandLanguageName(printerType), logicBoardName(logicBoard),
            firmwareText(version)};
}

QString PrinterIdentity::text() const {
    return QStringLiteral("model %1, language %2, board %3, firmware %4")
        .arg(model, language, logicBoard, firmware);
}

QJsonObject PrinterIdentity::toJson() const {
    return {{QStringLiteral("printer_model"), model},
            {QStringLiteral("printer_type"), language},
            {QStringLiteral("logic_board"), logicBoard},
            {QStringLiteral("firmware_version"), firmware}};
}

}  // namespace velquin
