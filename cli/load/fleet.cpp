#include "fleet.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include "descriptor_limit.h"
#include "event_log.h"
#include "json_schema.h"
#include "live_screen.h"
#include "printer_run.h"
#include "report_text.h"
#include "shown_text.h"
#include "termination_signals.h"

namespace velquin::load {

namespace {

struct Worker {
    PrinterAddress printer;
    QStringList alsoNamed;  // the other names given for the same printer
    std::unique_ptr<QProcess> process;
    QByteArray pendingError;  // a partial event line
    LiveRow live;             // the printer's line on a terminal
    QJsonObject report;
    bool started = false;
    bool finished = false;
    bool killed = false;                     // ended by the fleet after the stop's grace
    std::optional<ProgressFields> inFlight;  // the last progress while a file is sent
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

// The terminal's size now (it may change during the run).
TerminalSize terminalSize() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return {};
    return {size.ws_col, size.ws_row};
}

// The live lines of a terminal, redrawn in place over the ones drawn before,
// at most every REDRAW_INTERVAL: hundreds of printers' progress would
// otherwise redraw the screen thousands of times a second.
class LiveLines {
public:
    static constexpr std::chrono::milliseconds REDRAW_INTERVAL{100};

    explicit LiveLines(std::vector<Worker>& workers) : workers_(workers) {
        pending_.setSingleShot(true);
        pending_.setInterval(REDRAW_INTERVAL);
        QObject::connect(&pending_, &QTimer::timeout, [this] { redraw(); });
    }
    // A line changed: it is drawn with the next redraw.
    void changed() {
        if (!pending_.isActive()) pending_.start();
    }
    void redraw() {
        pending_.stop();
        std::vector<LiveRow> rows;
        rows.reserve(workers_.size());
        for (const Worker& worker : workers_) rows.push_back(worker.live);
        const QStringList lines = LiveScreen(terminalSize()).render(rows);
        QString text;
        if (drawn_ > 0) text += QStringLiteral("\x1b[%1A").arg(drawn_);
        for (const QString& line : lines) text += QStringLiteral("\r\x1b[2K") + line + QLatin1Char('\n');
        // Fewer lines than before: the old ones below are cleared.
        if (lines.size() < drawn_) text += QStringLiteral("\x1b[J");
        drawn_ = static_cast<int>(lines.size());
        writeError(text);
    }

private:
    std::vector<Worker>& workers_;
    QTimer pending_;
    int drawn_ = 0;
};

// The report of a worker ended during a stop: which file it was sending.
QJsonObject stoppedReport(const Worker& worker, int signal) {
    QJsonObject report{{QStringLiteral("outcome"), QStringLiteral("stopped")}};
    const std::optional<ProgressFields>& file = worker.inFlight;
    report.insert(QStringLiteral("message"),
                  file ? QStringLiteral("%1 mid-file: %2 (%3 of %4 bytes sent)")
                             .arg(stopCause(signal), file->path)
                             .arg(file->bytes)
                             .arg(file->size)
                       : QStringLiteral("%1 while the printer did not answer").arg(stopCause(signal)));
    return report;
}

QJsonObject failedReport(const QString& outcome, const QString& message = {}) {
    QJsonObject report{{QStringLiteral("outcome"), outcome}};
    if (!message.isEmpty()) report.insert(QStringLiteral("message"), message);
    return report;
}

// The report names the printer as the user wrote it, with the address it
// resolved to and the other names given for it.
void nameIn(QJsonObject& report, const Worker& worker) {
    report.insert(QStringLiteral("printer"), worker.printer.shownName());
    report.insert(QStringLiteral("address"), worker.printer.address());
    if (!worker.alsoNamed.isEmpty())
        report.insert(QStringLiteral("also_named"), QJsonArray::fromStringList(worker.alsoNamed));
}

// One worker per printer: a printer named twice (tcp:localhost:P and
// tcp:127.0.0.1:P) would have a second worker refused by the first one's
// lock. The later names are merged into the first, and that is said.
std::vector<Worker> workersFor(const QList<PrinterAddress>& printers, LogFormat log) {
    std::vector<Worker> workers;
    for (const PrinterAddress& printer : printers) {
        const auto same = std::find_if(workers.begin(), workers.end(), [&printer](const Worker& worker) {
            return worker.printer.lockKey() == printer.lockKey();
        });
        if (same != workers.end()) {
            same->alsoNamed << printer.shownName();
            logNotice(log, QStringLiteral("%1 is the printer %2 names (%3): it is driven once")
                               .arg(shownText(printer.shownName()), shownText(same->printer.shownName()),
                                    same->printer.address()));
            continue;
        }
        Worker& worker = workers.emplace_back();
        worker.printer = printer;
        worker.live.printer = shownText(printer.shownName());
        worker.live.text = QStringLiteral("waiting");
    }
    return workers;
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
    std::vector<Worker> workers = workersFor(options.printers, options.log);
    if (options.command == Command::Erase && !options.yes) {
        // Ask once for the whole fleet; without a terminal the answer is no.
        if (::isatty(STDIN_FILENO) == 1) {
            writeError(QStringLiteral("Erase the font space of %1 printer(s)? [y/N] ").arg(workers.size()));
            char answer[16] = {};
            if (std::fgets(answer, sizeof answer, stdin) != nullptr && (answer[0] == 'y' || answer[0] == 'Y'))
                options.yes = true;
        }
    }

    LiveLines live(workers);
    QString heldBack;
    const int jobs = workersAtOnce(options.jobs, static_cast<int>(workers.size()), &heldBack);
    if (!heldBack.isEmpty()) logNotice(options.log, heldBack);
    bool stopping = false;
    QEventLoop loop;
    int running = 0;

    // A log system gets JSON events instead of the lines; a pipe gets lines with a time.
    const bool jsonLog = options.log == LogFormat::Json;
    const bool liveLines = terminal && !jsonLog && !options.quiet;

    // Ctrl-C, SIGTERM or a lost reader of the events: every worker stops
    // between chunks and reports; one stuck in a call is ended after the grace.
    // A worker gets the signal the fleet got, so its report names it.
    int stopSignal = SIGTERM;
    std::unique_ptr<TerminationSignals> termination;
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
        const std::optional<ProgressFields> file =
            progress ? parseProgressFields(line.mid(static_cast<qsizetype>(sizeof PROGRESS_PREFIX - 1)))
                     : std::nullopt;
        const bool sending = file && file->state == QLatin1String("sending");
        if (progress) worker.inFlight = sending ? file : std::nullopt;
        if (options.quiet && !jsonLog) return;
        // The wait for a flash write: on the live line, and now and then in a log.
        const bool waiting = line.startsWith(QLatin1String(WAITING_PREFIX));
        const QString waited = waiting ? line.mid(qsizetype{sizeof WAITING_PREFIX} - 1) : QString();
        const QString text = waiting ? waitingText(waited) : line;
        if (jsonLog) {
            if (!writeJsonEvent(eventObject(logTimestamp(), worker.printer.shownName(), line)))
                errorOutputLost = true;
        } else if (liveLines) {
            worker.live.file = file;
            if (!file) worker.live.text = shownText(text);
            live.changed();
        } else if (waiting ? waitWorthALogLine(waited) : !sending) {
            writeError(logTimestamp() + QLatin1Char(' ') + shownText(worker.printer.shownName()) +
                       QStringLiteral(": ") + shownText(file ? progressText(*file) : text) +
                       QLatin1Char('\n'));
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
            worker.report = stoppedReport(worker, termination ? termination->received() : 0);
        else
            worker.report = failedReport(QStringLiteral("worker-failed"));
        nameIn(worker.report, worker);
        const QString outcome = worker.report.value(QStringLiteral("outcome")).toString();
        worker.live.phase = LiveRow::Phase::Finished;
        worker.live.failed = outcome != QLatin1String("completed");
        if (jsonLog) {
            if (!writeJsonEvent(finishedObject(logTimestamp(), worker.report))) errorOutputLost = true;
        } else {
            show(worker, QStringLiteral("finished: ") + outcome);
        }
        startMore();
    };
    startMore = [&] {
        for (Worker& worker : workers) {
            if (running >= jobs) break;
            if (worker.started || stopping) continue;
            worker.started = true;
            ++running;
            worker.live.phase = LiveRow::Phase::Running;
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
                worker.report =
                    failedReport(QStringLiteral("worker-failed"), workerStartFailure(process->errorString()));
                worker.finished = true;
                worker.live.phase = LiveRow::Phase::Finished;
                worker.live.failed = true;
                --running;
            }
        }
        if (running == 0) loop.quit();
    };

    termination = std::make_unique<TerminationSignals>([&] {
        stopSignal = termination->received();
        stopAll();
    });

    if (liveLines) live.redraw();
    startMore();
    if (running > 0) loop.exec();
    if (liveLines) live.redraw();

    QJsonArray reports;
    bool allCompleted = true;
    for (Worker& worker : workers) {
        if (!worker.started) worker.report = failedReport(QStringLiteral("not-started"));
        nameIn(worker.report, worker);
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
        for (const QJsonValue& report : reports) {
            std::printf("%s\n", qPrintable(shownText(summaryLine(report.toObject()))));
            if (options.command != Command::Status) continue;
            for (const QString& line : statusLines(report.toObject()))
                std::printf("  %s\n", qPrintable(shownText(line)));
        }
    }
    std::fflush(stdout);
    // An interrupted run says so in its status too, as a shell expects of a signal.
    if (termination->received() != 0) return 128 + termination->received();
    return allCompleted ? 0 : 1;
}

}  // namespace velquin::load
