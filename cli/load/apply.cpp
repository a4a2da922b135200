#include "apply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <vector>

#include "discover.h"
#include "event_log.h"
#include "fleet_file.h"
#include "json_schema.h"
#include "printer_run.h"
#include "worker_pool.h"

namespace velquin::load {

namespace {

// One printer of the fleet: every load of every group it belongs to.
struct Member {
    QString printer;
    QStringList groups;
    QList<FleetLoad> loads;
    bool eraseIfChanged = false;
};

// A printer's record of what it holds is believed only when verified; one
// that was not must get every file of every load, not only of the first.
bool recordBelieved(const QJsonObject& firstReport) {
    const QString verification = firstReport.value(QStringLiteral("verification")).toString();
    return verification == QLatin1String("verified") || verification == QLatin1String("nothing-recorded");
}

QStringList sendArguments(const FleetLoad& load, bool skipHeld, bool eraseIfChanged, bool check) {
    QStringList arguments{QStringLiteral("send")};
    if (load.listFile.isEmpty())
        arguments << load.files;
    else
        arguments << QStringLiteral("--list") << load.listFile;
    if (load.mode) arguments << QStringLiteral("--mode") << modeName(*load.mode);
    if (skipHeld) arguments << QStringLiteral("--skip-loaded");
    if (eraseIfChanged) arguments << QStringLiteral("--erase-if-changed");
    if (check) arguments << QStringLiteral("--check");
    return arguments;
}

// The report of one printer from the reports of its runs.
QJsonObject printerReport(const Member& member, const QList<QJsonObject>& runs, bool check) {
    QJsonObject report{{QStringLiteral("printer"), member.printer},
                       {QStringLiteral("groups"), QJsonArray::fromStringList(member.groups)}};
    QJsonArray sent, wouldSend, skipped;
    bool erased = false, wouldErase = false;
    QString outcome = QStringLiteral("completed");
    QString message;
    for (const QJsonObject& run : runs) {
        if (run.contains(QStringLiteral("identity")) && !report.contains(QStringLiteral("identity")))
            report.insert(QStringLiteral("identity"), run.value(QStringLiteral("identity")));
        if (run.contains(QStringLiteral("verification")) &&
            !report.contains(QStringLiteral("verification"))) {
            report.insert(QStringLiteral("verification"), run.value(QStringLiteral("verification")));
            if (run.contains(QStringLiteral("verification_message")))
                report.insert(QStringLiteral("verification_message"),
                              run.value(QStringLiteral("verification_message")));
        }
        if (run.contains(QStringLiteral("erased"))) {
            erased = erased || run.value(QStringLiteral("erased")).toBool();
            wouldErase = true;
        }
        for (const QJsonValue& file : run.value(QStringLiteral("files")).toArray())
            if (file[QStringLiteral("bytes_sent")].toInteger() > 0)
                sent.append(QJsonObject{{QStringLiteral("path"), file[QStringLiteral("path")]},
                                        {QStringLiteral("outcome"), file[QStringLiteral("outcome")]}});
        for (const QJsonValue& path : run.value(QStringLiteral("would_send")).toArray())
            wouldSend.append(path);
        for (const QJsonValue& path : run.value(QStringLiteral("skipped")).toArray())
            skipped.append(QJsonObject{
                {QStringLiteral("path"), path},
                {QStringLiteral("reason"), QStringLiteral("held since its last erase (the ledger, verified "
                                                          "by the printer's free flash)")}});
        const QString runOutcome = run.value(QStringLiteral("outcome")).toString();
        if (runOutcome != QLatin1String("completed") && outcome == QLatin1String("completed")) {
            outcome = runOutcome;
            message = run.value(QStringLiteral("message")).toString();
        }
    }
    if (runs.size() < member.loads.size() && outcome == QLatin1String("completed"))
        outcome = QStringLiteral("not-started");
    report.insert(QStringLiteral("outcome"), outcome);
    if (!message.isEmpty()) report.insert(QStringLiteral("message"), message);
    report.insert(QStringLiteral("sent"), sent);
    if (check) report.insert(QStringLiteral("would_send"), wouldSend);
    report.insert(QStringLiteral("skipped"), skipped);
    report.insert(QStringLiteral("erased"), erased);
    const bool changed = check ? !wouldSend.isEmpty() || wouldErase : !sent.isEmpty() || erased;
    report.insert(QStringLiteral("changed"), changed);
    return report;
}

QString humanLine(const QJsonObject& report, bool check) {
    const QString printer = report.value(QStringLiteral("printer")).toString();
    const QString outcome = report.value(QStringLiteral("outcome")).toString();
    auto paths = [&](const QString& key) {
        QStringList out;
        for (const QJsonValue& entry : report.value(key).toArray())
            out << (entry.isObject() ? entry[QStringLiteral("path")].toString() : entry.toString());
        return out;
    };
    QString line = printer + QStringLiteral("  ");
    if (outcome != QLatin1String("completed")) {
        line += QStringLiteral("failed: ") + outcome;
        const QString message = report.value(QStringLiteral("message")).toString();
        if (!message.isEmpty()) line += QStringLiteral(" (") + message + QLatin1Char(')');
        return line;
    }
    const bool changed = report.value(QStringLiteral("changed")).toBool();
    line += check ? (changed ? QStringLiteral("would change") : QStringLiteral("unchanged"))
                  : (changed ? QStringLiteral("changed") : QStringLiteral("unchanged"));
    if (report.value(QStringLiteral("erased")).toBool()) line += QStringLiteral("  erased");
    const QStringList sent = paths(check ? QStringLiteral("would_send") : QStringLiteral("sent"));
    if (!sent.isEmpty())
        line += (check ? QStringLiteral("  would send: ") : QStringLiteral("  sent: ")) +
                sent.join(QStringLiteral(", "));
    const QStringList skipped = paths(QStringLiteral("skipped"));
    if (!skipped.isEmpty()) line += QStringLiteral("  %1 held").arg(skipped.size());
    const QString verification = report.value(QStringLiteral("verification_message")).toString();
    if (!verification.isEmpty()) line += QStringLiteral("  (") + verification + QLatin1Char(')');
    return line;
}

}  // namespace

int runApply(const LoadOptions& options) {
    const FleetFile fleet = readFleetFile(options.fleetFile);
    if (!fleet.error.isEmpty()) {
        std::fprintf(stderr, "velquin-load: %s\n", qPrintable(fleet.error));
        return 2;
    }
    // Every file must be usable before any printer is touched.
    for (const FleetGroup& group : fleet.groups)
        for (const FleetLoad& load : group.loads) {
            LoadOptions files;
            files.files = load.files;
            files.listFile = load.listFile;
            files.mode = load.mode;
            const ResolvedFiles resolved = resolveFiles(files);
            if (!resolved.error.isEmpty()) {
                std::fprintf(stderr, "velquin-load: group \"%s\": %s\n", qPrintable(group.name),
                             qPrintable(resolved.error));
                return 2;
            }
        }

    auto showEvent = [format = options.log, quiet = options.quiet](const QString& printer,
                                                                   const QString& line) {
        if (!quiet || format == LogFormat::Json) logWorkerLine(format, printer, line);
    };

    // The members of the fleet, in the order the file names them.
    std::vector<Member> members;
    std::map<QString, std::size_t> memberIndex;
    QJsonArray passedOver;
    auto join = [&](const QString& printer, const FleetGroup& group) {
        auto [place, added] = memberIndex.try_emplace(printer, members.size());
        if (added) members.push_back({printer, {}, {}, false});
        Member& member = members[place->second];
        member.groups << group.name;
        member.loads << group.loads;
        member.eraseIfChanged = member.eraseIfChanged || group.eraseIfChanged;
    };
    const std::chrono::milliseconds timeout(options.timeoutMs);
    for (const FleetGroup& group : fleet.groups) {
        for (const PrinterAddress& printer : group.printers) join(printer.name(), group);
        if (group.subnets.isEmpty()) continue;
        QList<AddressRange> ranges;
        for (const QString& subnet : group.subnets) ranges << *parseSubnet(subnet);
        const Discovery found =
            discoverPrinters(ranges, group.port, options.jobs, discoveryTimeout(options), showEvent);
        for (const QJsonObject& printer : found.printers) {
            const QJsonObject identity = printer.value(QStringLiteral("identity")).toObject();
            if (identity.value(QStringLiteral("suitable")).toBool())
                join(printer.value(QStringLiteral("printer")).toString(), group);
            else
                passedOver.append(
                    QJsonObject{{QStringLiteral("printer"), printer.value(QStringLiteral("printer"))},
                                {QStringLiteral("group"), group.name},
                                {QStringLiteral("reasons"), identity.value(QStringLiteral("reasons"))}});
        }
    }

    // Each printer's loads one after another, the printers side by side.
    std::vector<PrinterTask> tasks;
    for (const Member& member : members)
        tasks.push_back(
            {member.printer,
             [&member,
              check = options.check](const QList<QJsonObject>& reports) -> std::optional<QStringList> {
                 const qsizetype run = reports.size();
                 if (run >= member.loads.size()) return std::nullopt;
                 if (run > 0 &&
                     reports.back().value(QStringLiteral("outcome")).toString() != QLatin1String("completed"))
                     return std::nullopt;
                 const bool believed = run == 0 || recordBelieved(reports.first());
                 return sendArguments(member.loads[run], believed, run == 0 && member.eraseIfChanged, check);
             }});
    PoolOptions pool;
    pool.jobs = options.jobs;
    pool.timeout = timeout;
    pool.onEvent = showEvent;
    pool.onNotice = [format = options.log](const QString& text) { logNotice(format, text); };
    const std::vector<QList<QJsonObject>> runs = runPrinterTasks(tasks, pool);

    QJsonArray reports;
    bool failed = false, changed = false;
    for (std::size_t i = 0; i < members.size(); ++i) {
        const QJsonObject report = printerReport(members[i], runs[i], options.check);
        failed = failed || report.value(QStringLiteral("outcome")).toString() != QLatin1String("completed");
        changed = changed || report.value(QStringLiteral("changed")).toBool();
        reports.append(report);
    }
    if (options.json) {
        const QJsonObject document{{QStringLiteral("schema"), JSON_SCHEMA},
                                   {QStringLiteral("check"), options.check},
                                   {QStringLiteral("changed"), changed},
                                   {QStringLiteral("printers"), reports},
                                   {QStringLiteral("passed_over"), passedOver}};
        std::fputs(QJsonDocument(document).toJson().constData(), stdout);
    } else {
        for (const QJsonValue& report : reports)
            std::printf("%s\n", qPrintable(humanLine(report.toObject(), options.check)));
        for (const QJsonValue& other : passedOver)
            std::printf("%s  passed over: not suitable\n",
                        qPrintable(other[QStringLiteral("printer")].toString()));
    }
    std::fflush(stdout);
    if (failed) return 1;
    return options.check && changed ? EXIT_CHANGES_NEEDED : 0;
}

}  // namespace velquin::load
