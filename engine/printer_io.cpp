#include "printer_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QListWidget>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "morlix_library.h"
#include "operator_prompts.h"
#include "velquin/printer_codes.h"

namespace velquin {

namespace {

constexpr char ETHERNET_FLASH_REQUEST[] = "<SA07>";
constexpr char ETHERNET_STATUS_REQUEST[] = "<SS>";
constexpr char FLASH_REPLY_KEY[] = "A0708";
constexpr std::size_t FLASH_REPLY_KEY_LENGTH = 5;
constexpr std::size_t FLASH_REPLY_FIELD_LENGTH = 8;

void processPendingEvents() {
    QCoreApplication::processEvents();
}

QString statusBytesLine(const StatusBytes& status) {
    QStringList bytes;
    for (std::size_t i = 0; i <= STATUS_FLAGS_BYTE; ++i) bytes << QString::number(status[i], 16).toUpper();
    return bytes.join(QLatin1Char(' '));
}

}  // namespace

std::optional<QByteArray> flashReplyField(const std::uint8_t* reply, std::size_t length) {
    if (length < FLASH_REPLY_KEY_LENGTH || std::memcmp(reply, FLASH_REPLY_KEY, FLASH_REPLY_KEY_LENGTH) != 0)
        return std::nullopt;
    // Only bytes that arrived count; a short reply gives a short field.
    const std::size_t fieldLength = std::min(length - FLASH_REPLY_KEY_LENGTH, FLASH_REPLY_FIELD_LENGTH);
    return QByteArray(reinterpret_cast<const char*>(reply) + FLASH_REPLY_KEY_LENGTH,
                      static_cast<qsizetype>(fieldLength));
}

std::int64_t lenientDecimal(const QByteArray& text) {
    std::int64_t value = 0;
    bool negative = false;
    bool signAllowed = true;
    for (const char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (signAllowed && (c == '-' || c == '+')) {
            negative = c == '-';
            signAllowed = false;
            continue;
        }
        if (c < '0' || c > '9') break;
        signAllowed = false;
        if (value < 1'000'000'000'000LL) value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

PrinterIo::PrinterIo(AppState& state, MorlixLibrary& library, OperatorPrompts& prompts,
                     QListWidget& lstStatus)
    : state_(state),
      library_(library),
      prompts_(prompts),
      lstStatus_(lstStatus),
      sleep_([](int milliseconds) { QThread::msleep(static_cast<unsigned long>(milliseconds)); }) {}

void PrinterIo::addStatusLine(const QString& line) {
    lstStatus_.addItem(line);
}

void PrinterIo::SelectLastStatusLine() {
    const int last = lstStatus_.count() - 1;
    if (last < 0) return;
    lstStatus_.setCurrentRow(last);
    lstStatus_.scrollToItem(lstStatus_.item(last));
}

void PrinterIo::clearStatus() {
    lstStatus_.clear();
}

bool PrinterIo::GetFileHandle(const QString& filename) {
    closeFileHandle();  // never leave an earlier file open behind the new one
    const QByteArray path = QFile::encodeName(filename);
    int handle = -1;
    do {
        handle = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    } while (handle < 0 && errno == EINTR);
    state_.FileHandle = handle;
    return handle >= 0;
}

std::int32_t PrinterIo::fileHandleSize() const {
    struct stat info {};
    if (state_.FileHandle < 0 || ::fstat(state_.FileHandle, &info) != 0) return -1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(info.st_size)));
}

void PrinterIo::closeFileHandle() {
    // 0 to 2 are the standard streams, never a file of ours.
    if (state_.FileHandle > 2) ::close(state_.FileHandle);
    state_.FileHandle = -1;
}

bool PrinterIo::sendFromSendBuffer(std::size_t byteCount) {
    byteCount = std::min(byteCount, state_.SendBuffer.size());
    if (isTrue(state_.PrinterIsEthernet)) {
        // One send may take fewer bytes than asked; send the rest until all
        // are taken, so no part of a file is silently left out.
        std::size_t done = 0;
        do {
            std::int32_t sent = 0;
            if (library_.WriteDataEthernetVB(state_.Socket, state_.SendBuffer.data() + done,
                                             static_cast<std::int32_t>(byteCount - done), &sent) == 0 ||
                sent < 0)
                return false;
            if (sent == 0 && byteCount > done) return false;
            done += static_cast<std::size_t>(sent);
        } while (done < byteCount);
        return true;
    }
    return library_.WritePrinterVB(state_.PrinterHandle, state_.SendBuffer.data(),
                                   static_cast<std::uint32_t>(byteCount)) == 0;
}

bool PrinterIo::WriteFileToPrinter(const QString& FileNameToWrite) {
    bool result = true;
    addStatusLine(QStringLiteral("Writing file "));
    GetFileHandle(FileNameToWrite);
    addStatusLine(QString::number(fileHandleSize()));
    for (;;) {
        ssize_t bytesRead = -1;
        if (state_.FileHandle >= 0) {
            do {
                bytesRead = ::read(state_.FileHandle, state_.SendBuffer.data(), FILE_CHUNK_SIZE);
            } while (bytesRead < 0 && errno == EINTR);
        }
        processPendingEvents();
        if (bytesRead < 0) {
            addStatusLine(QStringLiteral("Writing file ") + FileNameToWrite + QStringLiteral(" ERROR"));
            SelectLastStatusLine();
            result = false;
            break;
        }
        if (bytesRead == 0) break;
        if (!sendFromSendBuffer(static_cast<std::size_t>(bytesRead)))
            addStatusLine(QStringLiteral("lRC = 1, fail"));
    }
    processPendingEvents();
    closeFileHandle();
    return result;
}

bool PrinterIo::readStatus(StatusBytes& status, std::int32_t& byteCount) {
    status.fill(0);
    byteCount = 0;
    if (isTrue(state_.PrinterIsEthernet)) {
        // A network printer answers "<SS>" with the same status bytes a local
        // port gives; without it the flash toggle could never be seen over TCP.
        constexpr std::size_t requestLength = sizeof ETHERNET_STATUS_REQUEST - 1;
        std::memcpy(state_.SendBuffer.data(), ETHERNET_STATUS_REQUEST, requestLength);
        if (!sendFromSendBuffer(requestLength)) return false;
        sleep_(ETHERNET_STATUS_WAIT_MS);
        std::int32_t length = static_cast<std::int32_t>(STATUS_BUFFER_SIZE - 1);
        if (library_.ReadDataEthernetVB(state_.Socket, status.data(), &length) == 0) return false;
        byteCount = length;
        return true;
    }
    static constexpr std::uint8_t noRequest = 0;
    return library_.GetPrinterStatusDataVB(state_.PrinterHandle, status.data(), &byteCount, 0, &noRequest,
                                           0) == 0;
}

bool PrinterIo::GetPrinterBusy() {
    StatusBytes status{};
    std::int32_t byteCount = 0;
    const bool readOk = readStatus(status, byteCount);
    addStatusLine(QStringLiteral("GetPrinterBusy Entry"));
    if (!readOk) {
        addStatusLine(QStringLiteral("Status read failed"));
    } else {
        addStatusLine(QStringLiteral("Good status read, number of bytes read = ") +
                      QString::number(byteCount));
        addStatusLine(statusBytesLine(status));
    }
    return (status[STATUS_FLAGS_BYTE] & STATUS_BUSY_BIT) != 0;
}

int PrinterIo::GetFlashToggle() {
    StatusBytes status{};
    std::int32_t byteCount = 0;
    readStatus(status, byteCount);
    return (status[STATUS_FLAGS_BYTE] & STATUS_FLASH_TOGGLE_BIT) != 0 ? 1 : 0;
}

std::int32_t PrinterIo::GetFlashSpaceRemainingVBEthernet() {
    QByteArray field;
    std::int64_t value = 0;
    for (int attempt = 1; attempt <= ETHERNET_FLASH_ATTEMPTS; ++attempt) {
        constexpr std::size_t requestLength = sizeof ETHERNET_FLASH_REQUEST - 1;
        std::memcpy(state_.SendBuffer.data(), ETHERNET_FLASH_REQUEST, requestLength);
        sendFromSendBuffer(requestLength);
        sleep_(ETHERNET_FLASH_WAIT_MS);
        std::int32_t length = ETHERNET_FLASH_REPLY_CAPACITY;
        if (library_.ReadDataEthernetVB(state_.Socket, state_.ReceiveBuffer.data(), &length) != 0) {
            const std::size_t received =
                static_cast<std::size_t>(std::clamp(length, 0, ETHERNET_FLASH_REPLY_CAPACITY));
            if (auto reply = flashReplyField(state_.ReceiveBuffer.data(), received)) field = *reply;
        }
        value = lenientDecimal(field);
        if (value > 0) return static_cast<std::int32_t>(std::min<std::int64_t>(value, INT32_MAX));
    }
    prompts_.message(QStringLiteral("Can't read flash remaining"), APPLICATION_TITLE);
    return static_cast<std::int32_t>(std::max<std::int64_t>(value, INT32_MIN));
}

}  // namespace velquin
