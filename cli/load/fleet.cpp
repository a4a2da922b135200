#include "fleet.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include "event_log.h"
#include "json_schema.h"
#include "printer_run.h"
#include "shown_text.h"
#include "termination_signals.h"

namespace velquin::load {

namespace {

struct Worker {
    PrinterAddress printer;
    std::unique_ptr<QProcess> process;
    QByteArray pendingError;  // a partial event line
    QString shown;            // the live line on a terminal
    QJsonObject report;
    bool started = false;
    bool finished = false;
    bool killed = false;  // ended by the fleet after the stop's grace
    QString inFlight;     // the last progress line's fields while a file is sent
};

// A worker that has not ended this long after a stop request is stuck in a
// call to the printer (a stalled printer): it is ended, and the guardian of
// its library puts back any spooler queues it moved.
constexpr int STOP_GRACE_MS = 1000;

// Set once standard error could not be written (its reader went away).
bool errorOutputLost = false;

void writeError(const QString& text) {
    if (std::fputs(qPrintable(text), stderr) < 0 || std::fflush(stderr) != 0) errorOutputLost = true;
}

// The live lines of a terminal: one per printer, redrawn in place.
class LiveLines {
public:
    explicit LiveLines(std::vector<Worker>& workers) : workers_(workers) {}
    void redraw() {
        QString text;
        if (drawn_ > 0) text += QStringLiteral("\x1b[%1A").arg(drawn_);
        for (const Worker& worker : workers_)
            text += QStringLiteral("\r\x1b[2K%1  %2\n").arg(worker.printer.name(), worker.shown);
        drawn_ = static_cast<int>(workers_.size());
        writeError(text);
    }

private:
    std::vector<Worker>& workers_;
    int drawn_ = 0;
};

// The report of a worker ended during a stop: which file it was sending.
QJsonObject stoppedReport(const Worker& worker) {
    QJsonObject report{{QStringLiteral("printer"), worker.printer.name()},
                       {QStringLiteral("outcome"), QStringLiteral("stopped")}};
    const QStringList parts = worker.inFlight.split(QLatin1Char('|'));
    report.insert(
        QStringLiteral("message"),
        parts.size() == 5
            ? QStringLiteral("stopped mid-file: %1 (%2 of %3 bytes sent)").arg(parts[0], parts[1], parts[2])
            : QStringLiteral("stopped while the printer did not answer"));
    return report;
}

QString progressText(const QString& fields) {
    const QStringList parts = fields.split(QLatin1Char('|'));
    if (parts.size() != 5) return fields;
    const double rate = parts[3].toDouble() / 1024.0;
    return QStringLiteral("%1  %2/%3 bytes  %4 KiB/s  %5")
        .arg(parts[0], parts[1], parts[2], QString::number(rate, 'f', 0), parts[4]);
}

}  // namespace

QString summaryLine(const QJsonObject& report) {
    QString line = report.value(QStringLiteral("printer")).toString() + QStringLiteral("  ") +
                   report.value(QStringLiteral("outcome")).toString();
    const QJsonArray files = report.value(QStringLiteral("files")).toArray();
    if (!files.isEmpty()) {
        int completed = 0;
        qint64 bytes = 0;
        for (const QJsonValue& file : files) {
            if (file[QStringLiteral("outcome")].toString() == QLatin1String("completed")) ++completed;
            bytes += file[QStringLiteral("bytes_sent")].toInteger();
        }
        line += QStringLiteral("  %1 of %2 files, %3 bytes").arg(completed).arg(files.size()).arg(bytes);
    }
    if (report.contains(QStringLiteral("would_send")))
        line += QStringLiteral("  would send %1 file(s)")
                    .arg(report.value(QStringLiteral("would_send")).toArray().size());
    const QJsonArray skipped = report.value(QStringLiteral("skipped")).toArray();
    if (!skipped.isEmpty()) line += QStringLiteral("  %1 skipped (already held)").arg(skipped.size());
    const QString message = report.value(QStringLiteral("message")).toString();
    if (!message.isEmpty()) line += QStringLiteral("  (") + message + QStringLiteral(")");
    return line;
}

int runFleet(const LoadOptions& givenOptions) {
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    LoadOptions options = givenOptions;
    if (options.command == Command::Erase && !options.yes) {
        // Ask once for the whole fleet; without a terminal the answer is no.
        if (::isatty(STDIN_FILENO) == 1) {
            writeError(
                QStringLiteral("Erase the font space of %1 printer(s)? [y/N] ").arg(options.printers.size()));
            char answer[16] = {};
            if (std::fgets(answer, sizeof answer, stdin) != nullptr && (answer[0] == 'y' || answer[0] == 'Y'))
                options.yes = true;
        }
    }

    std::vector<Worker> workers(static_cast<std::size_t>(options.printers.size()));
    for (std::size_t i = 0; i < workers.size(); ++i) {
        workers[i].printer = options.printers[static_cast<qsizetype>(i)];
        workers[i].shown = QStringLiteral("waiting");
    }
    LiveLines live(workers);
    const int jobs = options.jobs > 0 ? options.jobs : static_cast<int>(workers.size());
    bool stopping = false;
    QEventLoop loop;
    int running = 0;

    // A log system gets JSON events instead of the lines; a pipe gets lines with a time.
    const bool jsonLog = options.log == LogFormat::Json;
    const bool liveLines = terminal && !jsonLog;

    // Ctrl-C, SIGTERM or a lost reader of the events: every worker stops
    // between chunks and reports; one stuck in a call is ended after the grace.
    // A worker gets the signal the fleet got, so its report names it.
    int stopSignal = SIGTERM;
    auto stopAll = [&] {
        if (stopping) return;
        stopping = true;
        for (Worker& worker : workers)
            if (worker.started && !worker.finished)
                ::kill(static_cast<pid_t>(worker.process->processId()), stopSignal);
        QTimer::singleShot(STOP_GRACE_MS, &loop, [&workers] {
            for (Worker& worker : workers) {
                if (!worker.started || worker.finished) continue;
                worker.killed = true;
                worker.process->kill();
            }
        });
    };

    auto show = [&](Worker& worker, const QString& line) {
        const bool progress = line.startsWith(QLatin1String(PROGRESS_PREFIX));
        const QString fields =
            progress ? line.mid(static_cast<qsizetype>(sizeof PROGRESS_PREFIX - 1)) : QString();
        if (progress) worker.inFlight = fields.endsWith(QLatin1String("|sending")) ? fields : QString();
        if (options.quiet && !jsonLog) return;
        const bool waiting = line.startsWith(QLatin1String(WAITING_PREFIX));
        if (jsonLog) {
            if (!writeJsonEvent(eventObject(logTimestamp(), worker.printer.name(), line)))
                errorOutputLost = true;
        } else {
            const QString waited = waiting ? line.mid(qsizetype{sizeof WAITING_PREFIX} - 1) : QString();
            const QString text = shownText(progress  ? progressText(fields)
                                           : waiting ? waitingText(waited)
                                                     : line);
            if (liveLines) {
                worker.shown = text;
                live.redraw();
            } else if (waiting ? waitWorthALogLine(waited)
                               : !progress || !line.contains(QLatin1String("|sending"))) {
                writeError(logTimestamp() + QLatin1Char(' ') + worker.printer.name() + QStringLiteral(": ") +
                           text + QLatin1Char('\n'));
            }
        }
        if (errorOutputLost) stopAll();
    };

    std::function<void()> startMore;
    auto finished = [&](Worker& worker) {
        worker.finished = true;
        --running;
        const QJsonDocument document = QJsonDocument::fromJson(worker.process->readAllStandardOutput());
        if (document.isObject())
            worker.report = document.object();
        else if (worker.killed)
            worker.report = stoppedReport(worker);
        else
            worker.report = QJsonObject{{QStringLiteral("printer"), worker.printer.name()},
                                        {QStringLiteral("outcome"), QStringLiteral("worker-failed")}};
        if (jsonLog) {
            if (!writeJsonEvent(finishedObject(logTimestamp(), worker.report))) errorOutputLost = true;
        } else {
            show(worker,
                 QStringLiteral("finished: ") + worker.report.value(QStringLiteral("outcome")).toString());
        }
        startMore();
    };
    startMore = [&] {
        for (Worker& worker : workers) {
            if (running >= jobs) break;
            if (worker.started || stopping) continue;
            worker.started = true;
            ++running;
            worker.process = std::make_unique<QProcess>();
            QProcess* process = worker.process.get();
            QObject::connect(process, &QProcess::readyReadStandardError, [&worker, &show] {
                worker.pendingError += worker.process->readAllStandardError();
                qsizetype end = 0;
                while ((end = worker.pendingError.indexOf('\n')) >= 0) {
                    show(worker, QString::fromLocal8Bit(worker.pendingError.left(end)));
                    worker.pendingError.remove(0, end + 1);
                }
            });
            QObject::connect(process, &QProcess::finished, [&worker, &finished] { finished(worker); });
            process->start(QCoreApplication::applicationFilePath(),
                           workerCommandLine(options, worker.printer));
            if (!process->waitForStarted()) {
                worker.report = {{QStringLiteral("printer"), worker.printer.name()},
                                 {QStringLiteral("outcome"), QStringLiteral("worker-failed")}};
                worker.finished = true;
                --running;
            }
        }
        if (running == 0) loop.quit();
    };

    std::unique_ptr<TerminationSignals> termination;
    termination = std::make_unique<TerminationSignals>([&] {
        stopSignal = termination->received();
        stopAll();
    });

    if (liveLines) live.redraw();
    startMore();
    if (running > 0) loop.exec();

    QJsonArray reports;
    bool allCompleted = true;
    for (Worker& worker : workers) {
        if (!worker.started)
            worker.report = {{QStringLiteral("printer"), worker.printer.name()},
                             {QStringLiteral("outcome"), QStringLiteral("not-started")}};
        if (worker.report.value(QStringLiteral("outcome")).toString() != QLatin1String("completed"))
            allCompleted = false;
        reports.append(worker.report);
    }
    if (options.json) {
        const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("schema"), JSON_SCHEMA},
                                                          {QStringLiteral("printers"), reports}})
                                    .toJson();
        std::fwrite(json.constData(), 1, static_cast<std::size_t>(json.size()), stdout);
    } else {
        for (const QJsonValue& report : reports)
            std::printf("%s\n", qPrintable(shownText(summaryLine(report.toObject()))));
    }
    std::fflush(stdout);
    // An interrupted run says so in its status too, as a shell expects of a signal.
    if (termination->received() != 0) return 128 + termination->received();
    return allCompleted ? 0 : 1;
}

}  // namespace velquin::load
