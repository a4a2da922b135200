#include "ledger_types.h"

#include <array>
#include <utility>

namespace velquin::ledger {

namespace {

constexpr std::array MODE_NAMES{std::pair{LoadMode::TrueType, "ttf"},
                                std::pair{LoadMode::SoftFont, "softfont"}, std::pair{LoadMode::Pcx, "pcx"},
                                std::pair{LoadMode::Bmp, "bmp"}};
constexpr std::array OUTCOME_NAMES{std::pair{Outcome::Confirmed, "confirmed"},
                                   std::pair{Outcome::NotConfirmed, "not confirmed"},
                                   std::pair{Outcome::Failed, "failed"}};

template <typename Table, typename Value>
QString nameOf(const Table& table, Value value) {
    for (const auto& [known, name] : table)
        if (known == value) return QString::fromLatin1(name);
    return {};
}

template <typename Value, typename Table>
std::optional<Value> valueOf(const Table& table, const QString& name) {
    for (const auto& [value, known] : table)
        if (name == QLatin1String(known)) return value;
    return std::nullopt;
}

QJsonValue optionalNumber(const std::optional<qint64>& value) {
    return value ? QJsonValue(static_cast<double>(*value)) : QJsonValue(QJsonValue::Null);
}

}  // namespace

QString modeName(LoadMode mode) {
    return nameOf(MODE_NAMES, mode);
}

std::optional<LoadMode> modeFromName(const QString& name) {
    return valueOf<LoadMode>(MODE_NAMES, name);
}

QString outcomeName(Outcome outcome) {
    return nameOf(OUTCOME_NAMES, outcome);
}

std::optional<Outcome> outcomeFromName(const QString& name) {
    return valueOf<Outcome>(OUTCOME_NAMES, name);
}

PrinterKey PrinterKey::local(const PrinterIdentity& identity) {
    return {identity, QStringLiteral("local")};
}

PrinterKey PrinterKey::tcp(const PrinterIdentity& identity, const QString& address, quint16 port) {
    return {identity, QStringLiteral("%1:%2").arg(address).arg(port)};
}

QJsonObject toJson(const LoadRecord& load) {
    return {{QStringLiteral("kind"), QStringLiteral("load")},
            {QStringLiteral("path"), load.path},
            {QStringLiteral("mode"), modeName(load.mode)},
            {QStringLiteral("sha256"), QString::fromLatin1(load.sha256)},
            {QStringLiteral("size"), static_cast<double>(load.size)},
            {QStringLiteral("font_id"), optionalNumber(load.fontId)},
            {QStringLiteral("time"), load.time.toString(Qt::ISODateWithMs)},
            {QStringLiteral("free_before"), optionalNumber(load.freeBefore)},
            {QStringLiteral("free_after"), optionalNumber(load.freeAfter)},
            {QStringLiteral("outcome"), outcomeName(load.outcome)},
            {QStringLiteral("erased"), load.erased}};
}

QJsonObject toJson(const EraseRecord& erase) {
    return {{QStringLiteral("kind"), QStringLiteral("erase")},
            {QStringLiteral("time"), erase.time.toString(Qt::ISODateWithMs)},
            {QStringLiteral("free_before"), optionalNumber(erase.freeBefore)},
            {QStringLiteral("free_after"), optionalNumber(erase.freeAfter)},
            {QStringLiteral("outcome"), outcomeName(erase.outcome)}};
}

}  // namespace velquin::ledger
