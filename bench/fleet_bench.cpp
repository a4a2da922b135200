// velquin-load against printer-sim printers on 127.0.0.1: the same 10-file
// list to one printer alone, then to 8 printers at once. Prints both wall
// times and their ratio; a fleet run should take little longer than one
// printer, since every printer has its own worker process and connection.
// Usage: fleet_bench [printers] [file-size]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <vector>

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

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const std::size_t fleet = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 8;
    const int fileSize = argc > 2 ? std::atoi(argv[2]) : 64 * 1024;

    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 10; ++i) {
        QByteArray bytes("\x00\x01\x00\x00", 4);
        bytes.append(QByteArray(fileSize - 4, static_cast<char>('a' + i)));
        const QString path = dir.filePath(QStringLiteral("font%1.ttf").arg(i));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return 1;
        files << path;
    }
    std::vector<std::unique_ptr<printersim::Simulator>> printers;
    for (std::size_t i = 0; i < fleet; ++i) {
        printersim::PrinterConfig config;
        config.checksumFiles = false;
        printers.push_back(std::make_unique<printersim::Simulator>(config));
        printers.back()->listenTcp();
    }

    const double single = sendTo(files, printers, 1);
    const double all = sendTo(files, printers, fleet);
    std::printf("10 files of %d bytes\n", fileSize);
    std::printf("one printer:   %.2f s\n", single);
    std::printf("%zu printers:    %.2f s\n", fleet, all);
    std::printf("ratio:         %.2f (goal: at most 1.20)\n", all / single);
    return 0;
}
