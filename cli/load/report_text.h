// The human texts of a printer's report fields, as status and discover
// print them.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

namespace velquin::load {

// "suitable", or "not suitable (logic board MXR PLUS, firmware 1.00)".
QString verdictText(const QJsonObject& identity);
// "8,388,608 bytes free", or "free flash unknown".
QString flashText(const QJsonValue& freeFlash);
// "busy", "idle" or "busy unknown".
QString busyText(const QJsonValue& busy);

// What status found, one line each: the identity, the verdict, and busy,
// the flash toggle and the free flash. Empty when the printer was not reached.
QStringList statusLines(const QJsonObject& report);

}  // namespace velquin::load
