#include "printer_run.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "conversion.h"
#include "engine_thread.h"
#include "flash_maintenance.h"
#include "ledger.h"
#include "morlix/printer_codes.h"
#include "morlix_library.h"
#include "operation_view.h"
#include "operator_prompts.h"
#include "platform/tcp_socket.h"
#include "printer_connection.h"
#include "printer_facts.h"
#include "printer_finder.h"
#include "printer_io.h"
#include "printer_lock.h"
#include "shown_text.h"
#include "termination_signals.h"
#include "transfer_meter.h"
#include "upload.h"

namespace velquin::load {

namespace {

constexpr std::chrono::milliseconds PROGRESS_INTERVAL{200};
constexpr std::chrono::milliseconds RATE_MEASURED_OVER{1'000};

// Set once standard error could not be written: nobody reads the events any
// more (the fleet is gone), so the run stops as on a stop request.
bool eventReaderGone = false;
// The signal that asked this worker to stop, 0 before any.
int stopSignal = 0;
// The files this worker sends under another path, and the name each is shown by.
QMap<QString, QString> shownNames;

// A file as the operator named it: "-" for standard input.
QString namedPath(const QString& path) {
    return shownNames.value(path, path);
}

// A connect to see why the library could not open a printer: refused,
// unreachable or slow (the system's words), or taken.
constexpr std::chrono::milliseconds CONNECT_CHECK_LIMIT{5'000};
// How often the wait for a flash write is shown.
constexpr std::chrono::seconds WAITING_INTERVAL{1};

// A message of several lines goes out as several event lines; any other
// control character (a terminal escape in a name) is shown escaped.
void event(const QString& text) {
    for (const QString& line : text.split(QLatin1Char('\n')))
        if (std::fprintf(stderr, "%s\n", qPrintable(shownText(line))) < 0) eventReaderGone = true;
    if (std::fflush(stderr) != 0) eventReaderGone = true;
}

QString uploadOutcomeName(UploadOutcome outcome) {
    switch (outcome) {
        case UploadOutcome::Completed:
            return QStringLiteral("completed");
        case UploadOutcome::NoUploadInMode:
            return QStringLiteral("no-upload-in-mode");
        case UploadOutcome::NotReady:
            return QStringLiteral("printer-busy");
        case UploadOutcome::ConversionFailed:
            return QStringLiteral("conversion-failed");
        case UploadOutcome::NotEnoughFlash:
            return QStringLiteral("not-enough-flash");
        case UploadOutcome::FileMissing:
            return QStringLiteral("file-missing");
        case UploadOutcome::PrinterGone:
            return QStringLiteral("printer-gone");
        case UploadOutcome::TimedOut:
            return QStringLiteral("timed-out");
        case UploadOutcome::Cancelled:
            return QStringLiteral("stopped");
        case UploadOutcome::NotConfirmed:
            return QStringLiteral("not-confirmed");
    }
    return QStringLiteral("failed");
}

// Why the run stopped on a request rather than on the printer.
QString stoppedText() {
    if (stopSignal == 0 && eventReaderGone)
        return QStringLiteral("stopped: the reader of the progress went away");
    return stopCause(stopSignal);
}

// Answers the engine's questions without an operator: the list larger than
// the free flash is sent only with --force, the erase only with --yes (the
// fleet asked on the terminal before it started the workers). Messages
// become event lines, except once the run was asked to stop (the engine
// then tells of writes it refused) and when nobody reads them (export).
class UnattendedPrompts final : public OperatorPrompts {
public:
    explicit UnattendedPrompts(bool yes, const StopRequest* stop = nullptr, bool silent = false)
        : yes_(yes), stop_(stop), silent_(silent) {}
    void message(const QString& text, const QString&, MessageIcon) override {
        if (silent_ || eventReaderGone || (stop_ != nullptr && stop_->requested())) return;
        event(text);
    }
    bool askYesNo(const QString&, const QString&, DefaultAnswer) override { return yes_; }
    std::optional<QString> openFileName(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFileName(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> inputText(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    void answerYes(bool yes) { yes_ = yes; }
    void silence(bool silent) { silent_ = silent; }

private:
    bool yes_;
    const StopRequest* stop_;
    bool silent_;
};

// The engine's view for a worker: no window, only the events a fleet shows.
class WorkerView final : public OperationView {
public:
    WorkerView(OperatorPrompts& prompts, const StopRequest& stop) : prompts_(prompts), stop_(stop) {}

    void clearStatus() override {}
    void addStatusLine(const QString& line) override { lines.append(line); }
    void selectLastStatusLine() override {}
    void setProgressRange(int, int) override {}
    void setProgressValue(int value) override { progress_ = value; }
    int progressValue() const override { return progress_; }
    void setProgressCaption(const QString&) override {}
    void setFlashSpaceRemaining(std::optional<std::int64_t>) override {}
    void setFlashNeededCaption(const QString&) override {}
    void setCurrentListRow(int) override {}
    void setCancelOffered(bool) override {}
    bool cancelRequested() const override { return stop_.requested() || eventReaderGone; }
    OperatorPrompts& prompts() override { return prompts_; }
    // The engine notes each poll of a wait (the printer writing its flash).
    void addRepeatedStatusLine(const QString& line) override {
        addStatusLine(line);
        if (onWaitPoll) onWaitPoll();
    }

    QStringList lines;
    std::function<void()> onWaitPoll;

private:
    OperatorPrompts& prompts_;
    const StopRequest& stop_;
    int progress_ = 0;
};

// Runs `job` on the engine thread, where every library call is made, while
// this thread's event loop turns (a termination signal is heard there).
void runOnEngine(std::function<void()> job) {
    EngineThread engine;
    QEventLoop loop;
    QObject context;
    engine.start(std::move(job), &context, [&loop] { loop.quit(); });
    loop.exec();
}

// How each file and the run ended, as the upload reported them.
class SendOutcomes final : public UploadObserver {
public:
    void fileEnded(const FileEnded& file) override { files[file.row] = file; }
    void runEnded(const RunEnded& ended) override { run = ended; }
    std::map<int, FileEnded> files;
    RunEnded run;
};

// Said of a question that was answered No for want of an operator.
QString answeredNo(const QString& question) {
    return question + QStringLiteral(" (answered no; --force or --yes answers yes)");
}

// The bytes of the file itself (as streamed: a soft font's converted file)
// against its size, the header and trailing bytes apart; and the rate once
// it was measured over a second (a few milliseconds' rate says nothing).
void progressEvent(const FileProgress& file, const QString& state) {
    const bool streamed = file.transferSize > 0;
    const std::int64_t size = streamed ? file.transferSize : file.size;
    const std::int64_t bytes = streamed ? std::min(file.transferSent, size) : 0;
    const std::int64_t rate = file.sendingTime >= RATE_MEASURED_OVER && bytes > 0 ? file.bytesPerSecond() : 0;
    event(QLatin1String(PROGRESS_PREFIX) + QStringLiteral("%1|%2|%3|%4|%5")
                                               .arg(shownText(namedPath(file.path), u"|"))
                                               .arg(bytes)
                                               .arg(size)
                                               .arg(rate)
                                               .arg(state));
}

// The longest the flash write of `file` may take before the run gives up.
using FlashLimit = std::function<std::chrono::milliseconds(const FileProgress& file)>;

// The progress lines of a send: "sending" a few times a second, once per
// file when the printer starts writing it to flash, then the wait about
// once a second against its limit.
void showProgressOf(TransferMeter& meter, FlashLimit flashLimit) {
    meter.setListener(
        [flashShown = 0, waitShown = std::chrono::milliseconds{0},
         flashLimit = std::move(flashLimit)](const FileProgress& file) mutable {
            if (file.stage == FileStage::Sending) {
                progressEvent(file, QStringLiteral("sending"));
            } else if (file.stage == FileStage::FlashWriting && flashShown != file.row) {
                flashShown = file.row;
                waitShown = std::chrono::milliseconds{0};
                progressEvent(file, QStringLiteral("flash-writing"));
            } else if (file.stage == FileStage::FlashWriting &&
                       file.flashWriting - waitShown >= WAITING_INTERVAL) {
                waitShown = file.flashWriting;
                event(QLatin1String(WAITING_PREFIX) + QStringLiteral("%1|%2|%3")
                                                          .arg(shownText(namedPath(file.path), u"|"))
                                                          .arg(file.flashWriting.count())
                                                          .arg(flashLimit(file).count()));
            }
        },
        PROGRESS_INTERVAL);
}

// Each file's end as it happens, so a reader on a pipe follows the run.
class FileEndsShown final : public UploadObserver {
public:
    explicit FileEndsShown(const TransferMeter& meter) : meter_(meter) {}
    void fileEnded(const FileEnded& ended) override {
        if (ended.outcome != FileOutcome::Confirmed && ended.outcome != FileOutcome::NotConfirmed) return;
        if (const std::optional<FileProgress> file = meter_.file(ended.row))
            progressEvent(*file, QStringLiteral("completed"));
    }

private:
    const TransferMeter& meter_;
};

// A printer that takes everything into memory and finishes every flash
// write at once, its free flash going down by what it took (so every file
// counts as stored): what `export` runs the engine against.
class CapturingConnection final : public PrinterConnection {
public:
    bool isEthernet() const override { return true; }
    bool printerBusy() override { return false; }
    PrinterStatus readStatus() override {
        toggle_ = !toggle_;
        return idleStatus(toggle_);
    }
    FlashSpace readFlashSpace() override {
        FlashSpace flash;
        flash.freeBytes =
            static_cast<std::int32_t>(INT32_MAX - std::min<qsizetype>(captured.size(), INT32_MAX));
        flash.read = true;
        return flash;
    }
    bool send(std::span<const std::uint8_t> bytes) override {
        captured.append(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        return true;
    }
    FileTransfer sendFile(const QString& path, OperationView& view) override {
        return streamFileToPrinter(path, chunk_, *this, view);
    }
    QByteArray captured;

private:
    bool toggle_ = false;
    std::array<std::uint8_t, FILE_CHUNK_SIZE> chunk_{};
};

SoftFontConverterCall converterOf(MorlixLibrary& library) {
    return [&library](const QByteArray& path) { return library.qkSoftFontFileName(path.constData()); };
}

// The link to one printer, opened through the library as the window opens
// it, and closed (spooler queues put back) when it goes.
class OpenLink {
public:
    OpenLink(MorlixLibrary& library, PrinterFinder& finder, PrinterSession& session)
        : library_(library), finder_(finder), session_(session) {}
    ~OpenLink() {
        if (session_.socket() != 0) session_.closeSocket(library_);
        if (session_.localHandle() != 0) session_.closeLocal(library_);
        if (portsRedirected_) library_.RestorePortsToOriginal();
    }
    OpenLink(const OpenLink&) = delete;
    OpenLink& operator=(const OpenLink&) = delete;

    // Empty on success, else the outcome word and a message.
    std::optional<std::pair<QString, QString>> open(const PrinterAddress& printer) {
        if (printer.local) {
            if (!finder_.redirectSpooler())
                return std::pair{QStringLiteral("spooler-failed"),
                                 QStringLiteral("cannot move the spooler queues off the printer ports")};
            portsRedirected_ = true;
            const std::optional<std::int32_t> handle = finder_.openLocal();
            if (!handle)
                return std::pair{QStringLiteral("not-found"), QStringLiteral("no local printer found")};
            session_.holdLocal(*handle, SessionLink::Local);
        } else {
            const QStringList octets = printer.host.split(QLatin1Char('.'));
            const std::optional<std::int32_t> socket =
                finder_.connect({octets[0], octets[1], octets[2], octets[3], QString::number(printer.port)});
            if (!socket) return connectFailure(printer);
            session_.holdSocket(library_, *socket);
        }
        session_.setLinkHeld(true);
        session_.setFound(true);
        return std::nullopt;
    }

private:
    // The library does not say why it could not open the link: a connect of
    // our own tells a printer that cannot be reached (with the system's
    // reason) from one that took the connection and gave no identity.
    static std::pair<QString, QString> connectFailure(const PrinterAddress& printer) {
        namespace platform = morlix::platform;
        int error = 0;
        const int socket = platform::openTcpSocket(error);
        const std::optional<std::uint32_t> address =
            platform::parseIpv4Address(printer.host.toLatin1().constData());
        const bool connected =
            socket >= 0 && address &&
            platform::connectWithin(socket, *address, printer.port, CONNECT_CHECK_LIMIT, error);
        if (socket >= 0) platform::socketClose(socket);
        if (connected)
            return {QStringLiteral("no-answer"),
                    QStringLiteral("%1 took the connection but did not answer (no identity)")
                        .arg(printer.name())};
        return {QStringLiteral("connect-failed"),
                QStringLiteral("cannot connect to %1: %2")
                    .arg(printer.name(), QString::fromLocal8Bit(std::strerror(error)))};
    }

    MorlixLibrary& library_;
    PrinterFinder& finder_;
    PrinterSession& session_;
    bool portsRedirected_ = false;
};

// The identity the panel of the window shows, with its verdict.
QJsonObject identityOf(PrinterFinder& finder, PrinterSession& session, bool local,
                       PrinterIdentity& ledgerIdentity) {
    const PrinterFacts facts = finder.readFacts(local ? PrinterLink::Local : PrinterLink::Network);
    session.setFacts(facts);
    ledgerIdentity = facts.identity();
    const QStringList reasons = facts.unsuitability();
    session.setSuitable(reasons.isEmpty());
    QJsonObject identity = ledgerIdentity.toJson();
    identity.insert(QStringLiteral("port_type"), portTypeName(facts.portType));
    identity.insert(QStringLiteral("suitable"), reasons.isEmpty());
    identity.insert(QStringLiteral("reasons"), QJsonArray::fromStringList(reasons));
    return identity;
}

// The status bytes as hex ("ff da b5 90 6b"), for a reply that is not understood.
QString statusBytesText(const PrinterStatus& status) {
    QStringList bytes;
    for (int i = 0; i < std::min<int>(status.byteCount, static_cast<int>(status.bytes.size())); ++i)
        bytes << QStringLiteral("%1").arg(status.bytes[static_cast<std::size_t>(i)], 2, 16, QLatin1Char('0'));
    return bytes.join(QLatin1Char(' '));
}

// Why a printer did not take the files at the start: busy as it says, or
// answering with replies that are not understood (no firmware version and
// no free flash reading from a printer that does answer; a busy printer on
// the local port gives no flash reading either, but it does give its version).
std::pair<QString, QString> notReadyOutcome(PrinterConnection& connection, const FlashSpace& flash,
                                            bool versionUnderstood) {
    const PrinterStatus status = connection.readStatus();
    if (status.read && !flash.known() && !versionUnderstood)
        return {QStringLiteral("bad-replies"),
                QStringLiteral("the printer's replies are not understood (no free flash reading; status "
                               "bytes %1): not a printer of this family, or a faulty one")
                    .arg(statusBytesText(status))};
    return {QStringLiteral("printer-busy"), QStringLiteral("the printer reports that it is busy")};
}

// The free flash for the report: null when the printer gave no reading.
QJsonValue knownFlash(const FlashSpace& flash) {
    const auto known = flash.known();
    return known ? QJsonValue(static_cast<qint64>(*known)) : QJsonValue();
}

QJsonValue optionalNumber(const std::optional<std::int64_t>& value) {
    return value ? QJsonValue(static_cast<qint64>(*value)) : QJsonValue();
}

}  // namespace

QString waitingText(const QString& fields) {
    const QStringList parts = fields.split(QLatin1Char('|'));
    if (parts.size() != 3) return fields;
    // The file last: a narrow line loses the end of its path, not the wait.
    return QStringLiteral("waiting for the flash write, %1 s of %2 s: %3")
        .arg(parts[1].toLongLong() / 1'000)
        .arg(parts[2].toLongLong() / 1'000)
        .arg(parts[0]);
}

QString stopCause(int signal) {
    switch (signal) {
        case SIGINT:
            return QStringLiteral("interrupted by Ctrl-C (SIGINT)");
        case SIGTERM:
            return QStringLiteral("stopped by SIGTERM");
        case SIGHUP:
            return QStringLiteral("stopped: the terminal hung up (SIGHUP)");
        default:
            return QStringLiteral("stopped");
    }
}

bool waitWorthALogLine(const QString& fields) {
    constexpr qint64 LOG_EVERY_SECONDS = 10;
    const qint64 seconds = fields.section(QLatin1Char('|'), 1, 1).toLongLong() / 1'000;
    return seconds > 0 && seconds % LOG_EVERY_SECONDS == 0;
}

QByteArray exportBytes(const LoadOptions& options, QString& error) {
    const ResolvedFiles files = resolveFiles(options);
    if (!files.error.isEmpty()) {
        error = files.error;
        return {};
    }
    // Nothing to tell: the bytes or the error are the whole answer.
    UnattendedPrompts prompts(true, nullptr, true);
    StopRequest stop;
    WorkerView view(prompts, stop);
    CapturingConnection capture;
    SendOutcomes outcomes;
    runOnEngine([&] {
        MorlixLibrary library;
        library.setPrompts(&prompts);
        UploadEngine engine(capture, view, converterOf(library), TOGGLE_WAIT_TIMEOUT, outcomes);
        UploadRequest request;
        request.mode = files.mode;
        request.paths = files.paths;
        engine.run(request);
    });
    if (outcomes.run.outcome != UploadOutcome::Completed) {
        error = outcomes.run.reason.isEmpty() ? uploadOutcomeName(outcomes.run.outcome) : outcomes.run.reason;
        return {};
    }
    return capture.captured;
}

namespace {

// The command on the printer's link, on the engine thread.
template <typename Finish>
QJsonObject runOnLink(const LoadOptions& options, MorlixLibrary& library, PrinterFinder& finder,
                      const StopRequest& stop, Finish& finish, QJsonObject& report) {
    const PrinterAddress& printer = options.printers.first();
    UnattendedPrompts prompts(options.command == Command::Erase ? options.yes : options.force, &stop);
    library.setPrompts(&prompts);
    AppState state;
    OpenLink link(library, finder, state.printer);
    if (auto failure = link.open(printer)) return finish(failure->first, failure->second);

    WorkerView view(prompts, stop);
    PrinterIo io(state, library, prompts, view);
    LinkedPrinterConnection connection(state, io, library);
    TransferMeter meter;
    PrinterIdentity identity;
    report.insert(QStringLiteral("identity"), identityOf(finder, state.printer, printer.local, identity));
    // A ledger that cannot be used is told once; the run goes on without it.
    ledger::Ledger ledger(ledger::Ledger::defaultFile(),
                          [](const QString& problem) { event(QStringLiteral("Ledger: ") + problem); });
    const ledger::PrinterKey key = printer.local
                                       ? ledger::PrinterKey::local(identity)
                                       : ledger::PrinterKey::tcp(identity, printer.host, printer.port);

    switch (options.command) {
        case Command::Send: {
            ResolvedFiles files = resolveFiles(options);
            if (!files.error.isEmpty()) return finish(QStringLiteral("usage"), files.error);
            // What the ledger says the printer holds counts only once the
            // printer's free flash now agrees with it.
            FlashSpace flash = connection.readFlashSpace();
            if (options.skipLoaded || options.eraseIfChanged) {
                const ledger::HeldVerdict verdict = ledger.verifyHolds(key, flash.known());
                report.insert(QStringLiteral("verification"), ledger::trustName(verdict.trust));
                const QString text = ledger::verdictText(verdict);
                if (!text.isEmpty()) {
                    event(text);
                    report.insert(QStringLiteral("verification_message"), text);
                }
                if (options.eraseIfChanged && verdict.changed()) {
                    report.insert(QStringLiteral("erased"), !options.check);
                    if (!options.check) {
                        event(QStringLiteral("Erasing the font space before sending every file"));
                        FlashMaintenance maintenance(
                            connection, view, [&io](int ms) { io.sleepMs(ms); }, TOGGLE_WAIT_TIMEOUT);
                        maintenance.recordIn(ledger::PrinterLedger(&ledger, key));
                        prompts.answerYes(true);
                        const EraseOutcome erased = maintenance.clearFontSpace(false);
                        prompts.answerYes(options.force);
                        if (erased != EraseOutcome::Erased)
                            return finish(QStringLiteral("erase-failed"), maintenance.reason());
                        flash = connection.readFlashSpace();
                    }
                }
                if (options.skipLoaded) {
                    // Soft fonts are held as the converted bytes the printer got:
                    // convert each now, as the send would (a converted file left
                    // beside it may be of an older font).
                    QStringList sentFiles = files.paths;
                    if (files.mode == LoaderMode::ModeSF) {
                        for (QString& path : sentFiles) {
                            const ConversionOutcome converted =
                                ConvertFileSFFtoQKS(path, false, converterOf(library), view);
                            path = converted.converted ? converted.convertedFileName : QString();
                        }
                    }
                    // Asked against the reading now (taken again after an erase).
                    const std::vector<bool> held = ledger.holdings(key, flash.known(), sentFiles).held;
                    QStringList toSend;
                    QJsonArray skipped;
                    for (qsizetype index = 0; index < files.paths.size(); ++index) {
                        if (!held[static_cast<std::size_t>(index)]) {
                            toSend << files.paths[index];
                            continue;
                        }
                        skipped.append(namedPath(files.paths[index]));
                        event(QStringLiteral("Skipped %1: the printer holds it since its last erase")
                                  .arg(shownText(namedPath(files.paths[index]))));
                    }
                    report.insert(QStringLiteral("skipped"), skipped);
                    files.paths = toSend;
                }
            }
            if (options.check) {
                // The plan only: nothing is written to the printer.
                QJsonArray wouldSend;
                for (const QString& path : files.paths) wouldSend.append(namedPath(path));
                report.insert(QStringLiteral("would_send"), wouldSend);
                report.insert(QStringLiteral("free_flash"), knownFlash(flash));
                report.insert(QStringLiteral("files"), QJsonArray());
                return finish(QStringLiteral("completed"), {});
            }
            if (files.paths.isEmpty()) {
                report.insert(QStringLiteral("files"), QJsonArray());
                return finish(QStringLiteral("completed"), {});
            }
            meter.setFiles(files.paths);
            const std::optional<std::chrono::milliseconds> flashWait =
                options.timeoutMs > 0 ? std::optional(std::chrono::milliseconds(options.timeoutMs))
                                      : std::nullopt;
            const FlashLimit flashLimit = [flashWait](const FileProgress& file) {
                // The engine's own limit, for the bytes it streams.
                return flashWait.value_or(flashWaitLimit(
                    TOGGLE_WAIT_TIMEOUT, file.transferSize > 0 ? file.transferSize : file.size));
            };
            showProgressOf(meter, flashLimit);
            view.onWaitPoll = [&meter] { meter.tick(); };
            std::int64_t needed = 0;
            for (const FileProgress& file : meter.files()) needed += file.size;
            UploadRequest request;
            request.mode = files.mode;
            request.paths = files.paths;
            request.flashNeeded = files.mode == LoaderMode::ModeSF ? 0 : needed;
            if (flash.known()) request.freeFlash = flash.freeBytes;
            report.insert(QStringLiteral("free_flash"), knownFlash(flash));

            // The ledger records each file as the run reports it; the
            // report is made from the same events.
            UploadObservers observers;
            SendOutcomes outcomes;
            UploadLedgerRecorder recorder(ledger::PrinterLedger(&ledger, key));
            FileEndsShown fileEnds(meter);
            observers.add(meter);
            observers.add(recorder);
            observers.add(outcomes);
            observers.add(fileEnds);
            UploadEngine engine(connection, view, converterOf(library), TOGGLE_WAIT_TIMEOUT, observers);
            if (flashWait) engine.limitFlashWaitTo(*flashWait);
            // Once a stop is asked for, the next chunk is refused, so the run ends between chunks.
            engine.refuseWritesWhen([&stop] { return stop.requested() || eventReaderGone; });
            // The engine's boxes are the window's words; the outcome below says it in this program's.
            prompts.silence(true);
            engine.run(request);
            prompts.silence(false);
            const RunEnded& run = outcomes.run;
            const bool stopped = stop.requested() || eventReaderGone;
            const QString stopWord = stopped ? QStringLiteral("stopped") : uploadOutcomeName(run.outcome);
            QString inFlight;
            QJsonArray fileReports;
            for (const FileProgress& file : meter.files()) {
                // A file the run never reached is not sent; the one it stopped
                // at ends with the run's outcome.
                QString outcomeWord = QStringLiteral("not-sent");
                if (const auto ended = outcomes.files.find(file.row); ended != outcomes.files.end()) {
                    switch (ended->second.outcome) {
                        case FileOutcome::Confirmed:
                            outcomeWord = QStringLiteral("completed");
                            break;
                        case FileOutcome::NotConfirmed:
                            outcomeWord = QStringLiteral("not-confirmed");
                            break;
                        case FileOutcome::NotSent:
                        case FileOutcome::Interrupted:
                            outcomeWord = stopWord;
                            break;
                    }
                } else if (file.row == run.stoppedAtRow) {
                    outcomeWord = stopWord;
                }
                if (outcomeWord == stopWord && file.bytesSent > 0)
                    inFlight = QStringLiteral("; %1: %2 of %3 bytes sent, not stored")
                                   .arg(shownText(namedPath(file.path)))
                                   .arg(file.bytesSent)
                                   .arg(file.size);
                fileReports.append(QJsonObject{
                    {QStringLiteral("path"), namedPath(file.path)},
                    {QStringLiteral("size"), static_cast<qint64>(file.size)},
                    {QStringLiteral("bytes_sent"), static_cast<qint64>(file.bytesSent)},
                    {QStringLiteral("seconds"), static_cast<double>(file.elapsed.count()) / 1000.0},
                    {QStringLiteral("outcome"), outcomeWord},
                    {QStringLiteral("free_flash_before"), optionalNumber(file.freeFlashBefore)},
                    {QStringLiteral("free_flash_after"), optionalNumber(file.freeFlashAfter)},
                });
            }
            report.insert(QStringLiteral("files"), fileReports);
            if (run.outcome == UploadOutcome::Completed) return finish(QStringLiteral("completed"), {});
            if (stopped) return finish(stopWord, stoppedText() + inFlight);
            if (run.outcome == UploadOutcome::NotReady) {
                const auto [word, text] = notReadyOutcome(connection, flash, state.printer.version() > 0.0f);
                return finish(word, text);
            }
            if (run.outcome == UploadOutcome::TimedOut) {
                const std::optional<FileProgress> file = meter.file(run.stoppedAtRow);
                const auto limit = std::chrono::duration_cast<std::chrono::seconds>(
                    file ? flashLimit(*file) : std::chrono::milliseconds(options.timeoutMs));
                return finish(
                    stopWord,
                    run.reason + QStringLiteral(" (no sign of it for %1 s; --timeout sets the limit)")
                                     .arg(limit.count()));
            }
            return finish(stopWord,
                          run.outcome == UploadOutcome::NotEnoughFlash ? answeredNo(run.reason) : run.reason);
        }
        case Command::Erase: {
            FlashMaintenance flash(
                connection, view, [&io](int ms) { io.sleepMs(ms); }, TOGGLE_WAIT_TIMEOUT);
            flash.recordIn(ledger::PrinterLedger(&ledger, key));
            switch (flash.clearFontSpace(false)) {
                case EraseOutcome::Erased:
                    report.insert(QStringLiteral("free_flash"), knownFlash(connection.readFlashSpace()));
                    return finish(QStringLiteral("completed"), {});
                case EraseOutcome::Declined:
                    return finish(QStringLiteral("declined"),
                                  QStringLiteral("erase needs --yes when not asked on a terminal"));
                case EraseOutcome::PrinterGone:
                    return finish(QStringLiteral("printer-gone"), flash.reason());
                case EraseOutcome::TimedOut:
                    return finish(QStringLiteral("timed-out"), flash.reason());
                case EraseOutcome::Cancelled:
                    return finish(QStringLiteral("stopped"), stoppedText());
            }
            return finish(QStringLiteral("failed"), {});
        }
        case Command::Status: {
            const PrinterStatus status = connection.readStatus();
            // A discovery probe does not ask a busy printer for its flash: it
            // would refuse, and the retries would hold the search up.
            const bool askFlash = !options.probe || (status.read && !status.busy());
            const FlashSpace flash = askFlash ? connection.readFlashSpace() : FlashSpace{};
            report.insert(QStringLiteral("busy"), status.read ? QJsonValue(status.busy()) : QJsonValue());
            report.insert(QStringLiteral("flash_toggle"),
                          status.read ? QJsonValue(status.flashToggle()) : QJsonValue());
            report.insert(QStringLiteral("free_flash"), knownFlash(flash));
            if (!status.read)
                return finish(QStringLiteral("printer-gone"), QStringLiteral("status read failed"));
            return finish(QStringLiteral("completed"), {});
        }
        case Command::Ticket: {
            const bool taken =
                sendTestTickets(options.ticket, options.mode.value_or(LoaderMode::ModeTTF), connection);
            // A printer that dropped the link mid-way may have left the last
            // writes in the socket's buffer: only a status read after them
            // shows that it still listens, so every ticket reached it.
            if (!taken || !connection.readStatus().read)
                return finish(QStringLiteral("printer-gone"),
                              QStringLiteral("the printer did not take every ticket"));
            return finish(QStringLiteral("completed"), {});
        }
        case Command::Export:
        case Command::History:
        case Command::Discover:
        case Command::Apply:
            break;
    }
    return finish(QStringLiteral("failed"), {});
}

}  // namespace

QJsonObject runOnePrinter(const LoadOptions& options) {
    const PrinterAddress& printer = options.printers.first();
    QJsonObject report{{QStringLiteral("printer"), printer.name()}};
    shownNames = options.shownNames;
    auto finish = [&report](const QString& outcome, const QString& message) {
        report.insert(QStringLiteral("outcome"), outcome);
        if (!message.isEmpty()) {
            report.insert(QStringLiteral("message"), message);
            event(message);
        }
        return report;
    };

    // Ctrl-C and SIGTERM stop the run between chunks; the report still goes out.
    StopRequest stop;
    std::unique_ptr<TerminationSignals> termination;
    termination = std::make_unique<TerminationSignals>([&stop, &termination] {
        stopSignal = termination->received();
        stop.request();
    });

    // One program per printer.
    MorlixLibrary library;
    PrinterFinder finder(library);
    std::function<bool()> keepWaiting;
    if (options.wait)
        keepWaiting = [&stop] {
            QCoreApplication::processEvents();
            return !stop.requested();
        };
    if (const std::optional<PrinterLock::Attempt> refusal = finder.claim(printer.lockKey(), keepWaiting))
        return finish(refusal->failure.isEmpty() ? QStringLiteral("in-use") : QStringLiteral("lock-failed"),
                      lockRefusalText(printer.name(), *refusal));

    QJsonObject result;
    runOnEngine([&] { result = runOnLink(options, library, finder, stop, finish, report); });
    return result;
}

}  // namespace velquin::load
