// The command line of velquin-load: what to do, to which printers, with what.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

#include "app_state.h"
#include "event_log.h"
#include "test_tickets.h"

namespace velquin::load {

enum class Command { Send, Export, Erase, Status, Ticket, History, Discover, Apply };

// A printer named on the command line: "tcp:HOST[:PORT]" or "local".
struct PrinterAddress {
    bool local = false;
    QString host;  // dotted IPv4, a host name resolved
    quint16 port = 0;
    QString given;  // as the user wrote it ("tcp:localhost:9101")
    // The name a worker is given and its messages use ("tcp:127.0.0.1:10001").
    QString name() const;
    // What the printer resolved to: "127.0.0.1:10001", or "local".
    QString address() const;
    // The name the user knows the printer by.
    QString shownName() const { return given.isEmpty() ? name() : given; }
    QString lockKey() const;
};

inline constexpr quint16 DEFAULT_NETWORK_PORT = 10'001;

// Parses "tcp:HOST[:PORT]" or "local", HOST an IPv4 address or a name
// resolved to one; nothing when malformed or not resolved (`problem` then
// says why, when given).
std::optional<PrinterAddress> parsePrinter(const QString& text, QString* problem = nullptr);

struct LoadOptions {
    Command command = Command::Send;
    QStringList files;
    QString listFile;
    std::optional<LoaderMode> mode;
    QList<PrinterAddress> printers;
    int jobs = 0;  // 0: all at once
    bool json = false;
    // --log json: worker events as JSON objects on standard error.
    LogFormat log = LogFormat::Human;
    bool force = false;
    bool yes = false;
    bool wait = false;
    // send: leave out the files the ledger shows on the printer.
    bool skipLoaded = false;
    // send: when the printer no longer matches the ledger, erase it before sending every file.
    bool eraseIfChanged = false;
    // send: report what would be sent (would_send) and touch no printer's flash.
    bool check = false;
    // history: the printer as the operator names it (a link or part of its identity).
    QString historyPrinter;
    QString output;  // export: empty for standard output
    TicketButton ticket = TicketButton::Test1;
    // discover: the ranges to search ("A.B.C.D/N"), the port, the spooler's queues.
    QStringList subnets;
    quint16 port = DEFAULT_NETWORK_PORT;
    bool spooler = false;
    // send: the longest wait for the printer to write one file to flash;
    // discover and apply: the longest a printer may take per run (0: the
    // command's default).
    int timeoutMs = 0;
    // -q: no progress or event lines, only the report and the errors.
    bool quiet = false;
    // apply: the fleet file.
    QString fleetFile;
    // Internal: this process drives the one printer it is given.
    bool worker = false;
    // Internal: a discovery's status worker (--probe).
    bool probe = false;
    // Internal: files sent under another path than the operator gave (a copy
    // of standard input, a link to a name that is not text), and the name
    // the operator is shown for each.
    QMap<QString, QString> shownNames;
};

// What parsing gives: the options, or help, version, or a usage error.
struct ParseResult {
    enum class Kind { Run, Help, Version, UsageError } kind = Kind::Run;
    LoadOptions options;
    QString error;
};

ParseResult parseCommandLine(const QStringList& arguments);

QString usageText();
// The line after a usage error's own.
inline constexpr char USAGE_HINT[] = "Try 'velquin-load --help' for more information.";

// The command line of the worker that runs `options`' command on `printer`.
QStringList workerCommandLine(const LoadOptions& options, const PrinterAddress& printer);

// A time as --timeout takes it: a number with "ms" or "s" after it, or a
// bare number in `bareUnit`; nothing when it is no positive time.
std::optional<std::chrono::milliseconds> parseDuration(const QString& text,
                                                       std::chrono::milliseconds bareUnit);

// The mode a list file names by its extension (TFL, SFL, PFL).
std::optional<LoaderMode> modeOfListFile(const QString& path);
// What a file is by its first bytes: True Type/OpenType, soft font or PCX.
std::optional<LoaderMode> modeOfContent(const QString& path);

struct ResolvedFiles {
    LoaderMode mode = LoaderMode::ModeTTF;
    QStringList paths;
    QString error;  // non-empty when the files cannot be used
    // The list file was empty or blank: a failure of the run, not of its usage.
    bool nothingToSend = false;
};

// The files to send and their mode, from --list or the file arguments and
// --mode: a list file gives its lines (relative paths taken from the list
// file's folder), and its extension the mode; files given one by one must
// all be of one kind. A file whose content is of another kind than the mode
// is refused by name.
ResolvedFiles resolveFiles(const LoadOptions& options);

QString modeName(LoaderMode mode);

// The text the ledger matches a printer by: "ADDRESS:PORT" for a tcp:
// printer, "local", or the text as given (part of an identity).
QString ledgerPrinterText(const QString& text);

}  // namespace velquin::load
