#include "worker_pool.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>
#include <memory>

#include "descriptor_limit.h"
#include "event_log.h"
#include "termination_signals.h"

namespace velquin::load {

namespace {

struct Slot {
    std::unique_ptr<QProcess> process;
    std::unique_ptr<QTimer> timer;
    QByteArray pendingError;
    bool timedOut = false;
    bool running = false;
    bool done = false;
};

QJsonObject failedReport(const QString& printer, const QString& outcome, const QString& message = {}) {
    QJsonObject report{{QStringLiteral("printer"), printer}, {QStringLiteral("outcome"), outcome}};
    if (!message.isEmpty()) report.insert(QStringLiteral("message"), message);
    return report;
}

}  // namespace

std::vector<QList<QJsonObject>> runPrinterTasks(const std::vector<PrinterTask>& tasks,
                                                const PoolOptions& options) {
    std::vector<QList<QJsonObject>> reports(tasks.size());
    std::vector<Slot> workers(tasks.size());
    QString heldBack;
    const int jobs = workersAtOnce(options.jobs, static_cast<int>(tasks.size()), &heldBack);
    if (!heldBack.isEmpty()) {
        if (options.onNotice)
            options.onNotice(heldBack);
        else
            logNotice(LogFormat::Human, heldBack);
    }
    int running = 0;
    bool stopping = false;
    QEventLoop loop;

    std::function<void()> fill;
    // Starts the task's next run; false when it has none.
    auto startRun = [&](std::size_t index) {
        const std::optional<QStringList> arguments = tasks[index].next(reports[index]);
        if (!arguments || stopping) return false;
        Slot& slot = workers[index];
        slot.process = std::make_unique<QProcess>();
        slot.timedOut = false;
        QProcess* process = slot.process.get();
        QObject::connect(process, &QProcess::readyReadStandardError, [&, index] {
            Slot& self = workers[index];
            self.pendingError += self.process->readAllStandardError();
            qsizetype end = 0;
            while ((end = self.pendingError.indexOf('\n')) >= 0) {
                if (options.onEvent)
                    options.onEvent(tasks[index].printer,
                                    QString::fromLocal8Bit(self.pendingError.left(end)));
                self.pendingError.remove(0, end + 1);
            }
        });
        QObject::connect(process, &QProcess::finished, [&, index] {
            Slot& self = workers[index];
            if (self.timer) self.timer->stop();
            const QJsonDocument document = QJsonDocument::fromJson(self.process->readAllStandardOutput());
            if (self.timedOut)
                reports[index].append(failedReport(tasks[index].printer, QStringLiteral("timed-out")));
            else if (document.isObject())
                reports[index].append(document.object());
            else
                reports[index].append(failedReport(tasks[index].printer, QStringLiteral("worker-failed")));
            self.process.release()->deleteLater();
            self.running = false;
            --running;
            QTimer::singleShot(0, fill);
        });
        if (options.timeout.count() > 0) {
            slot.timer = std::make_unique<QTimer>();
            slot.timer->setSingleShot(true);
            QObject::connect(slot.timer.get(), &QTimer::timeout, [&, index] {
                workers[index].timedOut = true;
                workers[index].process->kill();
            });
            slot.timer->start(options.timeout);
        }
        process->start(QCoreApplication::applicationFilePath(),
                       QStringList{QStringLiteral("--worker")} + *arguments +
                           QStringList{QStringLiteral("--printer"), tasks[index].printer});
        slot.running = true;
        ++running;
        if (!process->waitForStarted()) {
            reports[index].append(failedReport(tasks[index].printer, QStringLiteral("worker-failed"),
                                               workerStartFailure(process->errorString())));
            QObject::disconnect(process, nullptr, nullptr, nullptr);
            if (slot.timer) slot.timer->stop();
            slot.running = false;
            --running;
            return false;
        }
        return true;
    };
    fill = [&] {
        for (std::size_t index = 0; index < tasks.size(); ++index) {
            Slot& slot = workers[index];
            if (slot.running || slot.done) continue;
            if (running >= jobs) break;
            if (!startRun(index)) slot.done = true;
        }
        if (running == 0) loop.quit();
    };

    // Ctrl-C or SIGTERM: every worker stops between chunks and reports.
    TerminationSignals termination([&] {
        stopping = true;
        for (Slot& slot : workers)
            if (slot.running) slot.process->terminate();
    });
    fill();
    if (running > 0) loop.exec();
    for (std::size_t index = 0; index < tasks.size(); ++index)
        if (reports[index].isEmpty())
            reports[index].append(failedReport(tasks[index].printer, QStringLiteral("not-started")));
    return reports;
}

}  // namespace velquin::load
