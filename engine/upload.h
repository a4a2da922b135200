// The upload engine: sends the file list to the printer one file at a time,
// each behind its header command (True Type, PCX) or converted first (soft
// fonts), and waits after each file until the printer has written its flash.
#pragma once

#include <QStringList>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app_state.h"
#include "conversion.h"
#include "ledger.h"
#include "printer_connection.h"
#include "upload_events.h"

namespace velquin {

class OperationView;
class PrinterConnection;

struct UploadRequest {
    LoaderMode mode = LoaderMode::ModeTTF;
    // Column 1 of the list's rows 1 to n, in order.
    QStringList paths;
    // No printer: nothing is written, a demo line stands for each transfer.
    bool demoMode = false;
    // What the list needs ("Flash Needed") and what the printer was last
    // seen to have free ("Flash Space Remaining"), when known.
    std::int64_t flashNeeded = 0;
    std::optional<std::int64_t> freeFlash;
};

// The header command announcing a file of `size` bytes: "<ttfN>" for True
// Type, ESC "<pcx><GN>" for PCX, nothing for the other modes.
QByteArray uploadHeader(LoaderMode mode, std::int64_t size);

// Records each file of an upload in the ledger of what the printer holds:
// before its header goes out, and once its end is known.
class UploadLedgerRecorder final : public UploadObserver {
public:
    explicit UploadLedgerRecorder(ledger::PrinterLedger ledger) : ledger_(std::move(ledger)) {}
    void fileStarted(const FileStarted& file) override;
    // The record hashes a file's bytes as they go out to the printer.
    void fileBytesTaken(int, std::span<const std::uint8_t> bytes) override { ledger_.fileBytesSent(bytes); }
    void fileEnded(const FileEnded& file) override;

private:
    ledger::PrinterLedger ledger_;
};

// The files whose bytes go to the printer for the listed ones: a soft font's
// converted file, the others as listed.
QStringList filesAsSent(const QStringList& listedPaths, LoaderMode mode);

class UploadEngine {
public:
    // Every event of a run goes to `observer`, on the thread the run runs on.
    UploadEngine(PrinterConnection& link, OperationView& view, SoftFontConverterCall convert,
                 std::chrono::milliseconds toggleTimeout, UploadObserver& observer);
    ~UploadEngine();
    UploadEngine(const UploadEngine&) = delete;
    UploadEngine& operator=(const UploadEngine&) = delete;

    // Once `refused` says so, every further write is refused: a run then
    // ends between two chunks (as a printer that stopped taking data).
    void refuseWritesWhen(std::function<bool()> refused) { refused_ = std::move(refused); }
    // The longest wait for one file's flash write, whatever its size
    // (else the toggle time-out and the file's share of the slowest flash).
    void limitFlashWaitTo(std::chrono::milliseconds limit) { flashWaitOverride_ = limit; }

    UploadOutcome run(const UploadRequest& request);
    // The files of the last run whose storing the printer did not confirm
    // (its free flash did not go down, or could not be read).
    const QStringList& unconfirmedFiles() const { return unconfirmed_; }
    // The files of the last run that the printer confirmed.
    const QStringList& confirmedFiles() const { return confirmed_; }

private:
    struct ImageBranch;
    // The printer as the run writes to it: every byte counted for the file
    // under way, files streamed in chunks through these writes.
    class CountingLink;

    UploadOutcome runBranch(const UploadRequest& request);
    void enterRow(int row);
    UploadOutcome runImageBranch(const ImageBranch& branch, const UploadRequest& request);
    UploadOutcome runSoftFontBranch(const UploadRequest& request);

    bool busyAtEntry(const QString& message);
    bool busyWhileRunning();
    bool flashSufficient(std::int64_t needed, const std::optional<std::int64_t>& freeFlash);
    std::optional<std::int64_t> openableFileSize(const QString& path);
    UploadOutcome sendOrStop(const QByteArray& bytes, const QString& path);
    UploadOutcome transferOrStop(const QString& path);
    UploadOutcome waitForFlashWrite(int initialToggle, const QString& path, std::int64_t size);
    UploadOutcome printerGone(const QString& path);
    FlashSpace readFlash(const QString& line);
    void startFile(int row, const QString& path, LoaderMode mode, const FlashSpace& flashBefore,
                   const QString& sentFile = {});
    void noteConfirmation(const QString& path, std::int64_t size, const FlashSpace& before,
                          const FlashSpace& after);
    // Ends the file under way with how the run stopped.
    UploadOutcome recordStop(UploadOutcome outcome);
    UploadOutcome finishRun(UploadOutcome outcome);
    // The message with what the printer got in this run, once it got anything.
    QString withWhatThePrinterGot(const QString& message) const;
    void stop(const QString& line, const QString& message, const QString& caption, bool printerThere = true);
    void endOfList(const QString& finalTitle);
    void progressStep();

    std::unique_ptr<CountingLink> counting_;
    PrinterConnection& link_;
    OperationView& view_;
    SoftFontConverterCall convert_;
    std::chrono::milliseconds toggleTimeout_;
    std::optional<std::chrono::milliseconds> flashWaitOverride_;
    UploadObserver& observer_;
    std::function<bool()> refused_;
    bool demo_ = false;
    int files_ = 0;
    // The row being worked on, and the file under way (started, not ended).
    int row_ = 0;
    std::optional<FileEnded> current_;
    // Whether the file being sent has had any byte go out.
    bool bytesOut_ = false;
    // What the operator was told of the run's stop; the last free flash read.
    QString reason_;
    std::optional<std::int64_t> lastFlash_;
    QStringList confirmed_;
    QStringList unconfirmed_;
};

}  // namespace velquin
