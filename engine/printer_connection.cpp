#include "printer_connection.h"

#include <morlix/printer_codes.h>

#include <QFile>
#include <algorithm>

#include "app_state.h"
#include "morlix_library.h"
#include "operation_view.h"
#include "printer_io.h"

namespace velquin {

bool PrinterStatus::busy() const {
    return (bytes[morlix::STATUS_FLAGS_BYTE] & morlix::STATUS_BUSY_BIT) != 0;
}

int PrinterStatus::flashToggle() const {
    return (bytes[morlix::STATUS_FLAGS_BYTE] & morlix::STATUS_FLASH_TOGGLE_BIT) != 0 ? 1 : 0;
}

int readFlashToggle(PrinterConnection& link) {
    return link.readStatus().flashToggle();
}

FileTransfer streamFileToPrinter(const QString& path, std::span<std::uint8_t> chunkBuffer,
                                 PrinterConnection& link, OperationView& view) {
    view.addStatusLine(QStringLiteral("Writing file "));
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    // The low 32 bits of the size, as a signed number; -1 for a file that did not open.
    view.addStatusLine(QString::number(opened ? static_cast<std::int32_t>(file.size()) : -1));

    const qint64 chunkSize = static_cast<qint64>(std::min(FILE_CHUNK_SIZE, chunkBuffer.size()));
    FileTransfer result = FileTransfer::Sent;
    while (true) {
        const qint64 bytesRead =
            opened ? file.read(reinterpret_cast<char*>(chunkBuffer.data()), chunkSize) : -1;
        if (bytesRead < 0) {
            view.addStatusLine(QStringLiteral("Writing file ") + path + QStringLiteral(" ERROR"));
            view.selectLastStatusLine();
            result = FileTransfer::Unreadable;
            break;
        }
        if (bytesRead == 0) break;
        const auto chunk = chunkBuffer.first(static_cast<std::size_t>(bytesRead));
        if (!link.send(chunk)) {
            view.addStatusLine(QStringLiteral("lRC = 1, fail"));
            // The printer is gone: the rest of the file would go nowhere.
            result = FileTransfer::PrinterGone;
            break;
        }
        link.fileBytesTaken(chunk);
    }
    return result;
}

std::chrono::milliseconds flashWaitLimit(std::chrono::milliseconds base, std::int64_t fileSize) {
    // The limit is the stated one unless writing the file alone may take
    // longer; it never adds the two (a 340 KB font made a minute 77 s).
    return std::max(base, std::chrono::milliseconds(std::max<std::int64_t>(fileSize, 0) * 1'000 /
                                                    SLOWEST_FLASH_WRITE_RATE));
}

ToggleWait waitForToggleChange(PrinterConnection& link, OperationView& view, int initialToggle,
                               const QString& waitingLine, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    auto lastSignOfLife = Clock::now();
    view.setCancelOffered(true);
    ToggleWait result = ToggleWait::Changed;
    int failedReads = 0;
    while (true) {
        const PrinterStatus status = link.readStatus();
        if (!status.read) {
            view.addRepeatedStatusLine(QStringLiteral("Waiting for done, status read failed"));
            if (++failedReads < STATUS_READ_ATTEMPTS && !view.cancelRequested()) continue;
            result = ToggleWait::PrinterGone;
            break;
        }
        failedReads = 0;
        if (status.flashToggle() != initialToggle) {
            view.addStatusLine(QStringLiteral("Waiting for done, found toggle change"));
            break;
        }
        view.addRepeatedStatusLine(waitingLine);
        if (view.cancelRequested()) {
            view.addStatusLine(QStringLiteral("Waiting for done, cancelled"));
            result = ToggleWait::Cancelled;
            break;
        }
        const auto now = Clock::now();
        if (status.busy()) lastSignOfLife = now;
        if (now - lastSignOfLife >= timeout) {
            view.addStatusLine(
                QStringLiteral("Waiting for done, no toggle change for ") +
                QString::number(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) +
                QStringLiteral(" seconds"));
            result = ToggleWait::TimedOut;
            break;
        }
    }
    view.selectLastStatusLine();
    view.setCancelOffered(false);
    return result;
}

PrinterStatus idleStatus(bool flashToggle) {
    PrinterStatus status;
    status.read = true;
    status.byteCount = static_cast<std::int32_t>(status.bytes.size());
    status.bytes[morlix::STATUS_FLAGS_BYTE] = flashToggle ? morlix::STATUS_FLASH_TOGGLE_BIT : 0;
    return status;
}

PrinterStatus DemoPrinterConnection::readStatus() {
    toggle_ = !toggle_;
    return idleStatus(toggle_);
}

bool LinkedPrinterConnection::isEthernet() const {
    return state_.printer.link() == SessionLink::Tcp;
}

bool LinkedPrinterConnection::printerBusy() {
    return io_.GetPrinterBusy();
}

PrinterStatus LinkedPrinterConnection::readStatus() {
    StatusBytes bytes{};
    PrinterStatus status;
    status.read = io_.readStatus(bytes, status.byteCount);
    std::copy_n(bytes.begin(), status.bytes.size(), status.bytes.begin());
    return status;
}

FlashSpace LinkedPrinterConnection::readFlashSpace() {
    FlashSpace flash;
    if (isEthernet()) {
        const std::optional<std::int32_t> free = io_.readFlashSpaceEthernet();
        flash.freeBytes = free.value_or(0);
        flash.read = free.has_value();
    } else {
        flash.resultCode = library_.GetFlashSpaceRemainingVB(&flash.freeBytes);
        flash.read = flash.resultCode == 0 && flash.freeBytes > 0;
    }
    // The session keeps the latest reading; one that failed leaves it unknown.
    state_.printer.setFreeFlash(flash.known());
    return flash;
}

bool LinkedPrinterConnection::send(std::span<const std::uint8_t> bytes) {
    // An empty text (a BMP test ticket) is still one write, of length 0.
    if (bytes.empty()) return io_.send(bytes);
    while (!bytes.empty()) {
        const std::size_t count = std::min(bytes.size(), LARGEST_WRITE);
        if (!io_.send(bytes.first(count))) return false;
        bytes = bytes.subspan(count);
    }
    return true;
}

FileTransfer LinkedPrinterConnection::sendFile(const QString& path, OperationView& view) {
    return streamFileToPrinter(path, chunk_, *this, view);
}

}  // namespace velquin
