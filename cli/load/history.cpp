#include "history.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "json_schema.h"
#include "ledger.h"
#include "shown_text.h"

namespace velquin::load {

namespace {

QString entryLine(const QJsonObject& entry) {
    const QString time = entry[QStringLiteral("time")].toString();
    const QString outcome = entry[QStringLiteral("outcome")].toString();
    if (entry[QStringLiteral("kind")].toString() == QLatin1String("erase"))
        return QStringLiteral("%1  erase  %2").arg(time, outcome);
    QString line = QStringLiteral("%1  load   %2  %3  %4  %5 bytes  sha256 %6")
                       .arg(time, outcome, entry[QStringLiteral("mode")].toString(),
                            entry[QStringLiteral("path")].toString())
                       .arg(entry[QStringLiteral("size")].toInteger())
                       .arg(entry[QStringLiteral("sha256")].toString());
    if (entry[QStringLiteral("erased")].toBool()) line += QStringLiteral("  (erased since)");
    return line;
}

// The --json document: one entry per printer.
void writeReport(const QJsonArray& printers) {
    std::fputs(QJsonDocument(QJsonObject{{QStringLiteral("schema"), JSON_SCHEMA},
                                         {QStringLiteral("printers"), printers}})
                   .toJson()
                   .constData(),
               stdout);
}

}  // namespace

int runHistory(const LoadOptions& options) {
    // A ledger that cannot be opened says so once, below: its rows may be there.
    ledger::Ledger ledger(ledger::Ledger::defaultFile());
    const std::vector<ledger::PrinterKey> printers =
        ledger.printersMatching(ledgerPrinterText(options.historyPrinter));
    if (!ledger.usable()) {
        std::fprintf(stderr, "velquin-load: the ledger could not be read: %s\n",
                     qPrintable(ledger.problem()));
        return 1;
    }
    if (printers.empty()) {
        // A script reading the report gets one, with no printer in it.
        if (options.json) writeReport({});
        std::fprintf(stderr, "velquin-load: the ledger has no printer matching \"%s\"\n",
                     qPrintable(shownText(options.historyPrinter)));
        return 1;
    }
    QJsonArray reports;
    for (const ledger::PrinterKey& printer : printers) {
        const QJsonArray history = ledger.historyJson(printer);
        if (options.json) {
            reports.append(QJsonObject{{QStringLiteral("identity"), printer.identity.toJson()},
                                       {QStringLiteral("link"), printer.link},
                                       {QStringLiteral("history"), history}});
            continue;
        }
        std::printf("%s  %s\n", qPrintable(printer.link), qPrintable(printer.identity.text()));
        for (const QJsonValue& entry : history)
            std::printf("  %s\n", qPrintable(shownText(entryLine(entry.toObject()))));
    }
    if (options.json) writeReport(reports);
    if (!ledger.usable()) {
        std::fprintf(stderr, "velquin-load: the ledger could not be read: %s\n",
                     qPrintable(ledger.problem()));
        return 1;
    }
    return 0;
}

}  // namespace velquin::load
