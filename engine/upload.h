// The upload engine: sends the file list to the printer one file at a time,
// each behind its header command (True Type, PCX) or converted first (soft
// fonts), and waits after each file until the printer has written its flash.
#pragma once

#include <QStringList>
#include <chrono>
#include <cstdint>
#include <optional>

#include "app_state.h"
#include "conversion.h"
#include "ledger.h"
#include "printer_connection.h"

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

enum class UploadOutcome {
    Completed,
    NoUploadInMode,    // BMP mode has no upload
    NotReady,          // the printer was busy at entry or before a file
    ConversionFailed,  // a soft font did not convert; nothing was sent
    NotEnoughFlash,    // the operator chose not to send a list larger than the free flash
    FileMissing,       // a listed file cannot be opened or read to its end
    PrinterGone,       // a write or status read failed
    TimedOut,          // the printer never reported the end of a flash write
    Cancelled,         // the operator cancelled a wait
    NotConfirmed,      // every file was sent, but the printer did not confirm storing some
};

// The header command announcing a file of `size` bytes: "<ttfN>" for True
// Type, ESC "<pcx><GN>" for PCX, nothing for the other modes.
QByteArray uploadHeader(LoaderMode mode, std::int64_t size);

class UploadEngine {
public:
    UploadEngine(PrinterConnection& link, OperationView& view, SoftFontConverterCall convert,
                 std::chrono::milliseconds toggleTimeout);

    // Where each file of later runs is recorded (nowhere by default).
    // The record hashes a file's bytes as they go out to the printer.
    void recordIn(ledger::PrinterLedger ledger) {
        ledger_ = std::move(ledger);
        link_.tapFileBytes([this](std::span<const std::uint8_t> bytes) { ledger_.fileBytesSent(bytes); });
    }

    UploadOutcome run(const UploadRequest& request);
    // The files of the last run whose storing the printer did not confirm
    // (its free flash did not go down, or could not be read).
    const QStringList& unconfirmedFiles() const { return unconfirmed_; }
    // The files of the last run that the printer confirmed.
    const QStringList& confirmedFiles() const { return confirmed_; }

private:
    struct ImageBranch;

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
    void noteConfirmation(const QString& path, std::int64_t size, const FlashSpace& before,
                          const FlashSpace& after);
    // Ends the ledger's record of the file being sent with how the run stopped.
    UploadOutcome recordStop(UploadOutcome outcome);
    // The message with what the printer got in this run, once it got anything.
    QString withWhatThePrinterGot(const QString& message) const;
    void stop(const QString& line, const QString& message, const QString& caption, bool printerThere = true);
    void endOfList(const QString& finalTitle);
    void progressStep();

    PrinterConnection& link_;
    OperationView& view_;
    SoftFontConverterCall convert_;
    std::chrono::milliseconds toggleTimeout_;
    bool demo_ = false;
    ledger::PrinterLedger ledger_;
    // Whether the file being sent has had any byte go out.
    bool bytesOut_ = false;
    QStringList confirmed_;
    QStringList unconfirmed_;
};

}  // namespace velquin
