// Finding network printers for velquin-load: which addresses of the ranges
// the operator names accept a connection on the printer port, then, for
// each, what the printer says of itself (identity, verdict, busy, free
// flash) through a status worker, as every other command asks a printer.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "load_options.h"

namespace velquin::load {

// The addresses of an IPv4 range "A.B.C.D/N": the hosts of it (the network
// and broadcast addresses left out up to /30), as numbers.
struct AddressRange {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

// Parses "A.B.C.D/N" (a bare address is /32); nothing when malformed.
std::optional<AddressRange> parseSubnet(const QString& text);
QString addressText(std::uint32_t address);

// A range searched only with --force: more addresses than a /16 has.
inline constexpr std::uint64_t LARGEST_UNFORCED_SEARCH = 65'536;

struct ProbeLimits {
    int concurrency = 128;  // connects in flight at once
    std::chrono::milliseconds connectTimeout{500};
};

// The addresses, in order, that accept a TCP connection on `port`: a
// non-blocking connect to each, closed at once, nothing sent.
QList<std::uint32_t> acceptingAddresses(const QList<AddressRange>& ranges, std::uint16_t port,
                                        const ProbeLimits& limits = {});

struct Discovery {
    QList<QJsonObject> printers;    // answered the identity request
    QList<QJsonObject> unanswered;  // took the connection, gave no identity in time
    std::uint64_t probed = 0;
};

// Probes the ranges and asks every address that accepted. `onEvent` gets
// the workers' event lines.
Discovery discoverPrinters(const QList<AddressRange>& ranges, std::uint16_t port, int jobs,
                           std::chrono::milliseconds timeout,
                           const std::function<void(const QString&, const QString&)>& onEvent = {});

// How long one address may take to answer, from --timeout or the default.
inline constexpr std::chrono::milliseconds DEFAULT_DISCOVERY_TIMEOUT{5000};
// Printers asked at once when --jobs does not say.
inline constexpr int DEFAULT_DISCOVERY_JOBS = 64;
std::chrono::milliseconds discoveryTimeout(const LoadOptions& options);

// velquin-load discover: 0 when the search ran, 2 on a usage error.
int runDiscover(const LoadOptions& options);

}  // namespace velquin::load
