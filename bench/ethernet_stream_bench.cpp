// How much the TCP transport costs over a plain send loop: 64 MiB streamed
// to printer-sim as one True Type upload in 8,192-byte chunks, through
// WriteDataEthernetVB and through send() on the same socket, each timed
// until the simulator has received every byte. Prints the figures and the
// ratios (transport throughput / plain throughput), with nobody listening
// to the debug channel and with a listener attached.
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "morlix/morlix.h"
#include "platform/debug_output.h"
#include "simulator.h"

namespace {

constexpr std::size_t STREAM_SIZE = 64u * 1024u * 1024u;
constexpr std::size_t CHUNK = 8192;
// Many short rounds where the simulator is fast, so a busy machine's noise
// drops out of the best time; fewer where it sets the pace.
constexpr int COUNTING_ROUNDS = 15;
constexpr int CHECKSUMMING_ROUNDS = 3;

using Clock = std::chrono::steady_clock;

enum class Sender { PlainSend, Transport, TransportWithListener };

bool sendHeader(int socket) {
    std::string header = "<ttf" + std::to_string(STREAM_SIZE) + ">";
    return ::send(socket, header.data(), header.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(header.size());
}

// Streams the upload and gives the seconds until the simulator had it all.
double streamOnce(printersim::PrinterModel& printer, int socket, const std::vector<std::uint8_t>& data,
                  Sender sender) {
    std::uint64_t target = printer.bytesReceived() + STREAM_SIZE;
    if (!sendHeader(socket)) return -1;
    target += 4 + std::to_string(STREAM_SIZE).size() + 1;
    auto start = Clock::now();
    if (sender == Sender::PlainSend) {
        for (std::size_t at = 0; at < STREAM_SIZE; at += CHUNK)
            if (::send(socket, data.data() + at, CHUNK, MSG_NOSIGNAL) != static_cast<ssize_t>(CHUNK))
                return -1;
    } else {
        for (std::size_t at = 0; at < STREAM_SIZE; at += CHUNK) {
            std::int32_t sent = 0;
            if (WriteDataEthernetVB(socket, data.data() + at, CHUNK, &sent) != 1 || sent != CHUNK) return -1;
        }
    }
    if (!printer.waitForBytesReceived(target, std::chrono::seconds(60))) return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Figures {
    double seconds[3] = {1e9, 1e9, 1e9};  // best of the rounds, per sender
    std::size_t linesLogged = 0;
};

// Best times of each sender against one simulator.
bool measure(bool checksumFiles, int rounds, Figures& figures) {
    printersim::PrinterConfig config;
    config.flashSize = 1ull << 40;   // room for every round
    config.writeBytesPerSecond = 0;  // flash writes end at once
    config.checksumFiles = checksumFiles;
    printersim::Simulator simulator(config);
    std::int32_t socket = 0;
    std::string port = std::to_string(simulator.listenTcp(0));
    if (CreateEthernetSocketVB(&socket, "127", "0", "0", "1", port.c_str()) != 1) return false;
    std::vector<std::uint8_t> data(STREAM_SIZE);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + (i >> 13));

    // Rounds alternate the senders so that drift in the machine's load hits all alike.
    const Sender senders[] = {Sender::PlainSend, Sender::Transport, Sender::TransportWithListener};
    for (int round = 0; round < rounds; ++round) {
        for (Sender sender : senders) {
            double seconds;
            if (sender == Sender::TransportWithListener) {
                morlix::platform::DebugCapture listener;
                seconds = streamOnce(simulator.printer(), socket, data, sender);
                figures.linesLogged = listener.lines().size();
            } else {
                seconds = streamOnce(simulator.printer(), socket, data, sender);
            }
            if (seconds < 0) return false;
            double& best = figures.seconds[static_cast<int>(sender)];
            best = std::min(best, seconds);
        }
    }
    CloseEthernetSocketVB(socket);
    return true;
}

void report(const char* title, const Figures& figures) {
    auto mibPerSecond = [](double seconds) { return STREAM_SIZE / (1024.0 * 1024.0) / seconds; };
    const double* best = figures.seconds;
    std::printf("%s\n", title);
    std::printf("  plain send loop                     %8.3f s  %8.1f MiB/s\n", best[0],
                mibPerSecond(best[0]));
    std::printf("  WriteDataEthernetVB, no listener    %8.3f s  %8.1f MiB/s\n", best[1],
                mibPerSecond(best[1]));
    std::printf("  WriteDataEthernetVB, listener       %8.3f s  %8.1f MiB/s  (%zu log lines)\n", best[2],
                mibPerSecond(best[2]), figures.linesLogged);
    std::printf("  ratio, no listener:   %.3f (goal 0.9 or better)\n", best[0] / best[1]);
    std::printf("  ratio, with listener: %.3f\n", best[0] / best[2]);
}

}  // namespace

int main() {
    // Without checksums the simulator takes bytes at memory speed, so the
    // sender's own cost shows; with them, the simulator sets the pace.
    Figures counting, checksumming;
    if (!measure(false, COUNTING_ROUNDS, counting) || !measure(true, CHECKSUMMING_ROUNDS, checksumming)) {
        std::fprintf(stderr, "streaming to printer-sim failed\n");
        return 1;
    }
    std::printf("64 MiB in 8192-byte chunks to printer-sim on 127.0.0.1, best of %d and %d rounds\n",
                COUNTING_ROUNDS, CHECKSUMMING_ROUNDS);
    report("printer-sim counting bytes (--no-checksums):", counting);
    report("printer-sim checksumming every file:", checksumming);
    return counting.seconds[0] / counting.seconds[1] >= 0.9 ? 0 : 3;
}
