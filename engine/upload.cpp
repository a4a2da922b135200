#include "upload.h"

#include <QFile>

#include "operation_view.h"
#include "operator_prompts.h"
#include "printer_connection.h"
#include "printer_facts.h"

namespace velquin {

namespace {

constexpr char ESC = '\x1b';

const QString NOT_READY_ENTRY =
    QStringLiteral("Can not send files to printer because printer is not ready entry");
const QString NOT_READY_RUNNING =
    QStringLiteral("Can not send files to printer because printer is not ready running");
const QString FLASH_UPLOAD_COMPLETE = QStringLiteral("Flash Upload Complete");

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

UploadEngine::UploadEngine(PrinterConnection& link, OperationView& view, SoftFontConverterCall convert,
                           std::chrono::milliseconds toggleTimeout)
    : link_(link), view_(view), convert_(std::move(convert)), toggleTimeout_(toggleTimeout) {}

UploadOutcome UploadEngine::run(const UploadRequest& request) {
    demo_ = request.demoMode;
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
    view_.processEvents();
    view_.addStatusLine(branch.modeLine);
    view_.clearStatus();
    view_.processEvents();
    view_.setProgressRange(0, static_cast<int>(request.paths.size()));
    view_.setProgressValue(0);
    view_.clearStatus();
    view_.addStatusLine(branch.sendingFilesLine);
    view_.processEvents();

    if (busyAtEntry(NOT_READY_ENTRY)) return UploadOutcome::NotReady;
    if (!flashSufficient(request.flashNeeded, request.freeFlash)) return UploadOutcome::NotEnoughFlash;
    view_.setProgressCaption(branch.uploadCaption);
    if (branch.togglesBeforeList) {
        view_.addStatusLine(QStringLiteral("Initial Toggle State = ") +
                            QString::number(readFlashToggle(link_)));
        view_.processEvents();
    }

    for (qsizetype index = 0; index < request.paths.size(); ++index) {
        const QString& path = request.paths[index];
        view_.setCurrentListRow(static_cast<int>(index) + 1);
        view_.addStatusLine(branch.fileLine + path);
        view_.processEvents();
        view_.selectLastStatusLine();
        if (busyWhileRunning()) return UploadOutcome::NotReady;

        const int initialToggle = readFlashToggle(link_);
        view_.addStatusLine(QStringLiteral("Initial Toggle State = ") + QString::number(initialToggle));
        view_.processEvents();
        const std::int32_t flashBefore = link_.readFlashSpace().freeBytes;
        view_.addStatusLine(QStringLiteral("Flash space remaining before flash start = ") +
                            QString::number(flashBefore));
        view_.processEvents();

        const std::optional<std::int64_t> size = openableFileSize(path);
        if (!size) return UploadOutcome::FileMissing;
        if (demo_) {
            view_.addStatusLine(branch.demoLine);
            view_.processEvents();
        } else {
            if (const UploadOutcome sent = sendOrStop(uploadHeader(branch.mode, *size), path);
                sent != UploadOutcome::Completed) {
                return sent;
            }
            if (const UploadOutcome sent = transferOrStop(path); sent != UploadOutcome::Completed)
                return sent;
            if (branch.trailingEsc) {
                if (const UploadOutcome sent = sendOrStop(QByteArray(1, ESC), path);
                    sent != UploadOutcome::Completed) {
                    return sent;
                }
            }
        }
        for (const QString& line : branch.sentLines) {
            view_.addStatusLine(line);
            view_.processEvents();
        }

        if (const UploadOutcome written = waitForFlashWrite(initialToggle, path);
            written != UploadOutcome::Completed) {
            return written;
        }
        view_.addStatusLine(link_.printerBusy() ? branch.busyAfterLine : branch.notBusyAfterLine);
        view_.processEvents();
        view_.processEvents();

        const std::int32_t flashAfter = link_.readFlashSpace().freeBytes;
        view_.addStatusLine(QStringLiteral("Flash space remaining after flash end = ") +
                            QString::number(flashAfter));
        view_.addStatusLine(QStringLiteral("Flash space used = ") +
                            QString::number(static_cast<std::int64_t>(flashBefore) - flashAfter));
        view_.processEvents();
        view_.setFlashSpaceRemaining(flashAfter);
        progressStep();
    }

    view_.setProgressCaption(branch.endCaption);
    view_.addStatusLine(QStringLiteral("Sending files to printer complete"));
    view_.processEvents();
    view_.selectLastStatusLine();
    endOfList(branch.finalTitle);
    return UploadOutcome::Completed;
}

UploadOutcome UploadEngine::runSoftFontBranch(const UploadRequest& request) {
    view_.clearStatus();
    view_.processEvents();
    view_.addStatusLine(QStringLiteral("Soft Font Mode"));
    view_.processEvents();
    view_.setProgressRange(0, static_cast<int>(request.paths.size()) * 2);
    view_.setProgressValue(0);
    view_.prompts().message(QStringLiteral("Soft Font Mode"));
    view_.setProgressCaption(QStringLiteral("Soft Font Upload Converting files"));
    view_.addStatusLine(QStringLiteral("Convert files and send to printer"));
    if (busyAtEntry(NOT_READY_RUNNING)) return UploadOutcome::NotReady;
    view_.addStatusLine(QStringLiteral("Initial Toggle State = ") + QString::number(readFlashToggle(link_)));
    view_.processEvents();

    // Every font is converted before the first byte goes out, so a font that
    // fails leaves the printer untouched.
    QStringList convertedNames;
    std::int64_t totalConvertedSize = 0;
    for (qsizetype index = 0; index < request.paths.size(); ++index) {
        const QString& path = request.paths[index];
        view_.setCurrentListRow(static_cast<int>(index) + 1);
        const ConversionOutcome conversion = ConvertFileSFFtoQKS(path, false, convert_, view_);
        if (!conversion.converted) {
            const QString failure =
                QStringLiteral("File ") + path + QStringLiteral(" did not convert properly");
            view_.addStatusLine(failure);
            view_.prompts().message(failure);
            view_.addStatusLine(QStringLiteral("Send List to printer complete .. aborted"));
            return UploadOutcome::ConversionFailed;
        }
        totalConvertedSize += conversion.sizeOfConvertedFile;
        convertedNames << conversion.convertedFileName;
        view_.addStatusLine(QStringLiteral("File ") + path + QStringLiteral(" converted properly"));
        view_.selectLastStatusLine();
        view_.processEvents();
        progressStep();
    }
    if (!flashSufficient(totalConvertedSize, request.freeFlash)) return UploadOutcome::NotEnoughFlash;

    view_.setProgressCaption(QStringLiteral("Soft Font Upload Sending files to printer"));
    view_.setFlashNeededCaption(QString::number(totalConvertedSize));
    view_.processEvents();
    view_.addStatusLine(QStringLiteral("Sending converted files to printer"));
    view_.processEvents();

    for (qsizetype index = 0; index < convertedNames.size(); ++index) {
        const QString& convertedName = convertedNames[index];
        view_.setCurrentListRow(static_cast<int>(index) + 1);
        if (busyWhileRunning()) return UploadOutcome::NotReady;
        const int initialToggle = readFlashToggle(link_);
        view_.addStatusLine(QStringLiteral("Initial Toggle State = ") + QString::number(initialToggle));
        view_.addStatusLine(QStringLiteral("Sending converted file to printer ") + convertedName);
        view_.processEvents();
        view_.selectLastStatusLine();

        // The converted file carries its own header command.
        if (!openableFileSize(convertedName)) return UploadOutcome::FileMissing;
        if (demo_) {
            view_.addStatusLine(QStringLiteral("Demo mode - Sending converted file to printer "));
            view_.processEvents();
        } else if (const UploadOutcome sent = transferOrStop(convertedName);
                   sent != UploadOutcome::Completed) {
            return sent;
        }
        if (const UploadOutcome written = waitForFlashWrite(initialToggle, convertedName);
            written != UploadOutcome::Completed) {
            return written;
        }
        progressStep();
    }

    view_.addStatusLine(QStringLiteral("Sending files to printer complete"));
    view_.processEvents();
    view_.selectLastStatusLine();
    endOfList(QStringLiteral("Zara Rida Davezo"));
    return UploadOutcome::Completed;
}

bool UploadEngine::busyAtEntry(const QString& message) {
    if (!link_.printerBusy()) return false;
    view_.prompts().message(message);
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
    view_.addStatusLine(QStringLiteral("Send List to printer cancelled, not enough flash space"));
    view_.selectLastStatusLine();
    return false;
}

std::optional<std::int64_t> UploadEngine::openableFileSize(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) return file.size();
    stop(QStringLiteral("File ") + path + QStringLiteral(" can not be opened"),
         QStringLiteral("File ") + path + QStringLiteral(" can not be opened, upload stopped"));
    return std::nullopt;
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
                     QStringLiteral(" could not be read to its end, upload stopped"));
            return UploadOutcome::FileMissing;
        case FileTransfer::PrinterGone:
            break;
    }
    return printerGone(path);
}

UploadOutcome UploadEngine::waitForFlashWrite(int initialToggle, const QString& path) {
    switch (waitForToggleChange(link_, view_, initialToggle,
                                QStringLiteral("Waiting for done, toggle has not changed"), toggleTimeout_)) {
        case ToggleWait::Changed:
            return UploadOutcome::Completed;
        case ToggleWait::TimedOut:
            stop(QStringLiteral("Upload stopped, the printer did not finish writing ") + path,
                 QStringLiteral("The printer did not finish writing ") + path +
                     QStringLiteral(" to flash, upload stopped"));
            return UploadOutcome::TimedOut;
        case ToggleWait::Cancelled:
            stop(QStringLiteral("Upload cancelled while waiting for ") + path,
                 QStringLiteral("Upload cancelled while the printer was writing ") + path);
            return UploadOutcome::Cancelled;
        case ToggleWait::PrinterGone:
            break;
    }
    stop(QStringLiteral("Printer status read failed while writing ") + path,
         QStringLiteral("The printer stopped answering while writing ") + path +
             QStringLiteral(", upload stopped"));
    return UploadOutcome::PrinterGone;
}

UploadOutcome UploadEngine::printerGone(const QString& path) {
    stop(QStringLiteral("Printer write failed while sending ") + path,
         QStringLiteral("The printer stopped taking data while sending ") + path +
             QStringLiteral(", upload stopped"));
    return UploadOutcome::PrinterGone;
}

void UploadEngine::stop(const QString& line, const QString& message) {
    view_.addStatusLine(line);
    view_.selectLastStatusLine();
    view_.prompts().message(message);
}

void UploadEngine::endOfList(const QString& finalTitle) {
    const std::int32_t flashAfter = link_.readFlashSpace().freeBytes;
    view_.setFlashSpaceRemaining(flashAfter);
    view_.setProgressCaption(FLASH_UPLOAD_COMPLETE);
    view_.processEvents();
    view_.prompts().message(FLASH_UPLOAD_COMPLETE, finalTitle);
}

void UploadEngine::progressStep() {
    view_.setProgressValue(view_.progressValue() + 1);
}

}  // namespace velquin
