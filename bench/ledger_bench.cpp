// What the ledger adds to an upload: the real window sends a list of 100
// files to printer-sim over TCP (127.0.0.1) with a fast flash, and the same
// 100 loads are recorded in a ledger, first as the upload's thread pays for
// them (queued), then written one file at a time (hash and transaction per
// file, as if the writer ran on the upload's thread). Prints both against the
// upload's wall time; the goal is below 1 %.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cstdio>

#include "bench_window.h"
#include "ledger.h"
#include "main_window.h"
#include "morlix_library.h"
#include "operator_prompts.h"
#include "simulator.h"

namespace {

constexpr int FILE_COUNT = 100;
constexpr qsizetype FILE_SIZE = 16 * 1024;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Records one load per file; with `eachWritten` every record is in the file
// before the next starts. Gives the seconds, or -1 when a write failed.
double recordLoads(velquin::ledger::Ledger& ledger, const velquin::ledger::PrinterKey& printer,
                   const QStringList& files, bool eachWritten) {
    using namespace velquin::ledger;
    const auto start = Clock::now();
    qint64 free = 64ll * 1024 * 1024;
    for (const QString& path : files) {
        LoadStart load;
        load.path = path;
        load.freeBefore = free;
        const LoadTicket ticket = ledger.loadStarting(printer, load);
        free -= FILE_SIZE;
        ledger.loadFinished(ticket, Outcome::Confirmed, free);
        if (eachWritten && !ledger.flush(std::chrono::seconds(10))) return -1;
    }
    return secondsSince(start);
}

}  // namespace

int main(int argc, char* argv[]) {
    QTemporaryDir dir;
    velquin::bench::usePrivateEnvironment(dir);
    QApplication application(argc, argv);

    const auto listed = velquin::bench::openListedWindow(dir, 0, FILE_COUNT, FILE_SIZE);
    if (!listed) return 1;
    printersim::Simulator& simulator = *listed->printer;
    const QStringList& files = listed->files;
    velquin::MainWindow& window = *listed->window;
    velquin::ScriptedOperatorPrompts& prompts = listed->prompts;
    const std::uint64_t receivedBefore = simulator.printer().bytesReceived();
    const auto start = Clock::now();
    window.sendList();
    window.waitForWork();
    const double wallSeconds = secondsSince(start);
    const std::uint64_t uploaded = simulator.printer().bytesReceived() - receivedBefore;
    const std::size_t stored = simulator.printer().journal().size();
    if (prompts.messages() != QStringList{QStringLiteral("Flash Upload Complete")} || stored != FILE_COUNT) {
        std::fprintf(stderr, "the upload did not complete: %s (%zu of %d files stored)\n",
                     qPrintable(prompts.messages().join(" / ")), stored, FILE_COUNT);
        return 1;
    }

    window.Form_Unload();

    velquin::ledger::Ledger ledger;
    const auto printer = velquin::ledger::PrinterKey::tcp(
        velquin::PrinterIdentity{QStringLiteral("RVA"), QStringLiteral("KTL"), QStringLiteral("MXR PLUS"),
                                 QStringLiteral("5.07")},
        QStringLiteral("127.0.0.1"), simulator.port());
    // The window's upload is in the ledger already.
    const std::size_t recordedBefore = ledger.loads(printer).size();
    const double queuedSeconds = recordLoads(ledger, printer, files, false);
    if (!ledger.flush(std::chrono::seconds(30))) return 1;
    const double writtenSeconds = recordLoads(ledger, printer, files, true);
    if (queuedSeconds < 0 || writtenSeconds < 0 ||
        ledger.loads(printer).size() != recordedBefore + 2u * FILE_COUNT) {
        std::fprintf(stderr, "the ledger did not record the loads: %s\n", qPrintable(ledger.problem()));
        return 1;
    }
    std::printf("ledger against an upload of %d files of %lld bytes over TCP to printer-sim (fast flash)\n",
                FILE_COUNT, static_cast<long long>(FILE_SIZE));
    std::printf("  upload wall time (%llu bytes):      %.3f s\n", static_cast<unsigned long long>(uploaded),
                wallSeconds);
    std::printf("  ledger, paid by the upload (queued):    %.3f ms  (%.4f %%)\n", queuedSeconds * 1000,
                100 * queuedSeconds / wallSeconds);
    std::printf("  ledger, written file by file:           %.3f ms  (%.4f %%)\n", writtenSeconds * 1000,
                100 * writtenSeconds / wallSeconds);
    return queuedSeconds / wallSeconds < 0.01 ? 0 : 2;
}
