#include "event_log.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

#include "live_screen.h"
#include "printer_run.h"

namespace velquin::load {

QString logTimestamp() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QJsonObject eventObject(const QString& timestamp, const QString& printer, const QString& line) {
    QJsonObject event{{QStringLiteral("timestamp"), timestamp},
                      {QStringLiteral("printer"), printer},
                      {QStringLiteral("file"), QJsonValue()},
                      {QStringLiteral("bytes"), QJsonValue()},
                      {QStringLiteral("outcome"), QJsonValue()}};
    const QLatin1String prefix(PROGRESS_PREFIX);
    if (const auto file =
            line.startsWith(prefix) ? parseProgressFields(line.mid(prefix.size())) : std::nullopt) {
        event.insert(QStringLiteral("file"), file->path);
        event.insert(QStringLiteral("bytes"), static_cast<qint64>(file->bytes));
        event.insert(QStringLiteral("size"), static_cast<qint64>(file->size));
        event.insert(QStringLiteral("event"), file->state);
        if (file->state == QLatin1String("completed"))
            event.insert(QStringLiteral("outcome"), QStringLiteral("completed"));
        return event;
    }
    // "@waiting FILE|WAITED_MS|LIMIT_MS": the printer is writing the file to flash.
    const QLatin1String waiting(WAITING_PREFIX);
    const QStringList wait = line.mid(waiting.size()).split(QLatin1Char('|'));
    if (line.startsWith(waiting) && wait.size() == 3) {
        event.insert(QStringLiteral("file"), wait[0]);
        event.insert(QStringLiteral("event"), QStringLiteral("waiting"));
        event.insert(QStringLiteral("waited_ms"), wait[1].toLongLong());
        event.insert(QStringLiteral("limit_ms"), wait[2].toLongLong());
        return event;
    }
    event.insert(QStringLiteral("event"), QStringLiteral("message"));
    event.insert(QStringLiteral("message"), line);
    return event;
}

QJsonObject finishedObject(const QString& timestamp, const QJsonObject& report) {
    qint64 bytes = 0;
    for (const QJsonValue& file : report.value(QStringLiteral("files")).toArray())
        bytes += file[QStringLiteral("bytes_sent")].toInteger();
    return {{QStringLiteral("timestamp"), timestamp},
            {QStringLiteral("printer"), report.value(QStringLiteral("printer"))},
            {QStringLiteral("file"), QJsonValue()},
            {QStringLiteral("event"), QStringLiteral("finished")},
            {QStringLiteral("bytes"), bytes},
            {QStringLiteral("outcome"), report.value(QStringLiteral("outcome"))}};
}

bool writeJsonEvent(const QJsonObject& event) {
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
    const std::size_t written =
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    return std::fflush(stderr) == 0 && written == static_cast<std::size_t>(line.size());
}

void logNotice(LogFormat format, const QString& text) {
    if (format == LogFormat::Json) {
        QJsonObject event = eventObject(logTimestamp(), QString(), text);
        event.insert(QStringLiteral("printer"), QJsonValue());
        writeJsonEvent(event);
        return;
    }
    std::fprintf(stderr, "velquin-load: %s\n", qPrintable(text));
    std::fflush(stderr);
}

void logWorkerLine(LogFormat format, const QString& printer, const QString& line) {
    if (format == LogFormat::Json) {
        writeJsonEvent(eventObject(logTimestamp(), printer, line));
        return;
    }
    if (line.startsWith(QLatin1String(PROGRESS_PREFIX)) || line.startsWith(QLatin1String(WAITING_PREFIX)))
        return;
    std::fprintf(stderr, "%s %s: %s\n", qPrintable(logTimestamp()), qPrintable(printer), qPrintable(line));
    std::fflush(stderr);
}

}  // namespace velquin::load
