// What an upload costs beyond what it must: the real window sends a list of
// 10 files of 1 MiB to printer-sim over TCP (127.0.0.1) with a fast flash.
// Its wall time is set against a floor computed from the protocol alone: the
// waits the printer's protocol asks for, counted from the number of files,
// plus the raw transfer time of the same bytes through a plain send loop.
// The program's own sleeps are not counted, so a wait longer than the
// protocol needs shows as overhead. Prints the figures and the overhead
// ratio; the goal is below 1.2.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

#include "bench_window.h"
#include "main_window.h"
#include "morlix_library.h"
#include "operator_prompts.h"
#include "simulator.h"

namespace {

constexpr int FILE_COUNT = 10;
constexpr qsizetype FILE_SIZE = 1024 * 1024;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Sends the bytes through a fresh connection with a plain send loop and
// gives the seconds until the simulator has received them all.
double rawTransferSeconds(printersim::Simulator& simulator, const QByteArray& bytes) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(simulator.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    const std::uint64_t target =
        simulator.printer().bytesReceived() + static_cast<std::uint64_t>(bytes.size());
    const auto start = Clock::now();
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t sent =
            ::send(fd, bytes.constData() + at,
                   static_cast<std::size_t>(std::min<qsizetype>(8192, bytes.size() - at)), MSG_NOSIGNAL);
        if (sent <= 0) {
            ::close(fd);
            return -1;
        }
        at += sent;
    }
    const bool received = simulator.printer().waitForBytesReceived(target, std::chrono::seconds(60));
    const double seconds = secondsSince(start);
    ::close(fd);
    return received ? seconds : -1;
}

// The least waiting the protocol allows for a list of `files` True Type
// files over TCP. A status read over the network is a request with a wait of
// 100 ms before and after writing it; a flash query waits 500 ms for its
// reply. Once per list: the busy test at entry and the flash read at the end.
// Per file: the busy test, the initial toggle, at least one toggle read
// after the transfer and the busy test after the flash write (four status
// reads), and the flash space before and after (two flash queries).
double protocolWaitSeconds(int files) {
    constexpr double STATUS_READ = 0.100 + 0.100;
    constexpr double FLASH_QUERY = 0.500;
    return STATUS_READ + FLASH_QUERY + files * (4 * STATUS_READ + 2 * FLASH_QUERY);
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
    QByteArray allBytes;
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return 1;
        allBytes += "<ttf" + QByteArray::number(FILE_SIZE) + ">" + file.readAll();
    }
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
        std::fprintf(stderr, "the upload did not complete: %s\n", qPrintable(prompts.messages().join(" / ")));
        return 1;
    }

    const double rawSeconds = rawTransferSeconds(simulator, allBytes);
    if (rawSeconds < 0) return 1;
    const double protocolSeconds = protocolWaitSeconds(FILE_COUNT);
    const double expected = protocolSeconds + rawSeconds;
    std::printf("upload of %d files of %lld bytes over TCP to printer-sim (fast flash)\n", FILE_COUNT,
                static_cast<long long>(FILE_SIZE));
    std::printf("  bytes received by the printer:   %llu\n", static_cast<unsigned long long>(uploaded));
    std::printf("  wall time of the run:            %.3f s\n", wallSeconds);
    std::printf("  the protocol's waits (floor):    %.3f s\n", protocolSeconds);
    std::printf("  raw transfer of the same bytes:  %.3f s\n", rawSeconds);
    std::printf("  overhead against the floor:      %.3f s\n", wallSeconds - expected);
    std::printf("  overhead ratio:                  %.3f (goal below 1.2)\n", wallSeconds / expected);
    window.Form_Unload();
    return wallSeconds / expected < 1.2 ? 0 : 2;
}
