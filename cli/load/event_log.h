// What the fleet commands write on standard error while workers run: the
// human lines (redrawn in place on a terminal, one per event with a
// timestamp on a pipe), or with --log json one JSON object per event for a
// log system.
#pragma once

#include <QJsonObject>
#include <QString>

namespace velquin::load {

enum class LogFormat { Human, Json };

// One worker event as a log system keeps it: the event line a worker wrote
// (a progress line or a message) for `printer`, at `timestamp` (ISO 8601, UTC).
QJsonObject eventObject(const QString& timestamp, const QString& printer, const QString& line);
// The end of a printer's run: its outcome and the bytes sent.
QJsonObject finishedObject(const QString& timestamp, const QJsonObject& report);

// The current time as the log writes it.
QString logTimestamp();

// Writes one JSON event object as a line on standard error; false when it
// could not be written (the reader went away).
bool writeJsonEvent(const QJsonObject& event);

// A line about the run itself rather than one printer ("velquin-load: ..."
// on standard error, or a message event without a printer).
void logNotice(LogFormat format, const QString& text);

// A worker's event line as discover and apply show it: a JSON event, or
// its message with the time (progress lines left out).
void logWorkerLine(LogFormat format, const QString& printer, const QString& line);

}  // namespace velquin::load
