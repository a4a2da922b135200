#include "load_options.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "file_list.h"
#include "list_file.h"
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
        "                    [--timeout SECONDS]\n"
        "  velquin-load export (FILE... | --list LISTFILE) [--mode M] [--output FILE]\n"
        "  velquin-load erase --printer P... [--yes] [--json] [--wait] [--jobs N] [--log json]\n"
        "  velquin-load status --printer P... [--json] [--wait] [--jobs N] [--log json]\n"
        "  velquin-load ticket (1-5|all|resident) --mode M --printer P... [--json] [--wait]\n"
        "                      [--jobs N] [--log json]\n"
        "  velquin-load history --printer P [--json]\n"
        "  velquin-load discover (--subnet CIDR... | --spooler) [--port N] [--json]\n"
        "                        [--jobs N] [--timeout MS] [--force] [--log json]\n"
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
        "Files:\n"
        "  -                 standard input (once); --list - reads the list there\n"
        "  --                ends the options: every argument after it is a file\n"
        "  A list file holds one path per line; a relative path is taken from the\n"
        "  list file's folder (from the current folder for --list -).\n"
        "\n"
        "Every load and erase is recorded in $XDG_DATA_HOME/velquin/ledger.sqlite;\n"
        "history shows a printer's loads and erases, newest first.\n"
        "\n"
        "Options (--opt VALUE or --opt=VALUE):\n"
        "  --list LISTFILE   the files of a list file (.TFL, .SFL, .PFL give the mode)\n"
        "  --mode M          ttf, softfont or pcx (else from the list file or the files)\n"
        "  --printer P       a printer; repeat for a fleet\n"
        "  --jobs N          at most N printers at a time (default: all)\n"
        "  --json            write one JSON report to standard output\n"
        "  --log json        write each event (timestamp, printer, file, event, bytes,\n"
        "                    outcome) as one JSON object per line on standard error\n"
        "                    instead of the human lines (which carry a timestamp\n"
        "                    when standard error is not a terminal)\n"
        "  -q, --quiet       no progress or event lines: only the report and errors\n"
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
        "  --timeout T       send: the longest wait, in seconds, for the printer to\n"
        "                    write one file to flash (default: 60 s and 1 s per\n"
        "                    20,000 bytes of the file);\n"
        "                    discover, apply: the longest one printer may take, in\n"
        "                    milliseconds (discover: 5000; apply: no limit on sends).\n"
        "                    T may carry its unit: 500ms, 12s\n"
        "  -h, --help        show this text\n"
        "  --version         show the version\n"
        "\n"
        "Exit status:\n"
        "  0  every printer succeeded\n"
        "  1  at least one printer failed\n"
        "  2  usage error\n"
        "  3  apply --check: some printer would be changed\n"
        "  130, 143  interrupted by Ctrl-C (SIGINT) or SIGTERM, after the report\n");
}

std::optional<std::chrono::milliseconds> parseDuration(const QString& text,
                                                       std::chrono::milliseconds bareUnit) {
    QString number = text;
    std::chrono::milliseconds unit = bareUnit;
    if (number.endsWith(QLatin1String("ms"))) {
        number.chop(2);
        unit = std::chrono::milliseconds(1);
    } else if (number.endsWith(QLatin1Char('s'))) {
        number.chop(1);
        unit = std::chrono::seconds(1);
    }
    bool ok = false;
    const qint64 count = number.toLongLong(&ok);
    // At most a day: a longer wait is a typing mistake, and the count stays an int.
    constexpr std::chrono::milliseconds LONGEST = std::chrono::hours(24);
    if (!ok || count < 1 || count > LONGEST / unit) return std::nullopt;
    return count * unit;
}

namespace {

// What one command takes; the parser is built from these.
struct CommandOptions {
    Command command;
    const char* name;
    std::vector<std::string> operands;
    std::vector<std::string> printers;
    std::string list, mode, jobs, log, output, port, timeout;
    std::vector<std::string> subnets, shownNames;
    bool json = false, force = false, yes = false, wait = false, skipLoaded = false, eraseIfChanged = false,
         check = false, spooler = false, probe = false;
};

QString fromArgument(const std::string& text) {
    return QFile::decodeName(QByteArray::fromStdString(text));
}

// Builds the command's own options on `sub`: each command takes only what it uses.
void addOptions(CLI::App& sub, CommandOptions& o) {
    const Command c = o.command;
    const bool reachesPrinters =
        c == Command::Send || c == Command::Erase || c == Command::Status || c == Command::Ticket;
    const bool fleet = reachesPrinters || c == Command::Discover || c == Command::Apply;
    // An option given twice counts as the last one, as it always has.
    const auto single = [&sub](const char* name, std::string& value) {
        sub.add_option(name, value)->take_last();
    };
    if (c == Command::Send || c == Command::Export || c == Command::Ticket || c == Command::Apply)
        sub.add_option("operands", o.operands);
    // Repeatable, one value each time: what follows is a file again.
    if (reachesPrinters || c == Command::History)
        sub.add_option("--printer", o.printers)->allow_extra_args(false);
    if (c == Command::Send || c == Command::Export) single("--list", o.list);
    if (c == Command::Send || c == Command::Export || c == Command::Ticket) single("--mode", o.mode);
    if (fleet) {
        single("--jobs", o.jobs);
        single("--log", o.log);
    }
    if (fleet || c == Command::History) sub.add_flag("--json", o.json);
    if (c == Command::Send || c == Command::Discover) sub.add_flag("--force", o.force);
    if (c == Command::Erase) sub.add_flag("--yes", o.yes);
    if (reachesPrinters) sub.add_flag("--wait", o.wait);
    if (c == Command::Send) {
        sub.add_flag("--skip-loaded", o.skipLoaded);
        sub.add_flag("--erase-if-changed", o.eraseIfChanged);
        // A worker's files sent under another path: "PATH\nNAME SHOWN".
        sub.add_option("--shown-name", o.shownNames)->allow_extra_args(false)->group("");
    }
    if (c == Command::Send || c == Command::Apply) sub.add_flag("--check", o.check);
    if (c == Command::Send || c == Command::Discover || c == Command::Apply) single("--timeout", o.timeout);
    if (c == Command::Export) single("--output", o.output);
    if (c == Command::Discover) {
        sub.add_option("--subnet", o.subnets)->allow_extra_args(false);
        single("--port", o.port);
        sub.add_flag("--spooler", o.spooler);
    }
    if (c == Command::Status) sub.add_flag("--probe", o.probe)->group("");
}

// The commands that take `option`, for a usage error that names them.
QStringList commandsTaking(const std::vector<std::unique_ptr<CommandOptions>>& all,
                           std::vector<CLI::App*>& subs, const std::string& option) {
    QStringList names;
    for (std::size_t i = 0; i < subs.size(); ++i) {
        const CLI::Option* known = subs[i]->get_option_no_throw(option);
        if (known != nullptr && !known->get_group().empty()) names << QLatin1String(all[i]->name);
    }
    return names;
}

}  // namespace

ParseResult parseCommandLine(const QStringList& arguments) {
    // Everything after "--" is a file (or the command's operand), whatever it looks like.
    const qsizetype endOfOptions = arguments.indexOf(QStringLiteral("--"));
    const QStringList optionPart = endOfOptions < 0 ? arguments : arguments.first(endOfOptions);
    const QStringList afterOptions = endOfOptions < 0 ? QStringList() : arguments.mid(endOfOptions + 1);

    CLI::App app{"", "velquin-load"};
    app.set_help_flag();
    app.allow_extras();
    bool help = false, version = false, quiet = false, worker = false;
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    app.add_flag("-q,--quiet", quiet);
    // This process drives the one printer it is given, for a fleet.
    app.add_flag("--worker", worker)->group("");

    const std::pair<Command, const char*> commands[] = {
        {Command::Send, "send"},         {Command::Export, "export"}, {Command::Erase, "erase"},
        {Command::Status, "status"},     {Command::Ticket, "ticket"}, {Command::History, "history"},
        {Command::Discover, "discover"}, {Command::Apply, "apply"}};
    std::vector<std::unique_ptr<CommandOptions>> all;
    std::vector<CLI::App*> subs;
    for (const auto& [command, name] : commands) {
        auto& options = *all.emplace_back(std::make_unique<CommandOptions>());
        options.command = command;
        options.name = name;
        CLI::App* sub = app.add_subcommand(name);
        sub->fallthrough();
        sub->allow_extras();
        addOptions(*sub, options);
        subs.push_back(sub);
    }

    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed;
    for (qsizetype at = optionPart.size() - 1; at >= 0; --at)
        reversed.push_back(QFile::encodeName(optionPart[at]).toStdString());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        if (help) return ParseResult{ParseResult::Kind::Help, {}, {}};
        QString text = QString::fromStdString(error.what());
        // "--printer: 1 required TEXT missing": the option lacks its value.
        if (text.contains(QLatin1String("required")) && text.contains(QLatin1String("missing")))
            text = text.section(QLatin1Char(':'), 0, 0) + QStringLiteral(" needs a value");
        return usageError(text);
    }
    if (help) return ParseResult{ParseResult::Kind::Help, {}, {}};
    if (version) return ParseResult{ParseResult::Kind::Version, {}, {}};

    std::size_t chosen = subs.size();
    for (std::size_t i = 0; i < subs.size(); ++i)
        if (subs[i]->parsed()) chosen = i;
    if (chosen == subs.size()) {
        const std::vector<std::string> extra = app.remaining();
        if (extra.empty()) return usageError(QStringLiteral("no command given"));
        if (QString::fromStdString(extra.front()).startsWith(QLatin1Char('-')))
            return usageError(QStringLiteral("unknown option \"%1\"").arg(fromArgument(extra.front())));
        return usageError(QStringLiteral("unknown command \"%1\"").arg(fromArgument(extra.front())));
    }
    CommandOptions& given = *all[chosen];
    const char* name = given.name;
    const std::vector<std::string> extra = app.remaining();
    if (!extra.empty()) {
        const QString first = fromArgument(extra.front());
        if (!first.startsWith(QLatin1Char('-')) || first == QLatin1String("-"))
            return usageError(QStringLiteral("unexpected argument \"%1\"").arg(first));
        const QStringList takers =
            commandsTaking(all, subs, first.section(QLatin1Char('='), 0, 0).toStdString());
        if (takers.isEmpty()) {
            const bool takesFiles = given.command == Command::Send || given.command == Command::Export;
            return usageError(QStringLiteral("unknown option \"%1\"%2")
                                  .arg(first, takesFiles
                                                  ? QStringLiteral(" (a file of that name goes after --)")
                                                  : QString()));
        }
        return usageError(QStringLiteral("%1 belongs to %2, not %3")
                              .arg(first.section(QLatin1Char('='), 0, 0), takers.join(QStringLiteral(", ")),
                                   QLatin1String(name)));
    }

    ParseResult result;
    LoadOptions& options = result.options;
    options.command = given.command;
    options.worker = worker;
    options.quiet = quiet;
    options.json = given.json;
    options.force = given.force;
    options.yes = given.yes;
    options.wait = given.wait;
    options.skipLoaded = given.skipLoaded;
    options.eraseIfChanged = given.eraseIfChanged;
    options.check = given.check;
    options.spooler = given.spooler;
    options.probe = given.probe && worker;
    options.listFile = fromArgument(given.list);
    options.output = fromArgument(given.output);
    for (const std::string& pair : given.shownNames) {
        const QString text = fromArgument(pair);
        const qsizetype newline = text.indexOf(QLatin1Char('\n'));
        if (newline > 0) options.shownNames.insert(text.left(newline), text.mid(newline + 1));
    }
    for (const std::string& subnet : given.subnets) options.subnets << fromArgument(subnet);

    QStringList operands;
    for (const std::string& operand : given.operands) operands << fromArgument(operand);
    operands += afterOptions;

    // Each value, judged.
    for (const std::string& text : given.printers) {
        const QString printer = fromArgument(text);
        if (options.command == Command::History) {
            if (!options.historyPrinter.isEmpty())
                return usageError(QStringLiteral("history takes one --printer"));
            options.historyPrinter = printer;
            continue;
        }
        QString problem;
        const std::optional<PrinterAddress> address = parsePrinter(printer, &problem);
        if (!problem.isEmpty())
            return usageError(QStringLiteral("cannot resolve printer \"%1\" (%2)").arg(printer, problem));
        if (!address)
            return usageError(QStringLiteral("bad printer \"%1\" (tcp:HOST[:PORT] or local)").arg(printer));
        options.printers.append(*address);
    }
    if (!given.mode.empty()) {
        options.mode = parseMode(fromArgument(given.mode));
        if (!options.mode)
            return usageError(
                QStringLiteral("bad mode \"%1\" (ttf, softfont or pcx)").arg(fromArgument(given.mode)));
    }
    if (!given.jobs.empty()) {
        bool ok = false;
        options.jobs = fromArgument(given.jobs).toInt(&ok);
        if (!ok || options.jobs < 1)
            return usageError(QStringLiteral("bad --jobs \"%1\"").arg(fromArgument(given.jobs)));
    }
    if (!given.port.empty()) {
        bool ok = false;
        const uint port = fromArgument(given.port).toUInt(&ok);
        if (!ok || port == 0 || port > 65'535)
            return usageError(QStringLiteral("bad --port \"%1\"").arg(fromArgument(given.port)));
        options.port = static_cast<quint16>(port);
    }
    if (!given.log.empty()) {
        const QString log = fromArgument(given.log);
        if (log == QLatin1String("json"))
            options.log = LogFormat::Json;
        else if (log == QLatin1String("human"))
            options.log = LogFormat::Human;
        else
            return usageError(QStringLiteral("bad --log \"%1\" (json or human)").arg(log));
    }
    if (!given.timeout.empty()) {
        // send counts in seconds, discover and apply in milliseconds, as each always has.
        const auto bareUnit = options.command == Command::Send
                                  ? std::chrono::milliseconds(std::chrono::seconds(1))
                                  : std::chrono::milliseconds(1);
        const std::optional<std::chrono::milliseconds> timeout =
            parseDuration(fromArgument(given.timeout), bareUnit);
        if (!timeout)
            return usageError(QStringLiteral("bad --timeout \"%1\"").arg(fromArgument(given.timeout)));
        options.timeoutMs = static_cast<int>(timeout->count());
    }

    // The operands.
    switch (options.command) {
        case Command::Send:
        case Command::Export:
            options.files = operands;
            break;
        case Command::Ticket: {
            if (operands.isEmpty()) return usageError(QStringLiteral("ticket needs 1-5, all or resident"));
            if (operands.size() > 1)
                return usageError(QStringLiteral("unexpected argument \"%1\"").arg(operands[1]));
            const std::optional<TicketButton> ticket = parseTicket(operands.first());
            if (!ticket)
                return usageError(
                    QStringLiteral("bad ticket \"%1\" (1-5, all or resident)").arg(operands.first()));
            options.ticket = *ticket;
            break;
        }
        case Command::Apply:
            if (operands.size() > 1)
                return usageError(QStringLiteral("unexpected argument \"%1\"").arg(operands[1]));
            options.fleetFile = operands.value(0);
            break;
        default:
            if (!operands.isEmpty())
                return usageError(QStringLiteral("unexpected argument \"%1\"").arg(operands.first()));
            break;
    }

    // What each command needs.
    const bool takesFiles = options.command == Command::Send || options.command == Command::Export;
    if (takesFiles && options.files.isEmpty() == options.listFile.isEmpty())
        return usageError(QStringLiteral("give either files or --list LISTFILE"));
    if (takesFiles && options.files.count(QStringLiteral("-")) > 1)
        return usageError(QStringLiteral("standard input (-) can be given once"));
    if (options.command == Command::History && options.historyPrinter.isEmpty())
        return usageError(QStringLiteral("history needs --printer"));
    const bool discovering = options.command == Command::Discover;
    if (discovering && options.subnets.isEmpty() && !options.spooler)
        return usageError(QStringLiteral("discover needs --subnet CIDR or --spooler"));
    if (options.command == Command::Apply && options.fleetFile.isEmpty())
        return usageError(QStringLiteral("apply needs a fleet file"));
    if (options.command != Command::Export && options.command != Command::History && !discovering &&
        options.command != Command::Apply && options.printers.isEmpty())
        return usageError(QStringLiteral("no --printer given"));
    if (options.command == Command::Ticket && !options.mode)
        return usageError(QStringLiteral("ticket needs --mode"));
    return result;
}

QStringList workerCommandLine(const LoadOptions& options, const PrinterAddress& printer) {
    static const char* const NAMES[] = {"send",   "export",  "erase",    "status",
                                        "ticket", "history", "discover", "apply"};
    QStringList line{QStringLiteral("--worker"), QLatin1String(NAMES[static_cast<int>(options.command)]),
                     QStringLiteral("--printer"), printer.name()};
    if (options.mode) line << QStringLiteral("--mode") << modeName(*options.mode);
    if (!options.listFile.isEmpty()) line << QStringLiteral("--list") << options.listFile;
    const std::pair<bool, const char*> flags[] = {{options.force, "--force"},
                                                  {options.yes, "--yes"},
                                                  {options.wait, "--wait"},
                                                  {options.skipLoaded, "--skip-loaded"},
                                                  {options.eraseIfChanged, "--erase-if-changed"},
                                                  {options.check, "--check"}};
    for (const auto& [given, flag] : flags)
        if (given) line << QLatin1String(flag);
    if (options.timeoutMs > 0)
        line << QStringLiteral("--timeout") << QStringLiteral("%1ms").arg(options.timeoutMs);
    for (auto name = options.shownNames.begin(); name != options.shownNames.end(); ++name)
        line << QStringLiteral("--shown-name") << name.key() + QLatin1Char('\n') + name.value();
    if (options.command == Command::Ticket) {
        const int button = static_cast<int>(options.ticket);
        line << (options.ticket == TicketButton::TestAll         ? QStringLiteral("all")
                 : options.ticket == TicketButton::ResidentFonts ? QStringLiteral("resident")
                                                                 : QString::number(button));
    }
    if (!options.files.isEmpty()) line << QStringLiteral("--") << options.files;
    return line;
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

namespace {

// Why `path` cannot be sent (the system's words for a file that cannot be
// opened), or nothing when it is a regular file that can be read.
std::optional<QString> unreadable(const QString& path) {
    // Opened without waiting: a FIFO named as a font must not hang the check.
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info {};
    const bool regular = ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
    ::close(descriptor);
    if (!regular) return QStringLiteral("%1 is not a regular file").arg(path);
    return std::nullopt;
}

}  // namespace

ResolvedFiles resolveFiles(const LoadOptions& options) {
    ResolvedFiles resolved;
    std::optional<LoaderMode> mode = options.mode;
    if (!options.listFile.isEmpty()) {
        QString problem;
        const std::optional<QStringList> lines = readListFile(options.listFile, &problem);
        if (!lines) {
            resolved.error = QStringLiteral("cannot read list file %1: %2").arg(options.listFile, problem);
            return resolved;
        }
        // A relative path names a file beside the list, wherever the run starts.
        const QDir listFolder = QFileInfo(options.listFile).absoluteDir();
        for (const QString& line : *lines)
            if (!line.trimmed().isEmpty())
                resolved.paths.append(QDir::isRelativePath(line) ? listFolder.filePath(line) : line);
        if (resolved.paths.isEmpty()) {
            resolved.nothingToSend = true;
            resolved.error =
                QStringLiteral("list file %1 names no file: nothing to send").arg(options.listFile);
            return resolved;
        }
        if (!mode) mode = modeOfListFile(options.listFile);
    } else {
        resolved.paths = options.files;
    }
    for (const QString& path : resolved.paths) {
        if (const std::optional<QString> problem = unreadable(path)) {
            resolved.error = *problem;
            return resolved;
        }
    }
    if (resolved.paths.size() > static_cast<qsizetype>(FILE_LIST_CAPACITY)) {
        resolved.error = QStringLiteral("a list holds at most %1 files").arg(FILE_LIST_CAPACITY);
        return resolved;
    }

    // Files of one kind: the mode's, or, without one, the first file's.
    const bool listed = !options.listFile.isEmpty();
    for (const QString& path : resolved.paths) {
        const std::optional<LoaderMode> kind = modeOfContent(path);
        if (!kind) {
            // A soft font is known by its converter; a list tells its mode.
            if (mode || listed) continue;
            resolved.error = QStringLiteral("%1 is not a True Type, soft font or PCX file").arg(path);
            return resolved;
        }
        if (!mode) {
            mode = kind;
        } else if (*kind != *mode) {
            resolved.error =
                options.mode || listed
                    ? QStringLiteral("%1 is a %2 file, not %3").arg(path, modeName(*kind), modeName(*mode))
                    : QStringLiteral("%1 is a %2 file, the others are %3: give one kind or --mode")
                          .arg(path, modeName(*kind), modeName(*mode));
            return resolved;
        }
    }
    if (!mode) {
        resolved.error = QStringLiteral("cannot tell the mode of %1; give --mode").arg(options.listFile);
        return resolved;
    }
    resolved.mode = *mode;
    // What the window refuses to list is refused here too, for the same reason.
    for (const QString& path : resolved.paths) {
        if (const std::optional<QString> problem = loadProblem(resolved.mode, path)) {
            resolved.error = path + QLatin1Char(' ') + *problem;
            return resolved;
        }
    }
    return resolved;
}

}  // namespace velquin::load
