// The program's own printer I/O around the library's calls: write the send
// buffer over whichever link is in use, read the status bytes, ask a network
// printer for its free flash, and keep the diagnostics list scrolled to its
// newest line. Files go through the printer connection (printer_connection.h).
// The link itself (handle or socket) is opened by discovery and only used
// here.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "app_state.h"

namespace velquin {

class MorlixLibrary;
class OperatorPrompts;
class StatusLog;

inline constexpr std::size_t FILE_CHUNK_SIZE = 8'192;
// The most one write hands the library; longer texts go in several writes.
inline constexpr std::size_t LARGEST_WRITE = 65'539;
inline constexpr std::size_t STATUS_BUFFER_SIZE = 513;  // indices 0 to 512
inline constexpr std::int32_t ETHERNET_FLASH_REPLY_CAPACITY = 1'024;
inline constexpr int ETHERNET_FLASH_ATTEMPTS = 21;
inline constexpr int ETHERNET_FLASH_WAIT_MS = 500;
inline constexpr int ETHERNET_STATUS_WAIT_MS = 200;
// After the fixed wait, how long an exchange over TCP may still take to
// bring the rest of its reply.
inline constexpr int ETHERNET_REPLY_DEADLINE_MS = 1'000;
// Bytes of a status reply: status bytes 0 to 4.
inline constexpr std::size_t ETHERNET_STATUS_REPLY_LENGTH = 5;
// Bytes of a flash reply: "A0708" and eight digits.
inline constexpr std::size_t ETHERNET_FLASH_REPLY_LENGTH = 13;

using StatusBytes = std::array<std::uint8_t, STATUS_BUFFER_SIZE>;

class PrinterIo {
public:
    // The diagnostics lines go to `status` (the window's list, or a front
    // end's own log).
    PrinterIo(AppState& state, MorlixLibrary& library, OperatorPrompts& prompts, StatusLog& status);

    // The fixed waits go through this (milliseconds); tests may count them.
    void setSleep(std::function<void(int)> sleep) { sleep_ = std::move(sleep); }
    void sleepMs(int milliseconds) { sleep_(milliseconds); }

    // Appends a line at the end of the diagnostics list (shown or hidden).
    void addStatusLine(const QString& line);
    // Selects the newest line of the diagnostics list so that it shows.
    void SelectLastStatusLine();
    void clearStatus();

    // Writes the bytes (at most LARGEST_WRITE of them) to the printer link
    // in use, in one write; true when the write succeeded.
    [[nodiscard]] bool send(std::span<const std::uint8_t> bytes);

    // One status read; the local port, or "<SS>" on the socket over TCP.
    // Bytes that did not arrive read as 0. True when the read succeeded.
    [[nodiscard]] bool readStatus(StatusBytes& status, std::int32_t& byteCount);
    bool GetPrinterBusy();
    // Free flash reported over TCP; nothing when no usable reply came. A printer that
    // does not answer is reported to the operator once per command: later
    // reads in the same command ask once, quietly. A request the printer
    // does not take ends the read at once.
    [[nodiscard]] std::optional<std::int32_t> readFlashSpaceEthernet();
    // A new command starts: the next unanswered flash query is reported again.
    void startCommand() { flashFailureReported_ = false; }

private:
    // Reads into `buffer` until `wanted` bytes have come or the deadline
    // passes (the library bounds each read); the number of bytes read.
    std::size_t readReply(std::uint8_t* buffer, std::size_t capacity, std::size_t wanted, int deadlineMs);

    AppState& state_;
    MorlixLibrary& library_;
    OperatorPrompts& prompts_;
    StatusLog& status_;
    std::function<void(int)> sleep_;
    bool flashFailureReported_ = false;
};

// The flash reply "A0708" followed by eight digits; the digits, or nothing
// when the reply does not start with "A0708".
std::optional<QByteArray> flashReplyField(const std::uint8_t* reply, std::size_t length);
// Reads a number the lenient way: blanks skipped, digits up to the first
// other character; an empty or non-numeric text gives 0.
std::int64_t lenientDecimal(const QByteArray& text);

}  // namespace velquin
