#include "report_text.h"

#include <QJsonArray>

#include "printer_facts.h"
#include "printer_identity.h"

namespace velquin::load {

QString verdictText(const QJsonObject& identity) {
    if (identity.value(QStringLiteral("suitable")).toBool()) return QStringLiteral("suitable");
    QStringList reasons;
    for (const QJsonValue& reason : identity.value(QStringLiteral("reasons")).toArray())
        reasons << reason.toString();
    return QStringLiteral("not suitable (") + reasons.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QString flashText(const QJsonValue& freeFlash) {
    return freeFlash.isDouble() ? formatGrouped(freeFlash.toInteger()) + QStringLiteral(" bytes free")
                                : QStringLiteral("free flash unknown");
}

QString busyText(const QJsonValue& busy) {
    if (!busy.isBool()) return QStringLiteral("busy unknown");
    return busy.toBool() ? QStringLiteral("busy") : QStringLiteral("idle");
}

QStringList statusLines(const QJsonObject& report) {
    if (!report.contains(QStringLiteral("identity"))) return {};
    const QJsonObject identity = report.value(QStringLiteral("identity")).toObject();
    const PrinterIdentity values{identity.value(QStringLiteral("printer_model")).toString(),
                                 identity.value(QStringLiteral("printer_type")).toString(),
                                 identity.value(QStringLiteral("logic_board")).toString(),
                                 identity.value(QStringLiteral("firmware_version")).toString()};
    const QJsonValue toggle = report.value(QStringLiteral("flash_toggle"));
    return {
        values.text() + QStringLiteral(", port ") + identity.value(QStringLiteral("port_type")).toString(),
        verdictText(identity),
        busyText(report.value(QStringLiteral("busy"))) + QStringLiteral(", flash toggle ") +
            (toggle.isDouble() ? QString::number(toggle.toInt()) : QStringLiteral("unknown")) +
            QStringLiteral(", ") + flashText(report.value(QStringLiteral("free_flash")))};
}

}  // namespace velquin::load
