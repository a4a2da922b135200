// velquin-load's fleet commands against printer-sim printers on loopback:
// discover over 127.0.0.0/24 with ten printers on it, and apply on 32
// printers that already hold what the fleet file names (it only reads).
// Prints both wall times against their goals.
// Usage: discover_apply_bench [printers-for-apply]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "../tests/support/loadable_files.h"
#include "simulator.h"

namespace {

// Runs velquin-load; the wall time in seconds.
double timed(const QStringList& arguments, const QTemporaryDir& home) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    process.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(VELQUIN_LOAD_PATH), arguments);
    process.waitForFinished(-1);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (process.exitCode() != 0)
        std::fprintf(stderr, "velquin-load %s ended with %d\n", qPrintable(arguments.first()),
                     process.exitCode());
    return seconds;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const int fleet = argc > 1 ? std::atoi(argv[1]) : 32;
    QTemporaryDir home;

    // Discovery: ten printers across 127.0.0.0/24 on one port.
    std::vector<std::unique_ptr<printersim::Simulator>> found;
    std::uint16_t port = 0;
    for (int i = 0; i < 10; ++i) {
        found.push_back(std::make_unique<printersim::Simulator>());
        port = found.back()->listenTcp(port, "127.0.0." + std::to_string(5 + i * 24));
    }
    const double discovery =
        timed({QStringLiteral("discover"), QStringLiteral("--subnet"), QStringLiteral("127.0.0.0/24"),
               QStringLiteral("--port"), QString::number(port)},
              home);
    found.clear();

    // Apply: every printer holds the two files already; the timed run only reads.
    QFile font(home.filePath(QStringLiteral("a.ttf")));
    if (!font.open(QIODevice::WriteOnly) || font.write(velquin::testing::trueTypeFile(4004, 1)) < 0) return 1;
    font.close();
    std::vector<std::unique_ptr<printersim::Simulator>> printers;
    QStringList names;
    for (int i = 0; i < fleet; ++i) {
        printers.push_back(std::make_unique<printersim::Simulator>());
        names << QStringLiteral("\"tcp:127.0.0.1:%1\"").arg(printers.back()->listenTcp());
    }
    QFile fleetFile(home.filePath(QStringLiteral("fleet.toml")));
    if (!fleetFile.open(QIODevice::WriteOnly)) return 1;
    fleetFile.write(QStringLiteral("[[group]]\nprinters = [%1]\n[[group.load]]\nfiles = [\"a.ttf\"]\n")
                        .arg(names.join(QStringLiteral(", ")))
                        .toUtf8());
    fleetFile.close();
    timed({QStringLiteral("apply"), fleetFile.fileName()}, home);
    const double apply = timed({QStringLiteral("apply"), fleetFile.fileName()}, home);

    std::printf("discover, /24 with 10 printers:      %.2f s (goal: at most 2 s)\n", discovery);
    std::printf("apply, %d printers needing nothing:  %.2f s (goal: at most 3 s)\n", fleet, apply);
    return 0;
}
