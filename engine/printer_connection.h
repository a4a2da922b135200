// The printer as the upload, the flash commands and the test tickets see it:
// status reads, flash queries, writes and file transfers over whichever link
// the printer was found on (local handle, TCP socket, or none in demo mode),
// and the flash-toggle handshake built on them.
#pragma once

#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <span>

namespace velquin {

struct AppState;
class MorlixLibrary;
class OperationView;
class PrinterIo;

// Status bytes 0 to 4 of one status read (bytes that did not come read 0).
struct PrinterStatus {
    bool read = false;  // the printer answered
    std::int32_t byteCount = 0;
    std::array<std::uint8_t, 5> bytes{};

    bool busy() const;
    int flashToggle() const;
};

struct FlashSpace {
    std::int32_t freeBytes = 0;   // 0 when the printer did not answer
    std::int32_t resultCode = 0;  // of the library's local query; 0 over TCP
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
    virtual bool send(std::span<const std::uint8_t> bytes) = 0;
    // Streams a file in chunks, with the transfer's diagnostics lines.
    virtual FileTransfer sendFile(const QString& path, OperationView& view) = 0;
};

// The flash toggle bit: 0 or 1 (0 when the read failed).
int readFlashToggle(PrinterConnection& printer);

// Streams a file through the connection with the transfer's lines:
// "Writing file ", the size, then one chunk of up to 8,192 bytes at a time.
// Stops at the first chunk the printer does not take.
FileTransfer streamFileToPrinter(const QString& path, std::span<std::uint8_t> chunkBuffer,
                                 PrinterConnection& printer, OperationView& view);

enum class ToggleWait {
    Changed,      // the printer has finished writing its flash
    TimedOut,     // no toggle change and no busy report for the whole time-out
    Cancelled,    // the operator pressed Cancel
    PrinterGone,  // a status read failed
};

inline constexpr std::chrono::milliseconds TOGGLE_WAIT_TIMEOUT{60'000};

// Waits until the flash toggle differs from `initialToggle`, adding
// `waitingLine` for every read that finds it unchanged. The time-out starts
// again each time the printer reports busy (it is still writing).
ToggleWait waitForToggleChange(PrinterConnection& printer, OperationView& view, int initialToggle,
                               const QString& waitingLine,
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
    FlashSpace readFlashSpace() override { return {freeFlash_, 0}; }
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
};

}  // namespace velquin
