#include "load_options.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "file_list.h"
#include "printer_lock.h"

namespace velquin::load {

namespace {

constexpr char ESC = '\x1b';

std::optional<LoaderMode> parseMode(const QString& text) {
    if (text == QLatin1String("ttf")) return LoaderMode::ModeTTF;
    if (text == QLatin1String("softfont")) return LoaderMode::ModeSF;
    if (text == QLatin1String("pcx")) return LoaderMode::ModePCX;
    return std::nullopt;
}

std::optional<TicketButton> parseTicket(const QString& text) {
    if (text == QLatin1String("all")) return TicketButton::TestAll;
    if (text == QLatin1String("resident")) return TicketButton::ResidentFonts;
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < 1 || number > 5) return std::nullopt;
    return static_cast<TicketButton>(number);
}

ParseResult usageError(const QString& text) {
    ParseResult result;
    result.kind = ParseResult::Kind::UsageError;
    result.error = text;
    return result;
}

}  // namespace

QString modeName(LoaderMode mode) {
    switch (mode) {
        case LoaderMode::ModeTTF:
            return QStringLiteral("ttf");
        case LoaderMode::ModeSF:
            return QStringLiteral("softfont");
        case LoaderMode::ModePCX:
            return QStringLiteral("pcx");
        case LoaderMode::ModeBMP:
            break;
    }
    return QStringLiteral("bmp");
}

QString PrinterAddress::name() const {
    if (local) return QStringLiteral("local");
    return QStringLiteral("tcp:%1:%2").arg(host).arg(port);
}

QString PrinterAddress::address() const {
    return local ? QStringLiteral("local") : QStringLiteral("%1:%2").arg(host).arg(port);
}

QString PrinterAddress::lockKey() const {
    return local ? PrinterLock::localKey() : PrinterLock::networkKey(host, port);
}

namespace {

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Four decimal octets of digits only. The library reads a leading 0 as
// octal, so the address goes on in its plain decimal form ("127.0.0.010" is
// 127.0.0.10, as typed, and one printer however it is written).
std::optional<QString> dottedAddress(const QString& text) {
    const QStringList octets = text.split(QLatin1Char('.'));
    if (octets.size() != 4) return std::nullopt;
    QStringList numbers;
    for (const QString& octet : octets) {
        const bool digits =
            !octet.isEmpty() && octet.size() <= 3 && std::all_of(octet.begin(), octet.end(), isDigit);
        const uint value = octet.toUInt();
        if (!digits || value > 255) return std::nullopt;
        numbers << QString::number(value);
    }
    return numbers.join(QLatin1Char('.'));
}

// The IPv4 address of a host name ("localhost", "printer-3.venue"); the
// resolver's reason when it has none.
std::optional<QString> resolvedAddress(const QString& name, QString* problem) {
    const bool hostName = !name.isEmpty() && !name.startsWith(QLatin1Char('-')) &&
                          std::all_of(name.begin(), name.end(), [](QChar c) {
                              return (c.isLetterOrNumber() && c.unicode() < 0x80) || c == QLatin1Char('-') ||
                                     c == QLatin1Char('.');
                          });
    if (!hostName) return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(name.toLatin1().constData(), nullptr, &hints, &found);
    if (status != 0 || found == nullptr) {
        if (problem != nullptr)
            *problem = QStringLiteral("%1: %2").arg(name, QString::fromLocal8Bit(::gai_strerror(status)));
        return std::nullopt;
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool shown = ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
    ::freeaddrinfo(found);
    if (!shown) return std::nullopt;
    return QString::fromLatin1(text);
}

}  // namespace

std::optional<PrinterAddress> parsePrinter(const QString& text, QString* problem) {
    PrinterAddress printer;
    printer.given = text;
    if (text == QLatin1String("local")) {
        printer.local = true;
        return printer;
    }
    if (!text.startsWith(QLatin1String("tcp:"))) return std::nullopt;
    QString rest = text.mid(4);
    printer.port = DEFAULT_NETWORK_PORT;
    const qsizetype colon = rest.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        bool ok = false;
        const uint port = rest.mid(colon + 1).toUInt(&ok);
        if (!ok || port == 0 || port > 65'535) return std::nullopt;
        printer.port = static_cast<quint16>(port);
        rest = rest.left(colon);
    }
    // localhost is this machine whatever the hosts file says.
    if (rest == QLatin1String("localhost")) rest = QStringLiteral("127.0.0.1");
    // Digits and dots are an address, never a name to look up.
    const bool numeric =
        std::all_of(rest.begin(), rest.end(), [](QChar c) { return isDigit(c) || c == QLatin1Char('.'); });
    const std::optional<QString> host = numeric ? dottedAddress(rest) : resolvedAddress(rest, problem);
    if (!host) return std::nullopt;
    printer.host = *host;
    return printer;
}

QString usageText() {
    return QStringLiteral(
        "Usage:\n"
        "  velquin-load send (FILE... | --list LISTFILE) --printer P [--printer P ...]\n"
        "                    [--mode ttf|softfont|pcx] [--jobs N] [--json] [--force] [--wait]\n"
        "                    [--skip-loaded] [--erase-if-changed] [--check] [--log json]\n"
        "  velquin-load export (FILE... | --list LISTFILE) [--mode M] [--output FILE]\n"
        "  velquin-load erase --printer P... [--yes] [--json] [--wait]\n"
        "  velquin-load status --printer P... [--json] [--wait]\n"
        "  velquin-load ticket (1-5|all|resident) --mode M --printer P... [--json] [--wait]\n"
        "  velquin-load history --printer P [--json]\n"
        "  velquin-load discover (--subnet CIDR... | --spooler) [--port N] [--json]\n"
        "                        [--jobs N] [--timeout MS] [--force]\n"
        "  velquin-load apply FLEETFILE [--check] [--json] [--jobs N] [--timeout MS]\n"
        "                     [--log json]\n"
        "\n"
        "Loads fonts and images into the flash of ticket printers, several at once.\n"
        "\n"
        "Printers:\n"
        "  tcp:HOST[:PORT]   a network printer (port 10001 when left out)\n"
        "  local             the first USB or parallel printer found\n"
        "  history also takes any part of a printer's identity (\"model RVA\", \"firmware 5.07\")\n"
        "\n"
        "Every load and erase is recorded in $XDG_DATA_HOME/velquin/ledger.sqlite;\n"
        "history shows a printer's loads and erases, newest first.\n"
        "\n"
        "Options:\n"
        "  --list LISTFILE   the files of a list file (.TFL, .SFL, .PFL give the mode)\n"
        "  --mode M          ttf, softfont or pcx (else from the list file or the files)\n"
        "  --printer P       a printer; repeat for a fleet\n"
        "  --jobs N          at most N printers at a time (default: all)\n"
        "  --json            write one JSON report to standard output\n"
        "  --log json        write each event (timestamp, printer, file, event, bytes,\n"
        "                    outcome) as one JSON object per line on standard error\n"
        "                    instead of the human lines (which carry a timestamp\n"
        "                    when standard error is not a terminal)\n"
        "  --force           send a list larger than the free flash without asking;\n"
        "                    discover: search more addresses than a /16 has\n"
        "  --yes             erase without asking\n"
        "  --wait            wait for a printer that another program is using\n"
        "  --skip-loaded     send only the files the ledger does not show on the\n"
        "                    printer since its last erase; say which were skipped.\n"
        "                    The ledger counts only while the printer's free flash\n"
        "                    is what it expects: else every file is sent\n"
        "  --erase-if-changed  send: when the printer no longer matches the ledger\n"
        "                    (erased or loaded elsewhere, another printer at the\n"
        "                    address), erase it first and send every file\n"
        "  --check           send, apply: say what would be sent; write nothing to\n"
        "                    a printer's flash\n"
        "  --output FILE     export: write the bytes to FILE instead of standard output\n"
        "  --subnet CIDR     discover: search the range A.B.C.D/N (repeatable); more\n"
        "                    than a /16 needs --force\n"
        "  --port N          discover: the printer port to search (default 10001)\n"
        "  --spooler         discover: list the spooler's queues on socket://HOST:PORT\n"
        "  --timeout MS      discover, apply: the longest one printer may take\n"
        "                    (discover: 5000; apply: no limit on sends)\n"

        "  --help            show this text\n"
        "  --version         show the version\n"
        "\n"
        "Exit status:\n"
        "  0  every printer succeeded\n"
        "  1  at least one printer failed\n"
        "  2  usage error\n"
        "  3  apply --check: some printer would be changed\n");
}

ParseResult parseCommandLine(const QStringList& arguments) {
    ParseResult result;
    LoadOptions& options = result.options;
    if (arguments.isEmpty()) return usageError(QStringLiteral("no command given"));

    qsizetype at = 0;
    if (arguments[0] == QLatin1String("--worker")) {
        options.worker = true;
        ++at;
    }
    if (at >= arguments.size()) return usageError(QStringLiteral("no command given"));
    const QString command = arguments[at++];
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        result.kind = ParseResult::Kind::Help;
        return result;
    }
    if (command == QLatin1String("--version")) {
        result.kind = ParseResult::Kind::Version;
        return result;
    }
    if (command == QLatin1String("send"))
        options.command = Command::Send;
    else if (command == QLatin1String("export"))
        options.command = Command::Export;
    else if (command == QLatin1String("erase"))
        options.command = Command::Erase;
    else if (command == QLatin1String("status"))
        options.command = Command::Status;
    else if (command == QLatin1String("ticket"))
        options.command = Command::Ticket;
    else if (command == QLatin1String("history"))
        options.command = Command::History;
    else if (command == QLatin1String("discover"))
        options.command = Command::Discover;
    else if (command == QLatin1String("apply"))
        options.command = Command::Apply;
    else
        return usageError(QStringLiteral("unknown command \"%1\"").arg(command));

    bool ticketGiven = false;
    while (at < arguments.size()) {
        const QString argument = arguments[at++];
        // An option's value: the next argument.
        auto value = [&](QString& out) {
            if (at >= arguments.size()) return false;
            out = arguments[at++];
            return true;
        };
        QString text;
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            result.kind = ParseResult::Kind::Help;
            return result;
        } else if (argument == QLatin1String("--printer")) {
            if (!value(text)) return usageError(QStringLiteral("--printer needs a value"));
            if (options.command == Command::History) {
                if (!options.historyPrinter.isEmpty())
                    return usageError(QStringLiteral("history takes one --printer"));
                options.historyPrinter = text;
                continue;
            }
            QString problem;
            const std::optional<PrinterAddress> printer = parsePrinter(text, &problem);
            if (!problem.isEmpty())
                return usageError(QStringLiteral("cannot resolve printer \"%1\" (%2)").arg(text, problem));
            if (!printer)
                return usageError(QStringLiteral("bad printer \"%1\" (tcp:HOST[:PORT] or local)").arg(text));
            options.printers.append(*printer);
        } else if (argument == QLatin1String("--mode")) {
            if (!value(text)) return usageError(QStringLiteral("--mode needs a value"));
            options.mode = parseMode(text);
            if (!options.mode)
                return usageError(QStringLiteral("bad mode \"%1\" (ttf, softfont or pcx)").arg(text));
        } else if (argument == QLatin1String("--list")) {
            if (!value(options.listFile)) return usageError(QStringLiteral("--list needs a value"));
        } else if (argument == QLatin1String("--jobs")) {
            if (!value(text)) return usageError(QStringLiteral("--jobs needs a value"));
            bool ok = false;
            options.jobs = text.toInt(&ok);
            if (!ok || options.jobs < 1) return usageError(QStringLiteral("bad --jobs \"%1\"").arg(text));
        } else if (argument == QLatin1String("--subnet")) {
            if (!value(text)) return usageError(QStringLiteral("--subnet needs a value"));
            options.subnets << text;
        } else if (argument == QLatin1String("--port")) {
            if (!value(text)) return usageError(QStringLiteral("--port needs a value"));
            bool ok = false;
            const uint port = text.toUInt(&ok);
            if (!ok || port == 0 || port > 65'535)
                return usageError(QStringLiteral("bad --port \"%1\"").arg(text));
            options.port = static_cast<quint16>(port);
        } else if (argument == QLatin1String("--probe") && options.worker) {
            options.probe = true;
        } else if (argument == QLatin1String("--log")) {
            if (!value(text)) return usageError(QStringLiteral("--log needs a value"));
            if (text == QLatin1String("json"))
                options.log = LogFormat::Json;
            else if (text == QLatin1String("human"))
                options.log = LogFormat::Human;
            else
                return usageError(QStringLiteral("bad --log \"%1\" (json or human)").arg(text));
        } else if (argument == QLatin1String("--spooler")) {
            options.spooler = true;
        } else if (argument == QLatin1String("--timeout")) {
            if (!value(text)) return usageError(QStringLiteral("--timeout needs a value"));
            bool ok = false;
            options.timeoutMs = text.toInt(&ok);
            if (!ok || options.timeoutMs < 1)
                return usageError(QStringLiteral("bad --timeout \"%1\"").arg(text));
        } else if (argument == QLatin1String("--output")) {
            if (!value(options.output)) return usageError(QStringLiteral("--output needs a value"));
        } else if (argument == QLatin1String("--json")) {
            options.json = true;
        } else if (argument == QLatin1String("--force")) {
            options.force = true;
        } else if (argument == QLatin1String("--yes")) {
            options.yes = true;
        } else if (argument == QLatin1String("--wait")) {
            options.wait = true;
        } else if (argument == QLatin1String("--skip-loaded")) {
            options.skipLoaded = true;
        } else if (argument == QLatin1String("--erase-if-changed")) {
            options.eraseIfChanged = true;
        } else if (argument == QLatin1String("--check")) {
            options.check = true;
        } else if (argument.startsWith(QLatin1String("--"))) {
            return usageError(QStringLiteral("unknown option \"%1\"").arg(argument));
        } else if (options.command == Command::Ticket && !ticketGiven) {
            const std::optional<TicketButton> ticket = parseTicket(argument);
            if (!ticket)
                return usageError(QStringLiteral("bad ticket \"%1\" (1-5, all or resident)").arg(argument));
            options.ticket = *ticket;
            ticketGiven = true;
        } else if (options.command == Command::Send || options.command == Command::Export) {
            options.files.append(argument);
        } else if (options.command == Command::Apply && options.fleetFile.isEmpty()) {
            options.fleetFile = argument;
        } else {
            return usageError(QStringLiteral("unexpected argument \"%1\"").arg(argument));
        }
    }

    // What each command needs.
    const bool takesFiles = options.command == Command::Send || options.command == Command::Export;
    if (takesFiles && options.files.isEmpty() == options.listFile.isEmpty())
        return usageError(QStringLiteral("give either files or --list LISTFILE"));
    if (options.command == Command::History && options.historyPrinter.isEmpty())
        return usageError(QStringLiteral("history needs --printer"));
    if (options.skipLoaded && options.command != Command::Send)
        return usageError(QStringLiteral("--skip-loaded belongs to send"));
    if (options.eraseIfChanged && options.command != Command::Send)
        return usageError(QStringLiteral("--erase-if-changed belongs to send"));
    if (options.check && options.command != Command::Send && options.command != Command::Apply)
        return usageError(QStringLiteral("--check belongs to send and apply"));
    const bool discovering = options.command == Command::Discover;
    if (!discovering &&
        (!options.subnets.isEmpty() || options.spooler || options.port != DEFAULT_NETWORK_PORT))
        return usageError(QStringLiteral("--subnet, --port and --spooler belong to discover"));
    if (options.timeoutMs > 0 && !discovering && options.command != Command::Apply && !options.worker)
        return usageError(QStringLiteral("--timeout belongs to discover and apply"));
    if (discovering && options.subnets.isEmpty() && !options.spooler)
        return usageError(QStringLiteral("discover needs --subnet CIDR or --spooler"));
    if (options.command == Command::Apply && options.fleetFile.isEmpty())
        return usageError(QStringLiteral("apply needs a fleet file"));
    if ((discovering || options.command == Command::Apply) && !options.printers.isEmpty())
        return usageError(QStringLiteral("discover and apply take no --printer"));
    if (options.command != Command::Export && options.command != Command::History && !discovering &&
        options.command != Command::Apply && options.printers.isEmpty())
        return usageError(QStringLiteral("no --printer given"));
    if (options.command == Command::Export && !options.printers.isEmpty())
        return usageError(QStringLiteral("export touches no printer; leave out --printer"));
    if (options.command == Command::Ticket && !ticketGiven)
        return usageError(QStringLiteral("ticket needs 1-5, all or resident"));
    if (options.command == Command::Ticket && !options.mode)
        return usageError(QStringLiteral("ticket needs --mode"));
    if (!options.output.isEmpty() && options.command != Command::Export)
        return usageError(QStringLiteral("--output belongs to export"));
    return result;
}

QString ledgerPrinterText(const QString& text) {
    const std::optional<PrinterAddress> printer = parsePrinter(text);
    return printer ? printer->address() : text;
}

std::optional<LoaderMode> modeOfListFile(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toUpper();
    if (suffix == QLatin1String("TFL")) return LoaderMode::ModeTTF;
    if (suffix == QLatin1String("SFL")) return LoaderMode::ModeSF;
    if (suffix == QLatin1String("PFL")) return LoaderMode::ModePCX;
    return std::nullopt;
}

std::optional<LoaderMode> modeOfContent(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray head = file.read(4);
    if (head.size() < 4) return std::nullopt;
    if (head == QByteArray("\x00\x01\x00\x00", 4) || head == "OTTO" || head == "true" || head == "ttcf")
        return LoaderMode::ModeTTF;
    // A soft font starts with its font descriptor command, ESC ")s".
    if (head[0] == ESC && head[1] == ')' && head[2] == 's') return LoaderMode::ModeSF;
    // PCX: the manufacturer byte 0x0A, a version up to 5, encoding 1.
    if (head[0] == '\x0a' && static_cast<unsigned char>(head[1]) <= 5 && head[2] == '\x01')
        return LoaderMode::ModePCX;
    return std::nullopt;
}

ResolvedFiles resolveFiles(const LoadOptions& options) {
    ResolvedFiles resolved;
    if (!options.listFile.isEmpty()) {
        QString problem;
        const std::optional<QStringList> lines = readListFile(options.listFile, &problem);
        if (!lines) {
            resolved.error = QStringLiteral("cannot read list file %1: %2").arg(options.listFile, problem);
            return resolved;
        }
        for (const QString& line : *lines)
            if (!line.trimmed().isEmpty()) resolved.paths.append(line);
        if (resolved.paths.isEmpty()) {
            resolved.nothingToSend = true;
            resolved.error =
                QStringLiteral("list file %1 names no file: nothing to send").arg(options.listFile);
            return resolved;
        }
        std::optional<LoaderMode> mode = options.mode ? options.mode : modeOfListFile(options.listFile);
        if (!mode && !resolved.paths.isEmpty()) mode = modeOfContent(resolved.paths.first());
        if (!mode) {
            resolved.error = QStringLiteral("cannot tell the mode of %1; give --mode").arg(options.listFile);
            return resolved;
        }
        resolved.mode = *mode;
    } else {
        resolved.paths = options.files;
        if (options.mode) {
            resolved.mode = *options.mode;
        } else {
            std::optional<LoaderMode> first;
            for (const QString& path : resolved.paths) {
                const std::optional<LoaderMode> kind = modeOfContent(path);
                if (!kind) {
                    resolved.error = QStringLiteral("%1 is not a True Type, soft font or PCX file").arg(path);
                    return resolved;
                }
                if (first && *kind != *first) {
                    resolved.error =
                        QStringLiteral("%1 is a %2 file, the others are %3: give one kind or --mode")
                            .arg(path, modeName(*kind), modeName(*first));
                    return resolved;
                }
                first = kind;
            }
            resolved.mode = first.value_or(LoaderMode::ModeTTF);
        }
    }
    for (const QString& path : resolved.paths) {
        if (!QFileInfo(path).isFile()) {
            resolved.error = QStringLiteral("cannot read %1").arg(path);
            return resolved;
        }
    }
    // What the window refuses to list is refused here too, for the same reason.
    for (const QString& path : resolved.paths) {
        if (const std::optional<QString> problem = loadProblem(resolved.mode, path)) {
            resolved.error = path + QLatin1Char(' ') + *problem;
            return resolved;
        }
    }
    if (resolved.paths.size() > static_cast<qsizetype>(FILE_LIST_CAPACITY))
        resolved.error = QStringLiteral("a list holds at most %1 files").arg(FILE_LIST_CAPACITY);
    return resolved;
}

}  // namespace velquin::load
