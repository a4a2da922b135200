#include "upload.h"

#include <QFile>
#include <QFileInfo>
#include <array>

#include "operation_view.h"
#include "operator_prompts.h"
#include "printer_connection.h"
#include "printer_facts.h"
#include "printer_io.h"

namespace velquin {

namespace {

constexpr char ESC = '\x1b';

const QString NOT_READY_ENTRY =
    QStringLiteral("Can not send files to printer because printer is not ready entry");
const QString NOT_READY_RUNNING =
    QStringLiteral("Can not send files to printer because printer is not ready running");
const QString FLASH_UPLOAD_COMPLETE = QStringLiteral("Flash Upload Complete");
const QString DEMO_NOTE = QStringLiteral("Demonstration only: no printer, nothing was sent.");
const QString UNKNOWN = QStringLiteral("unknown");

ledger::LoadMode ledgerMode(LoaderMode mode) {
    switch (mode) {
        case LoaderMode::ModeTTF:
            return ledger::LoadMode::TrueType;
        case LoaderMode::ModeSF:
            return ledger::LoadMode::SoftFont;
        case LoaderMode::ModePCX:
            return ledger::LoadMode::Pcx;
        case LoaderMode::ModeBMP:
            break;
    }
    return ledger::LoadMode::Bmp;
}

QString flashText(const FlashSpace& flash) {
    return flash.read ? QString::number(flash.freeBytes) : UNKNOWN;
}

std::span<const std::uint8_t> bytesOf(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

}  // namespace

// The texts and steps in which the True Type and PCX uploads differ.
struct UploadEngine::ImageBranch {
    LoaderMode mode;
    QString modeLine;
    QString sendingFilesLine;
    QString uploadCaption;
    QString fileLine;
    QString demoLine;
    QStringList sentLines;
    QString busyAfterLine;
    QString notBusyAfterLine;
    QString endCaption;
    QString finalTitle;
    // PCX reads the toggle once more before its first file and ends each
    // image with one ESC byte.
    bool togglesBeforeList;
    bool trailingEsc;
};

QByteArray uploadHeader(LoaderMode mode, std::int64_t size) {
    const QByteArray digits = QByteArray::number(static_cast<qlonglong>(size));
    switch (mode) {
        case LoaderMode::ModeTTF:
            return "<ttf" + digits + ">";
        case LoaderMode::ModePCX:
            return QByteArray(1, ESC) + "<pcx><G" + digits + ">";
        case LoaderMode::ModeSF:
        case LoaderMode::ModeBMP:
            break;
    }
    return {};
}

class UploadEngine::CountingLink final : public PrinterConnection {
public:
    CountingLink(PrinterConnection& inner, UploadEngine& engine) : inner_(inner), engine_(engine) {}

    bool isEthernet() const override { return inner_.isEthernet(); }
    bool printerBusy() override { return inner_.printerBusy(); }
    PrinterStatus readStatus() override { return inner_.readStatus(); }
    FlashSpace readFlashSpace() override { return inner_.readFlashSpace(); }
    bool send(std::span<const std::uint8_t> bytes) override {
        if (engine_.refused_ && engine_.refused_()) return false;
        if (!inner_.send(bytes)) return false;
        const auto count = static_cast<std::int64_t>(bytes.size());
        if (engine_.current_) engine_.current_->bytesSent += count;
        engine_.observer_.bytesSent(engine_.row_, count, inTransfer_);
        return true;
    }
    FileTransfer sendFile(const QString& path, OperationView& view) override {
        engine_.observer_.transferStarted(engine_.row_, QFileInfo(path).size());
        inTransfer_ = true;
        const FileTransfer result = streamFileToPrinter(path, chunk_, *this, view);
        inTransfer_ = false;
        return result;
    }

private:
    PrinterConnection& inner_;
    UploadEngine& engine_;
    bool inTransfer_ = false;
    std::array<std::uint8_t, FILE_CHUNK_SIZE> chunk_{};
};

void UploadLedgerRecorder::fileStarted(const FileStarted& file) {
    ledger_.beforeLoad(file.path, ledgerMode(file.mode), file.freeFlashBefore, file.sentFile);
}

// A file of which no byte went out is known not to be on the printer; one
// the run stopped during may or may not be.
void UploadLedgerRecorder::fileEnded(const FileEnded& file) {
    switch (file.outcome) {
        case FileOutcome::Confirmed:
            ledger_.afterLoad(ledger::Outcome::Confirmed, file.freeFlashAfter);
            return;
        case FileOutcome::NotConfirmed:
            ledger_.afterLoad(ledger::Outcome::NotConfirmed, file.freeFlashAfter);
            return;
        case FileOutcome::NotSent:
            ledger_.afterLoad(ledger::Outcome::Failed, std::nullopt);
            return;
        case FileOutcome::Interrupted:
            ledger_.afterLoad(ledger::Outcome::NotConfirmed, std::nullopt);
            return;
    }
}

QStringList filesAsSent(const QStringList& listedPaths, LoaderMode mode) {
    QStringList sent = listedPaths;
    if (mode == LoaderMode::ModeSF)
        for (QString& path : sent) path = convertedFileOf(path);
    return sent;
}

UploadEngine::UploadEngine(PrinterConnection& link, OperationView& view, SoftFontConverterCall convert,
                           std::chrono::milliseconds toggleTimeout, UploadObserver& observer)
    : counting_(std::make_unique<CountingLink>(link, *this)),
      link_(*counting_),
      view_(view),
      convert_(std::move(convert)),
      toggleTimeout_(toggleTimeout),
      observer_(observer) {
    counting_->tapFileBytes(
        [this](std::span<const std::uint8_t> bytes) { observer_.fileBytesTaken(row_, bytes); });
}

UploadEngine::~UploadEngine() = default;

UploadOutcome UploadEngine::run(const UploadRequest& request) {
    demo_ = request.demoMode;
    confirmed_.clear();
    unconfirmed_.clear();
    files_ = static_cast<int>(request.paths.size());
    row_ = 0;
    current_.reset();
    reason_.clear();
    lastFlash_.reset();
    return finishRun(runBranch(request));
}

UploadOutcome UploadEngine::finishRun(UploadOutcome outcome) {
    const bool throughTheList = outcome == UploadOutcome::Completed || outcome == UploadOutcome::NotConfirmed;
    observer_.runEnded(RunEnded{outcome, files_, static_cast<int>(confirmed_.size()),
                                static_cast<int>(unconfirmed_.size()), throughTheList ? 0 : row_,
                                throughTheList && outcome == UploadOutcome::Completed ? QString() : reason_,
                                lastFlash_});
    return outcome;
}

void UploadEngine::enterRow(int row) {
    row_ = row;
    view_.setCurrentListRow(row);
}

void UploadEngine::startFile(int row, const QString& path, LoaderMode mode, const FlashSpace& flashBefore,
                             const QString& sentFile) {
    bytesOut_ = false;
    current_ = FileEnded{row, path, FileOutcome::NotConfirmed, 0, flashBefore.known(), std::nullopt, {}};
    observer_.fileStarted(
        FileStarted{row, path, QFileInfo(path).size(), mode, sentFile, flashBefore.known()});
}

UploadOutcome UploadEngine::runBranch(const UploadRequest& request) {
    switch (request.mode) {
        case LoaderMode::ModeTTF: {
            static const ImageBranch trueType{
                LoaderMode::ModeTTF,
                QStringLiteral("True Type Font Mode"),
                QStringLiteral("Sending True Type font files to printer"),
                QStringLiteral("True Type Font Upload Sending files to printer"),
                QStringLiteral("Sending true type font to printer "),
                QStringLiteral("Demo mode - Sending true type font to printer "),
                {QStringLiteral("Sending TTF file to printer send complete"),
                 QStringLiteral("TTF flash delay start, waiting for toggle")},
                QStringLiteral("TTF Busy after flash update"),
                QStringLiteral("TTF Not Busy after flash update"),
                QStringLiteral("True Type Font Upload Sending files to printer"),
                QStringLiteral("True Type Fonts"),
                false,
                false,
            };
            return runImageBranch(trueType, request);
        }
        case LoaderMode::ModeSF:
            return runSoftFontBranch(request);
        case LoaderMode::ModePCX: {
            static const ImageBranch pcx{
                LoaderMode::ModePCX,
                QStringLiteral("PCX file Mode"),
                QStringLiteral("Sending PCX files to printer"),
                QStringLiteral("PCX Upload Sending files to printer"),
                QStringLiteral("Sending PCX file to printer "),
                QStringLiteral("Demo mode - Sending PCX image to printer "),
                {QStringLiteral("Sending PCX image to printer send complete")},
                QStringLiteral("PCX Busy after flash update"),
                QStringLiteral("PCX Not Busy after flash update"),
                QStringLiteral("PCX image Upload Sending files to printer"),
                QStringLiteral("PCX image"),
                true,
                true,
            };
            return runImageBranch(pcx, request);
        }
        case LoaderMode::ModeBMP:
            break;
    }
    return UploadOutcome::NoUploadInMode;
}

UploadOutcome UploadEngine::runImageBranch(const ImageBranch& branch, const UploadRequest& request) {
    view_.clearStatus();
    view_.addStatusLine(branch.modeLine);
    view_.clearStatus();
    view_.setProgressRange(0, static_cast<int>(request.paths.size()));
    view_.setProgressValue(0);
    view_.clearStatus();
    view_.addStatusLine(branch.sendingFilesLine);

    if (busyAtEntry(NOT_READY_ENTRY)) return UploadOutcome::NotReady;
    if (!flashSufficient(request.flashNeeded, request.freeFlash)) return UploadOutcome::NotEnoughFlash;
    view_.setProgressCaption(branch.uploadCaption);
    if (branch.togglesBeforeList) {
        view_.addStatusLine(QStringLiteral("Initial Toggle State = ") +
                            QString::number(readFlashToggle(link_)));
    }

    for (qsizetype index = 0; index < request.paths.size(); ++index) {
        const QString& path = request.paths[index];
        enterRow(static_cast<int>(index) + 1);
        view_.addStatusLine(branch.fileLine + path);
        view_.selectLastStatusLine();
        if (busyWhileRunning()) return UploadOutcome::NotReady;

        const int initialToggle = readFlashToggle(link_);
        view_.addStatusLine(QStringLiteral("Initial Toggle State = ") + QString::number(initialToggle));
        const FlashSpace flashBefore =
            readFlash(QStringLiteral("Flash space remaining before flash start = "));
        startFile(static_cast<int>(index) + 1, path, branch.mode, flashBefore);

        const std::optional<std::int64_t> size = openableFileSize(path);
        if (!size) return recordStop(UploadOutcome::FileMissing);
        if (demo_) {
            view_.addStatusLine(branch.demoLine);
        } else {
            if (const UploadOutcome sent = sendOrStop(uploadHeader(branch.mode, *size), path);
                sent != UploadOutcome::Completed) {
                return recordStop(sent);
            }
            bytesOut_ = true;
            if (const UploadOutcome sent = transferOrStop(path); sent != UploadOutcome::Completed)
                return recordStop(sent);
            if (branch.trailingEsc) {
                if (const UploadOutcome sent = sendOrStop(QByteArray(1, ESC), path);
                    sent != UploadOutcome::Completed) {
                    return recordStop(sent);
                }
            }
        }
        for (const QString& line : branch.sentLines) {
            view_.addStatusLine(line);
        }

        if (const UploadOutcome written = waitForFlashWrite(initialToggle, path, *size);
            written != UploadOutcome::Completed) {
            return recordStop(written);
        }
        view_.addStatusLine(link_.printerBusy() ? branch.busyAfterLine : branch.notBusyAfterLine);

        const FlashSpace flashAfter = readFlash(QStringLiteral("Flash space remaining after flash end = "));
        noteConfirmation(path, *size, flashBefore, flashAfter);
        progressStep();
    }

    view_.setProgressCaption(branch.endCaption);
    view_.addStatusLine(QStringLiteral("Sending files to printer complete"));
    view_.selectLastStatusLine();
    endOfList(branch.finalTitle);
    return unconfirmed_.isEmpty() ? UploadOutcome::Completed : UploadOutcome::NotConfirmed;
}

UploadOutcome UploadEngine::runSoftFontBranch(const UploadRequest& request) {
    view_.clearStatus();
    view_.addStatusLine(QStringLiteral("Soft Font Mode"));
    view_.setProgressRange(0, static_cast<int>(request.paths.size()) * 2);
    view_.setProgressValue(0);
    view_.prompts().message(QStringLiteral("Soft Font Mode"));
    view_.setProgressCaption(QStringLiteral("Soft Font Upload Converting files"));
    view_.addStatusLine(QStringLiteral("Convert files and send to printer"));
    if (busyAtEntry(NOT_READY_RUNNING)) return UploadOutcome::NotReady;
    view_.addStatusLine(QStringLiteral("Initial Toggle State = ") + QString::number(readFlashToggle(link_)));

    // Every font is converted before the first byte goes out, so a font that
    // fails leaves the printer untouched.
    QStringList convertedNames;
    std::int64_t totalConvertedSize = 0;
    for (qsizetype index = 0; index < request.paths.size(); ++index) {
        const QString& path = request.paths[index];
        enterRow(static_cast<int>(index) + 1);
        const ConversionOutcome conversion = ConvertFileSFFtoQKS(path, false, convert_, view_);
        if (!conversion.converted) {
            const QString failure =
                QStringLiteral("File ") + path + QStringLiteral(" did not convert properly");
            view_.addStatusLine(failure);
            // The box carries the reason: the diagnostics list may be hidden.
            reason_ = failure + QStringLiteral(": ") + conversion.reason;
            view_.prompts().message(reason_);
            view_.addStatusLine(QStringLiteral("Send List to printer complete .. aborted"));
            view_.setProgressCaption(QStringLiteral("Upload not started, a soft font did not convert"));
            return UploadOutcome::ConversionFailed;
        }
        totalConvertedSize += conversion.sizeOfConvertedFile;
        convertedNames << conversion.convertedFileName;
        view_.addStatusLine(QStringLiteral("File ") + path + QStringLiteral(" converted properly"));
        view_.selectLastStatusLine();
        progressStep();
    }
    if (!flashSufficient(totalConvertedSize, request.freeFlash)) return UploadOutcome::NotEnoughFlash;

    view_.setProgressCaption(QStringLiteral("Soft Font Upload Sending files to printer"));
    view_.setFlashNeededCaption(QString::number(totalConvertedSize));
    view_.addStatusLine(QStringLiteral("Sending converted files to printer"));

    for (qsizetype index = 0; index < convertedNames.size(); ++index) {
        const QString& convertedName = convertedNames[index];
        enterRow(static_cast<int>(index) + 1);
        if (busyWhileRunning()) return UploadOutcome::NotReady;
        const int initialToggle = readFlashToggle(link_);
        view_.addStatusLine(QStringLiteral("Initial Toggle State = ") + QString::number(initialToggle));
        view_.addStatusLine(QStringLiteral("Sending converted file to printer ") + convertedName);
        view_.selectLastStatusLine();

        // The converted file carries its own header command.
        const std::optional<std::int64_t> size = openableFileSize(convertedName);
        if (!size) return UploadOutcome::FileMissing;
        const FlashSpace flashBefore =
            readFlash(QStringLiteral("Flash space remaining before flash start = "));
        startFile(static_cast<int>(index) + 1, request.paths[index], LoaderMode::ModeSF, flashBefore,
                  convertedName);
        // The converted file carries no header of ours: its first chunk may
        // already have reached the printer when a transfer fails.
        bytesOut_ = true;
        if (demo_) {
            view_.addStatusLine(QStringLiteral("Demo mode - Sending converted file to printer "));
        } else if (const UploadOutcome sent = transferOrStop(convertedName);
                   sent != UploadOutcome::Completed) {
            return recordStop(sent);
        }
        if (const UploadOutcome written = waitForFlashWrite(initialToggle, convertedName, *size);
            written != UploadOutcome::Completed) {
            return recordStop(written);
        }
        const FlashSpace flashAfter = readFlash(QStringLiteral("Flash space remaining after flash end = "));
        noteConfirmation(request.paths[index], *size, flashBefore, flashAfter);
        progressStep();
    }

    view_.addStatusLine(QStringLiteral("Sending files to printer complete"));
    view_.selectLastStatusLine();
    endOfList(QStringLiteral("Zara Rida Davezo"));
    return unconfirmed_.isEmpty() ? UploadOutcome::Completed : UploadOutcome::NotConfirmed;
}

bool UploadEngine::busyAtEntry(const QString& message) {
    if (!link_.printerBusy()) return false;
    view_.setProgressCaption(confirmed_.isEmpty() && unconfirmed_.isEmpty()
                                 ? QStringLiteral("Upload not started, the printer is busy")
                                 : QStringLiteral("Upload stopped, the printer is busy"));
    reason_ = withWhatThePrinterGot(message);
    view_.prompts().message(reason_);
    return true;
}

bool UploadEngine::busyWhileRunning() {
    return busyAtEntry(NOT_READY_RUNNING);
}

bool UploadEngine::flashSufficient(std::int64_t needed, const std::optional<std::int64_t>& freeFlash) {
    if (!freeFlash || needed <= *freeFlash) return true;
    const QString question = QStringLiteral("The list needs ") + formatGrouped(needed) +
                             QStringLiteral(" bytes of flash but the printer has only ") +
                             formatGrouped(*freeFlash) + QStringLiteral(" bytes free. Send the list anyway?");
    if (view_.prompts().askYesNo(question, QStringLiteral("Flash Needed"))) return true;
    reason_ = question;
    view_.addStatusLine(QStringLiteral("Send List to printer cancelled, not enough flash space"));
    view_.selectLastStatusLine();
    view_.setProgressCaption(QStringLiteral("Upload not started, not enough flash space"));
    return false;
}

std::optional<std::int64_t> UploadEngine::openableFileSize(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) return file.size();
    stop(QStringLiteral("File ") + path + QStringLiteral(" can not be opened"),
         QStringLiteral("File ") + path + QStringLiteral(" can not be opened, upload stopped"),
         QStringLiteral("Upload stopped, a file can not be opened"));
    return std::nullopt;
}

FlashSpace UploadEngine::readFlash(const QString& line) {
    const FlashSpace flash = link_.readFlashSpace();
    lastFlash_ = flash.known();
    view_.addStatusLine(line + flashText(flash));
    return flash;
}

// A printer that stored a non-empty file has less flash free after it than
// before; anything else (no reading, or no flash used) confirms nothing.
void UploadEngine::noteConfirmation(const QString& path, std::int64_t size, const FlashSpace& before,
                                    const FlashSpace& after) {
    view_.addStatusLine(QStringLiteral("Flash space used = ") +
                        (before.read && after.read
                             ? QString::number(static_cast<std::int64_t>(before.freeBytes) - after.freeBytes)
                             : UNKNOWN));
    view_.setFlashSpaceRemaining(after.known());
    FileEnded ended;
    if (current_) {
        ended = *current_;
    } else {
        ended.row = row_;
        ended.path = path;
    }
    current_.reset();
    ended.freeFlashAfter = after.known();
    const bool confirmed = before.read && after.read && (size == 0 || after.freeBytes < before.freeBytes);
    ended.outcome = confirmed && !demo_ ? FileOutcome::Confirmed : FileOutcome::NotConfirmed;
    if (demo_) {
        ended.reason = DEMO_NOTE;
        observer_.fileEnded(ended);
        return;
    }
    if (!confirmed)
        ended.reason = !before.read || !after.read ? QStringLiteral("its free flash could not be read")
                                                   : QStringLiteral("no flash used, not stored");
    observer_.fileEnded(ended);
    if (!before.read || !after.read) {
        view_.addStatusLine(
            QStringLiteral("Not confirmed by the printer (its free flash could not be read): ") + path);
    } else if (size > 0 && after.freeBytes >= before.freeBytes) {
        view_.addStatusLine(QStringLiteral("Not confirmed by the printer (no flash used, not stored): ") +
                            path);
    } else {
        confirmed_ << path;
        return;
    }
    unconfirmed_ << path;
    view_.selectLastStatusLine();
}

UploadOutcome UploadEngine::recordStop(UploadOutcome outcome) {
    if (!current_) return outcome;
    // Only a file of which no byte went out is known not to be on the printer.
    const bool nothingSent =
        (outcome == UploadOutcome::FileMissing || outcome == UploadOutcome::PrinterGone) && !bytesOut_;
    FileEnded ended = *current_;
    current_.reset();
    ended.outcome = nothingSent ? FileOutcome::NotSent : FileOutcome::Interrupted;
    ended.reason = reason_;
    observer_.fileEnded(ended);
    return outcome;
}

QString UploadEngine::withWhatThePrinterGot(const QString& message) const {
    if (confirmed_.isEmpty() && unconfirmed_.isEmpty()) return message;
    QString text = message;
    if (!confirmed_.isEmpty())
        text += QStringLiteral("\n\nStored by the printer before the stop:\n") +
                confirmed_.join(QLatin1Char('\n'));
    if (!unconfirmed_.isEmpty())
        text += QStringLiteral("\n\nSent but not confirmed by the printer:\n") +
                unconfirmed_.join(QLatin1Char('\n'));
    return text;
}

UploadOutcome UploadEngine::sendOrStop(const QByteArray& bytes, const QString& path) {
    if (link_.send(bytesOf(bytes))) return UploadOutcome::Completed;
    return printerGone(path);
}

UploadOutcome UploadEngine::transferOrStop(const QString& path) {
    switch (link_.sendFile(path, view_)) {
        case FileTransfer::Sent:
            return UploadOutcome::Completed;
        case FileTransfer::Unreadable:
            stop(QStringLiteral("File ") + path + QStringLiteral(" could not be read"),
                 QStringLiteral("File ") + path +
                     QStringLiteral(" could not be read to its end, upload stopped"),
                 QStringLiteral("Upload stopped, a file could not be read"));
            return UploadOutcome::FileMissing;
        case FileTransfer::PrinterGone:
            break;
    }
    return printerGone(path);
}

UploadOutcome UploadEngine::waitForFlashWrite(int initialToggle, const QString& path, std::int64_t size) {
    observer_.flashWriteBegan(row_);
    const ToggleWait wait = waitForToggleChange(
        link_, view_, initialToggle, QStringLiteral("Waiting for done, toggle has not changed"),
        flashWaitOverride_.value_or(flashWaitLimit(toggleTimeout_, size)));
    observer_.flashWriteEnded(row_);
    switch (wait) {
        case ToggleWait::Changed:
            return UploadOutcome::Completed;
        case ToggleWait::TimedOut:
            stop(QStringLiteral("Upload stopped, the printer did not finish writing ") + path,
                 QStringLiteral("The printer did not finish writing ") + path +
                     QStringLiteral(" to flash, upload stopped"),
                 QStringLiteral("Upload stopped, the printer did not finish writing its flash"));
            return UploadOutcome::TimedOut;
        case ToggleWait::Cancelled:
            stop(QStringLiteral("Upload cancelled while waiting for ") + path,
                 QStringLiteral("Upload cancelled while the printer was writing ") + path,
                 QStringLiteral("Upload cancelled"));
            return UploadOutcome::Cancelled;
        case ToggleWait::PrinterGone:
            break;
    }
    stop(QStringLiteral("Printer status read failed while writing ") + path,
         QStringLiteral("The printer stopped answering while writing ") + path +
             QStringLiteral(", upload stopped"),
         QStringLiteral("Upload stopped, the printer stopped answering"), false);
    return UploadOutcome::PrinterGone;
}

UploadOutcome UploadEngine::printerGone(const QString& path) {
    stop(QStringLiteral("Printer write failed while sending ") + path,
         QStringLiteral("The printer stopped taking data while sending ") + path +
             QStringLiteral(", upload stopped"),
         QStringLiteral("Upload stopped, the printer stopped taking data"), false);
    return UploadOutcome::PrinterGone;
}

// Every end of a run says how it ended, and shows the free flash as the
// printer reports it now (unknown when the printer is gone).
void UploadEngine::stop(const QString& line, const QString& message, const QString& caption,
                        bool printerThere) {
    view_.addStatusLine(line);
    view_.selectLastStatusLine();
    view_.setProgressCaption(caption);
    if (demo_) {
        // The demo printer has no flash to read again.
    } else if (printerThere) {
        const std::optional<std::int64_t> freeNow =
            readFlash(QStringLiteral("Flash space remaining after the stop = ")).known();
        if (current_) current_->freeFlashAfter = freeNow;
        view_.setFlashSpaceRemaining(freeNow);
    } else {
        lastFlash_.reset();
        view_.setFlashSpaceRemaining(std::nullopt);
    }
    reason_ = withWhatThePrinterGot(message);
    view_.prompts().message(reason_);
}

void UploadEngine::endOfList(const QString& finalTitle) {
    const FlashSpace flashAfter = link_.readFlashSpace();
    lastFlash_ = flashAfter.known();
    view_.setFlashSpaceRemaining(flashAfter.known());
    if (demo_) {
        view_.setProgressCaption(FLASH_UPLOAD_COMPLETE + QStringLiteral(" (demonstration)"));
        view_.addStatusLine(DEMO_NOTE);
        view_.prompts().message(FLASH_UPLOAD_COMPLETE + QStringLiteral("\n\n") + DEMO_NOTE, finalTitle);
        return;
    }
    if (unconfirmed_.isEmpty()) {
        view_.setProgressCaption(FLASH_UPLOAD_COMPLETE);
        view_.prompts().message(FLASH_UPLOAD_COMPLETE, finalTitle);
        return;
    }
    for (const QString& path : unconfirmed_)
        view_.addStatusLine(QStringLiteral("The printer did not confirm storing ") + path);
    view_.selectLastStatusLine();
    view_.setProgressCaption(QStringLiteral("Upload ended, ") + QString::number(unconfirmed_.size()) +
                             QStringLiteral(" of ") +
                             QString::number(unconfirmed_.size() + confirmed_.size()) +
                             QStringLiteral(" files not confirmed by the printer"));
    reason_ = QStringLiteral(
                  "The printer did not confirm storing these files (its free flash did not go down, or "
                  "could not be read):\n") +
              unconfirmed_.join(QLatin1Char('\n')) +
              QStringLiteral("\n\nCheck the printer's free flash, then send these files again.");
    view_.prompts().message(reason_, finalTitle, MessageIcon::Exclamation);
}

void UploadEngine::progressStep() {
    view_.setProgressValue(view_.progressValue() + 1);
}

}  // namespace velquin
