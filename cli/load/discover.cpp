#include "discover.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "event_log.h"
#include "json_schema.h"
#include "printer_facts.h"
#include "report_text.h"
#include "spooler_queues.h"
#include "worker_pool.h"

namespace velquin::load {

namespace {

using Clock = std::chrono::steady_clock;

struct Attempt {
    int socket = -1;
    std::uint32_t address = 0;
    std::size_t order = 0;
    Clock::time_point deadline;
};

// Starts a non-blocking connect: the socket, or -1 when the address refused
// at once. `accepted` is set when it connected at once.
int startConnect(std::uint32_t address, std::uint16_t port, bool& accepted) {
    accepted = false;
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket < 0) return -1;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(address);
    target.sin_port = htons(port);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        accepted = true;
        ::close(socket);
        return -1;
    }
    if (errno == EINPROGRESS) return socket;
    ::close(socket);
    return -1;
}

QString workerPrinterName(std::uint32_t address, std::uint16_t port) {
    return QStringLiteral("tcp:%1:%2").arg(addressText(address)).arg(port);
}

}  // namespace

std::optional<AddressRange> parseSubnet(const QString& text) {
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    const QString host = slash < 0 ? text : text.left(slash);
    int prefix = 32;
    if (slash >= 0) {
        bool ok = false;
        prefix = text.mid(slash + 1).toInt(&ok);
        if (!ok || prefix < 0 || prefix > 32 || text.mid(slash + 1).size() > 2) return std::nullopt;
    }
    in_addr parsed{};
    if (::inet_pton(AF_INET, host.toLatin1().constData(), &parsed) != 1) return std::nullopt;
    const std::uint64_t size = std::uint64_t{1} << (32 - prefix);
    const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
    AddressRange range;
    range.first = ntohl(parsed.s_addr) & mask;
    range.count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, UINT32_MAX));
    if (prefix <= 30) {
        // The network and broadcast addresses are no printer's.
        range.first += 1;
        range.count = static_cast<std::uint32_t>(size - 2);
    }
    return range;
}

std::chrono::milliseconds discoveryTimeout(const LoadOptions& options) {
    return options.timeoutMs > 0 ? std::chrono::milliseconds(options.timeoutMs) : DEFAULT_DISCOVERY_TIMEOUT;
}

QString addressText(std::uint32_t address) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xff)
        .arg((address >> 8) & 0xff)
        .arg(address & 0xff);
}

QList<std::uint32_t> acceptingAddresses(const QList<AddressRange>& ranges, std::uint16_t port,
                                        const ProbeLimits& limits) {
    std::vector<std::uint32_t> addresses;
    for (const AddressRange& range : ranges)
        for (std::uint64_t offset = 0; offset < range.count; ++offset)
            addresses.push_back(static_cast<std::uint32_t>(range.first + offset));
    std::vector<bool> accepted(addresses.size(), false);
    std::vector<Attempt> inFlight;
    std::size_t next = 0;
    while (next < addresses.size() || !inFlight.empty()) {
        // Start connects up to the limit.
        while (next < addresses.size() && static_cast<int>(inFlight.size()) < limits.concurrency) {
            bool now = false;
            const int socket = startConnect(addresses[next], port, now);
            if (now) accepted[next] = true;
            if (socket >= 0)
                inFlight.push_back({socket, addresses[next], next, Clock::now() + limits.connectTimeout});
            ++next;
        }
        if (inFlight.empty()) continue;
        // Wait for the first connect to end, at most until the earliest deadline.
        std::vector<pollfd> polls;
        Clock::time_point earliest = inFlight.front().deadline;
        for (const Attempt& attempt : inFlight) {
            polls.push_back({attempt.socket, POLLOUT, 0});
            earliest = std::min(earliest, attempt.deadline);
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(earliest - Clock::now());
        ::poll(polls.data(), polls.size(), static_cast<int>(std::max<std::int64_t>(wait.count(), 0)) + 1);
        const Clock::time_point now = Clock::now();
        std::vector<Attempt> still;
        for (std::size_t i = 0; i < inFlight.size(); ++i) {
            const Attempt& attempt = inFlight[i];
            if (polls[i].revents != 0) {
                int error = 0;
                socklen_t length = sizeof error;
                if (::getsockopt(attempt.socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
                    accepted[attempt.order] = true;
                ::close(attempt.socket);
            } else if (now >= attempt.deadline) {
                ::close(attempt.socket);
            } else {
                still.push_back(attempt);
            }
        }
        inFlight = std::move(still);
    }
    QList<std::uint32_t> result;
    for (std::size_t i = 0; i < addresses.size(); ++i)
        if (accepted[i]) result.append(addresses[i]);
    return result;
}

Discovery discoverPrinters(const QList<AddressRange>& ranges, std::uint16_t port, int jobs,
                           std::chrono::milliseconds timeout,
                           const std::function<void(const QString&, const QString&)>& onEvent) {
    Discovery discovery;
    for (const AddressRange& range : ranges) discovery.probed += range.count;
    const QList<std::uint32_t> found = acceptingAddresses(ranges, port);
    // Each address that took the connection is asked as the other commands
    // ask a printer: a status worker, through the printer library.
    std::vector<PrinterTask> tasks;
    for (std::uint32_t address : found)
        tasks.push_back({workerPrinterName(address, port), [](const QList<QJsonObject>& reports) {
                             return reports.isEmpty() ? std::optional(QStringList{QStringLiteral("status"),
                                                                                  QStringLiteral("--probe")})
                                                      : std::nullopt;
                         }});
    PoolOptions pool;
    pool.jobs = jobs > 0 ? jobs : DEFAULT_DISCOVERY_JOBS;
    pool.timeout = timeout;
    pool.onEvent = onEvent;
    const std::vector<QList<QJsonObject>> reports = runPrinterTasks(tasks, pool);
    for (qsizetype i = 0; i < found.size(); ++i) {
        QJsonObject report = reports[static_cast<std::size_t>(i)].first();
        report.insert(QStringLiteral("address"), addressText(found[i]));
        report.insert(QStringLiteral("port"), port);
        if (report.contains(QStringLiteral("identity")))
            discovery.printers.append(report);
        else
            discovery.unanswered.append(report);
    }
    return discovery;
}

int runDiscover(const LoadOptions& options) {
    QElapsedTimer clock;
    clock.start();
    // With --spooler and ranges both, the queues stand in the one document of the search.
    std::optional<QJsonArray> queueList;
    if (options.spooler) {
        QString error;
        const QList<NetworkQueue> queues = networkQueues(error);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "velquin-load: %s\n", qPrintable(error));
            return 1;
        }
        queueList.emplace();
        for (const NetworkQueue& queue : queues) {
            queueList->append(QJsonObject{{QStringLiteral("queue"), queue.name},
                                          {QStringLiteral("device_uri"), queue.deviceUri},
                                          {QStringLiteral("printer"), queue.printer}});
            if (!options.json)
                std::printf("%s  %s  %s\n", qPrintable(queue.name), qPrintable(queue.printer),
                            qPrintable(queue.deviceUri));
        }
        if (options.subnets.isEmpty()) {
            if (options.json)
                std::fputs(QJsonDocument(QJsonObject{{QStringLiteral("schema"), JSON_SCHEMA},
                                                     {QStringLiteral("queues"), *queueList}})
                               .toJson()
                               .constData(),
                           stdout);
            return 0;
        }
    }

    QList<AddressRange> ranges;
    std::uint64_t total = 0;
    for (const QString& subnet : options.subnets) {
        const std::optional<AddressRange> range = parseSubnet(subnet);
        if (!range) {
            std::fprintf(stderr, "velquin-load: bad range \"%s\" (A.B.C.D/N)\n", qPrintable(subnet));
            return 2;
        }
        ranges.append(*range);
        total += range->count;
    }
    if (total > LARGEST_UNFORCED_SEARCH && !options.force) {
        std::fprintf(stderr, "velquin-load: %llu addresses is more than a /16; give --force to search them\n",
                     static_cast<unsigned long long>(total));
        return 2;
    }
    const Discovery discovery = discoverPrinters(
        ranges, options.port, options.jobs, discoveryTimeout(options),
        [format = options.log, quiet = options.quiet](const QString& printer, const QString& line) {
            if (!quiet || format == LogFormat::Json) logWorkerLine(format, printer, line);
        });
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    if (options.json) {
        QJsonArray printers, unanswered;
        for (const QJsonObject& printer : discovery.printers) printers.append(printer);
        for (const QJsonObject& silent : discovery.unanswered) unanswered.append(silent);
        QJsonObject document{{QStringLiteral("schema"), JSON_SCHEMA},
                             {QStringLiteral("printers"), printers},
                             {QStringLiteral("unanswered"), unanswered},
                             {QStringLiteral("addresses_probed"), static_cast<qint64>(discovery.probed)},
                             {QStringLiteral("seconds"), seconds}};
        if (queueList) document.insert(QStringLiteral("queues"), *queueList);
        std::fputs(QJsonDocument(document).toJson().constData(), stdout);
        return 0;
    }
    for (const QJsonObject& printer : discovery.printers) {
        const QJsonObject identity = printer.value(QStringLiteral("identity")).toObject();
        std::printf("%s:%d  %s  %s  firmware %s  %s  %s  %s\n",
                    qPrintable(printer.value(QStringLiteral("address")).toString()),
                    printer.value(QStringLiteral("port")).toInt(),
                    qPrintable(identity.value(QStringLiteral("printer_model")).toString()),
                    qPrintable(identity.value(QStringLiteral("logic_board")).toString()),
                    qPrintable(identity.value(QStringLiteral("firmware_version")).toString()),
                    qPrintable(verdictText(identity)),
                    qPrintable(busyText(printer.value(QStringLiteral("busy")))),
                    qPrintable(flashText(printer.value(QStringLiteral("free_flash")))));
    }
    for (const QJsonObject& silent : discovery.unanswered)
        std::printf("%s:%d  no identity (%s)\n",
                    qPrintable(silent.value(QStringLiteral("address")).toString()),
                    silent.value(QStringLiteral("port")).toInt(),
                    qPrintable(silent.value(QStringLiteral("outcome")).toString()));
    std::printf("%zu printer(s) among %llu address(es) in %.2f s\n",
                static_cast<std::size_t>(discovery.printers.size()),
                static_cast<unsigned long long>(discovery.probed), seconds);
    return 0;
}

}  // namespace velquin::load
