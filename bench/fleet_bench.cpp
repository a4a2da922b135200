// velquin-load against printer-sim printers on 127.0.0.1: the same 10-file
// list to one printer alone, then to 8 printers at once. Prints both wall
// times and their ratio; a fleet run should take little longer than one
// printer, since every printer has its own worker process and connection.
// The runs use a private environment (their own ledger, locks, settings and
// cache in a temporary folder), and every printer's journal must hold each
// file byte-exact, in order, or the bench fails.
// Usage: fleet_bench [printers] [file-size]
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <vector>

#include "../tests/support/loadable_files.h"
#include "simulator.h"

namespace {

// Runs velquin-load send over the files to the printers; the wall time in seconds.
double sendTo(const QStringList& files, const std::vector<std::unique_ptr<printersim::Simulator>>& printers,
              std::size_t count) {
    QStringList arguments{QStringLiteral("send")};
    arguments << files;
    for (std::size_t i = 0; i < count; ++i)
        arguments << QStringLiteral("--printer")
                  << QStringLiteral("tcp:127.0.0.1:%1").arg(printers[i]->port());
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(VELQUIN_LOAD_PATH), arguments);
    process.waitForFinished(-1);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (process.exitCode() != 0) std::fprintf(stderr, "velquin-load ended with %d\n", process.exitCode());
    return seconds;
}

// Keeps velquin-load's ledger, locks, settings and cache inside `dir`, away
// from the user's own.
void usePrivateEnvironment(const QTemporaryDir& dir) {
    const QDir root(dir.path());
    for (const char* name :
         {"XDG_RUNTIME_DIR", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        const QString folder = root.filePath(QString::fromLatin1(name).toLower());
        root.mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(name, QFile::encodeName(folder));
    }
}

// True when the printer's journal holds the files `rounds` times over, each
// complete and byte-exact (by its SHA-256), in the order sent.
bool journalHoldsFiles(printersim::Simulator& printer, const QStringList& files, int rounds) {
    std::vector<std::string> expected;
    for (int round = 0; round < rounds; ++round)
        for (const QString& path : files) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) return false;
            expected.push_back(
                QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex().toStdString());
        }
    const auto journal = printer.printer().journal();
    if (journal.size() != expected.size()) {
        std::fprintf(stderr, "printer on port %d journaled %zu entries, not %zu\n", printer.port(),
                     journal.size(), expected.size());
        return false;
    }
    for (std::size_t i = 0; i < journal.size(); ++i)
        if (journal[i].kind != printersim::EntryKind::TrueType || journal[i].error ||
            journal[i].sha256 != expected[i]) {
            std::fprintf(stderr, "printer on port %d: entry %zu is not the file sent (%s)\n", printer.port(),
                         i + 1, journal[i].problem.c_str());
            return false;
        }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const std::size_t fleet = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 8;
    const int fileSize = argc > 2 ? std::atoi(argv[2]) : 64 * 1024;

    QTemporaryDir dir;
    usePrivateEnvironment(dir);
    QStringList files;
    for (int i = 0; i < 10; ++i) {
        const QByteArray bytes = velquin::testing::trueTypeFile(fileSize, static_cast<unsigned>(i + 1));
        const QString path = dir.filePath(QStringLiteral("font%1.ttf").arg(i));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return 1;
        files << path;
    }
    std::vector<std::unique_ptr<printersim::Simulator>> printers;
    for (std::size_t i = 0; i < fleet; ++i) {
        printersim::PrinterConfig config;
        config.flashSize = 64u * 1024u * 1024u;
        printers.push_back(std::make_unique<printersim::Simulator>(config));
        printers.back()->listenTcp();
    }

    const double single = sendTo(files, printers, 1);
    const double all = sendTo(files, printers, fleet);
    std::printf("10 files of %d bytes\n", fileSize);
    std::printf("one printer:   %.2f s\n", single);
    std::printf("%zu printers:    %.2f s\n", fleet, all);
    std::printf("ratio:         %.2f (goal: at most 1.20)\n", all / single);
    bool exact = journalHoldsFiles(*printers[0], files, 2);
    for (std::size_t i = 1; i < fleet; ++i) exact = journalHoldsFiles(*printers[i], files, 1) && exact;
    std::printf("journals:      %s\n", exact ? "every file byte-exact on every printer" : "NOT byte-exact");
    return exact ? 0 : 1;
}
