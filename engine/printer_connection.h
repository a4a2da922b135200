// The printer as the upload, the flash commands and the test tickets see it:
// status reads, flash queries, writes and file transfers over whichever link
// the printer was found on (local handle, TCP socket, or none in demo mode),
// and the flash-toggle handshake built on them.
#pragma once

#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace velquin {

struct AppState;
class MorlixLibrary;
class OperationView;
class PrinterIo;

// Status bytes 0 to 4 of one status read (bytes that did not come read 0).
struct [[nodiscard]] PrinterStatus {
    bool read = false;  // the printer answered
    std::int32_t byteCount = 0;
    std::array<std::uint8_t, 5> bytes{};

    bool busy() const;
    int flashToggle() const;
};

struct [[nodiscard]] FlashSpace {
    std::int32_t freeBytes = 0;   // 0 when the printer did not answer
    std::int32_t resultCode = 0;  // of the library's local query; 0 over TCP
    // A usable reading came. The library's local query gives 0 both for no
    // answer and for a full flash, so a 0 there counts as no reading.
    bool read = false;

    std::optional<std::int64_t> known() const {
        if (!read) return std::nullopt;
        return freeBytes;
    }
};

enum class FileTransfer {
    Sent,
    Unreadable,   // the file could not be opened or read
    PrinterGone,  // a write failed: the printer no longer takes data
};

class PrinterConnection {
public:
    virtual ~PrinterConnection() = default;
    virtual bool isEthernet() const = 0;
    // A status read that reports itself in the diagnostics list; true when
    // the printer says it is busy. A failed read counts as not busy.
    virtual bool printerBusy() = 0;
    // One status read: the plain status of a local printer, "<SS>" over TCP.
    virtual PrinterStatus readStatus() = 0;
    // The printer's free flash, asked the way the link asks it.
    virtual FlashSpace readFlashSpace() = 0;
    // Writes the bytes (from the window's send buffer); false when the
    // printer did not take them all.
    [[nodiscard]] virtual bool send(std::span<const std::uint8_t> bytes) = 0;
    // Streams a file in chunks, with the transfer's diagnostics lines.
    [[nodiscard]] virtual FileTransfer sendFile(const QString& path, OperationView& view) = 0;

    // Told of every piece of a file the printer took, as it goes out: what
    // the ledger hashes, so it records the bytes sent, not the file as it
    // is on disk later.
    void tapFileBytes(std::function<void(std::span<const std::uint8_t>)> tap) { fileTap_ = std::move(tap); }
    void fileBytesTaken(std::span<const std::uint8_t> bytes) const {
        if (fileTap_) fileTap_(bytes);
    }

private:
    std::function<void(std::span<const std::uint8_t>)> fileTap_;
};

// A read status of a printer that is not busy, with the flash toggle bit
// set or not: what a printer that finishes every flash write at once gives.
PrinterStatus idleStatus(bool flashToggle);

// The flash toggle bit: 0 or 1 (0 when the read failed).
[[nodiscard]] int readFlashToggle(PrinterConnection& printer);

// Streams a file through the connection with the transfer's lines:
// "Writing file ", the size, then one chunk of up to 8,192 bytes at a time.
// Stops at the first chunk the printer does not take.
[[nodiscard]] FileTransfer streamFileToPrinter(const QString& path, std::span<std::uint8_t> chunkBuffer,
                                               PrinterConnection& printer, OperationView& view);

enum class ToggleWait {
    Changed,      // the printer has finished writing its flash
    TimedOut,     // no toggle change and no busy report for the whole time-out
    Cancelled,    // the operator pressed Cancel
    PrinterGone,  // a status read failed
};

inline constexpr std::chrono::milliseconds TOGGLE_WAIT_TIMEOUT{60'000};
// A status read that fails this many times in a row ends a flash wait; a
// single lost answer does not stop a healthy printer.
inline constexpr int STATUS_READ_ATTEMPTS = 3;
// The slowest flash the family is assumed to write (bytes a second): a file
// of N bytes may keep a printer that does not report busy writing for N /
// this rate seconds, which lengthens the wait when it exceeds the limit.
inline constexpr std::int64_t SLOWEST_FLASH_WRITE_RATE = 20'000;

// The flash wait's limit for a file of `fileSize` bytes.
std::chrono::milliseconds flashWaitLimit(std::chrono::milliseconds base, std::int64_t fileSize);

// Waits until the flash toggle differs from `initialToggle`, noting
// `waitingLine` for the reads that find it unchanged (repeats folded into one
// line with a count). The time-out starts again each time the printer reports
// busy (it is still writing); a failed read is tried again up to
// STATUS_READ_ATTEMPTS times in a row.
[[nodiscard]] ToggleWait waitForToggleChange(PrinterConnection& printer, OperationView& view,
                                             int initialToggle, const QString& waitingLine,
                                             std::chrono::milliseconds timeout = TOGGLE_WAIT_TIMEOUT);

// A printer that is not there: demo mode. Every write is dropped without
// touching a descriptor, the printer is never busy, finishes every flash
// write at once (each status read inverts the toggle) and reports a fixed
// free flash.
class DemoPrinterConnection final : public PrinterConnection {
public:
    explicit DemoPrinterConnection(std::int32_t freeFlash) : freeFlash_(freeFlash) {}
    bool isEthernet() const override { return false; }
    bool printerBusy() override { return false; }
    PrinterStatus readStatus() override;
    FlashSpace readFlashSpace() override { return {freeFlash_, 0, true}; }
    bool send(std::span<const std::uint8_t>) override { return true; }
    FileTransfer sendFile(const QString&, OperationView&) override { return FileTransfer::Sent; }

private:
    std::int32_t freeFlash_;
    bool toggle_ = false;
};

// The printer that discovery found, local or on the network, through the
// window's printer I/O and the library.
class LinkedPrinterConnection final : public PrinterConnection {
public:
    LinkedPrinterConnection(AppState& state, PrinterIo& io, MorlixLibrary& library)
        : state_(state), io_(io), library_(library) {}
    bool isEthernet() const override;
    bool printerBusy() override;
    PrinterStatus readStatus() override;
    FlashSpace readFlashSpace() override;
    bool send(std::span<const std::uint8_t> bytes) override;
    FileTransfer sendFile(const QString& path, OperationView& view) override;

private:
    AppState& state_;
    PrinterIo& io_;
    MorlixLibrary& library_;
    std::array<std::uint8_t, 8'192> chunk_{};
};

}  // namespace velquin
