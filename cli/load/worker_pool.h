// Worker processes for commands that reach many printers and keep their
// reports: at most `jobs` at a time, each printer's runs one after another,
// every run bounded in time.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace velquin::load {

struct PrinterTask {
    QString printer;  // as the worker's --printer takes it
    // The next run's arguments (without --worker and --printer) given the
    // reports of the runs so far; nothing when the task is done.
    std::function<std::optional<QStringList>(const QList<QJsonObject>& reports)> next;
};

struct PoolOptions {
    int jobs = 0;                          // 0: every printer at once
    std::chrono::milliseconds timeout{0};  // per run; 0: none
    // A worker's event line, as it arrives.
    std::function<void(const QString& printer, const QString& line)> onEvent;
    // A line for the operator about the run itself (fewer jobs than asked).
    std::function<void(const QString& text)> onNotice;
};

// Runs every task; the reports of each task's runs, in task order. A run
// past its time is killed and reported as "timed-out"; one that gives no
// report as "worker-failed".
std::vector<QList<QJsonObject>> runPrinterTasks(const std::vector<PrinterTask>& tasks,
                                                const PoolOptions& options);

}  // namespace velquin::load
