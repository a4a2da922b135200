#include "printer_io.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <climits>
#include <cstring>

#include "morlix/printer_codes.h"
#include "morlix_library.h"
#include "operation_view.h"
#include "operator_prompts.h"

namespace velquin {

namespace {

constexpr char ETHERNET_FLASH_REQUEST[] = "<SA07>";
constexpr char ETHERNET_STATUS_REQUEST[] = "<SS>";
constexpr char FLASH_REPLY_KEY[] = "A0708";
constexpr std::size_t FLASH_REPLY_KEY_LENGTH = 5;
constexpr std::size_t FLASH_REPLY_FIELD_LENGTH = 8;

QString statusBytesLine(const StatusBytes& status) {
    QStringList bytes;
    for (std::size_t i = 0; i <= morlix::STATUS_FLAGS_BYTE; ++i)
        bytes << QString::number(status[i], 16).toUpper();
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

PrinterIo::PrinterIo(AppState& state, MorlixLibrary& library, OperatorPrompts& prompts, StatusLog& status)
    : state_(state), library_(library), prompts_(prompts), status_(status), sleep_([](int milliseconds) {
          QThread::msleep(static_cast<unsigned long>(milliseconds));
      }) {}

void PrinterIo::addStatusLine(const QString& line) {
    status_.addStatusLine(line);
}

void PrinterIo::SelectLastStatusLine() {
    status_.selectLastStatusLine();
}

void PrinterIo::clearStatus() {
    status_.clearStatus();
}

bool PrinterIo::send(std::span<const std::uint8_t> bytes) {
    // An empty write still hands the library a valid address.
    static constexpr std::uint8_t nothing = 0;
    const std::uint8_t* const data = bytes.empty() ? &nothing : bytes.data();
    const std::size_t byteCount = std::min(bytes.size(), LARGEST_WRITE);
    if (state_.printer.link() == SessionLink::Tcp) {
        // One send may take fewer bytes than asked; send the rest until all
        // are taken, so no part of a file is silently left out.
        std::size_t done = 0;
        do {
            std::int32_t sent = 0;
            if (library_.WriteDataEthernetVB(state_.printer.socket(), data + done,
                                             static_cast<std::int32_t>(byteCount - done), &sent) == 0 ||
                sent < 0)
                return false;
            if (sent == 0 && byteCount > done) return false;
            done += static_cast<std::size_t>(sent);
        } while (done < byteCount);
        return true;
    }
    return library_.WritePrinterVB(state_.printer.localHandle(), data,
                                   static_cast<std::uint32_t>(byteCount)) == 0;
}

bool PrinterIo::readStatus(StatusBytes& status, std::int32_t& byteCount) {
    status.fill(0);
    byteCount = 0;
    if (state_.printer.link() == SessionLink::Tcp) {
        // A network printer answers "<SS>" with the same status bytes a local
        // port gives; without it the flash toggle could never be seen over TCP.
        constexpr std::size_t requestLength = sizeof ETHERNET_STATUS_REQUEST - 1;
        if (!send({reinterpret_cast<const std::uint8_t*>(ETHERNET_STATUS_REQUEST), requestLength}))
            return false;
        sleep_(ETHERNET_STATUS_WAIT_MS);
        const std::size_t received = readReply(status.data(), STATUS_BUFFER_SIZE - 1,
                                               ETHERNET_STATUS_REPLY_LENGTH, ETHERNET_REPLY_DEADLINE_MS);
        byteCount = static_cast<std::int32_t>(received);
        return received >= ETHERNET_STATUS_REPLY_LENGTH;
    }
    static constexpr std::uint8_t noRequest = 0;
    return library_.GetPrinterStatusDataVB(state_.printer.localHandle(), status.data(), &byteCount, 0,
                                           &noRequest, 0) == 0;
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
    return (status[morlix::STATUS_FLAGS_BYTE] & morlix::STATUS_BUSY_BIT) != 0;
}

std::size_t PrinterIo::readReply(std::uint8_t* buffer, std::size_t capacity, std::size_t wanted,
                                 int deadlineMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    std::size_t received = 0;
    // Each read waits for the printer within the library's reply limit; the
    // rest of a reply in pieces is read while the deadline lasts.
    while (received < wanted && received < capacity && elapsed.elapsed() < deadlineMs) {
        std::int32_t length =
            static_cast<std::int32_t>(std::min<std::size_t>(capacity - received, INT32_MAX));
        if (library_.ReadDataEthernetVB(state_.printer.socket(), buffer + received, &length) == 0 ||
            length <= 0)
            break;
        received += static_cast<std::size_t>(length);
    }
    return received;
}

std::optional<std::int32_t> PrinterIo::readFlashSpaceEthernet() {
    // No socket (the shutdown has closed it): there is no printer to ask.
    if (state_.printer.socket() == 0) return std::nullopt;
    QByteArray field;
    std::int64_t value = 0;
    const int attempts = flashFailureReported_ ? 1 : ETHERNET_FLASH_ATTEMPTS;
    std::array<std::uint8_t, ETHERNET_FLASH_REPLY_CAPACITY> reply{};
    bool sendFailed = false;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        constexpr std::size_t requestLength = sizeof ETHERNET_FLASH_REQUEST - 1;
        // A printer that no longer takes a request cannot answer it: asking
        // again would only make the operator wait out every attempt.
        if (!send({reinterpret_cast<const std::uint8_t*>(ETHERNET_FLASH_REQUEST), requestLength})) {
            sendFailed = true;
            break;
        }
        sleep_(ETHERNET_FLASH_WAIT_MS);
        const std::size_t received =
            readReply(reply.data(), reply.size(), ETHERNET_FLASH_REPLY_LENGTH, ETHERNET_REPLY_DEADLINE_MS);
        if (auto digits = flashReplyField(reply.data(), received)) field = *digits;
        value = lenientDecimal(field);
        if (value > 0) return static_cast<std::int32_t>(std::min<std::int64_t>(value, INT32_MAX));
    }
    if (!flashFailureReported_) {
        flashFailureReported_ = true;
        prompts_.message(QStringLiteral("Can't read flash remaining"), APPLICATION_TITLE);
    }
    addStatusLine(sendFailed
                      ? QStringLiteral("Can't read flash remaining: the printer did not take the request")
                      : QStringLiteral("Can't read flash remaining: the printer gave no usable flash reply"));
    return std::nullopt;
}

}  // namespace velquin
