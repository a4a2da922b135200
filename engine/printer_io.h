// The program's own printer I/O around the library's calls: open a file,
// stream it to the printer in 8,192-byte chunks over whichever link is in
// use, read the busy and flash toggle bits, ask a network printer for its
// free flash, and keep the diagnostics list scrolled to its newest line.
// The link itself (handle or socket) is opened by discovery and only used
// here.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "app_state.h"

class QListWidget;

namespace velquin {

class MorlixLibrary;
class OperatorPrompts;

inline constexpr std::size_t FILE_CHUNK_SIZE = 8'192;
inline constexpr std::size_t STATUS_BUFFER_SIZE = 513;  // indices 0 to 512
inline constexpr std::int32_t ETHERNET_FLASH_REPLY_CAPACITY = 1'024;
inline constexpr int ETHERNET_FLASH_ATTEMPTS = 21;
inline constexpr int ETHERNET_FLASH_WAIT_MS = 500;
inline constexpr int ETHERNET_STATUS_WAIT_MS = 200;

using StatusBytes = std::array<std::uint8_t, STATUS_BUFFER_SIZE>;

class PrinterIo {
public:
    PrinterIo(AppState& state, MorlixLibrary& library, OperatorPrompts& prompts, QListWidget& lstStatus);

    // The fixed waits go through this (milliseconds); tests may count them.
    void setSleep(std::function<void(int)> sleep) { sleep_ = std::move(sleep); }
    void sleepMs(int milliseconds) { sleep_(milliseconds); }

    // Appends a line at the end of the diagnostics list (shown or hidden).
    void addStatusLine(const QString& line);
    // Selects the newest line of the diagnostics list so that it shows.
    void SelectLastStatusLine();
    void clearStatus();

    // Opens the file for reading; its handle (-1 on failure) goes to FileHandle.
    bool GetFileHandle(const QString& filename);
    // Low 32 bits of the size of the file open in FileHandle; -1 when none is open.
    std::int32_t fileHandleSize() const;
    // Closes FileHandle and forgets it.
    void closeFileHandle();

    // Streams a file to the printer in 8,192-byte chunks through SendBuffer.
    bool WriteFileToPrinter(const QString& FileNameToWrite);
    // Writes bytes from the start of SendBuffer to the printer link in use;
    // true when the write succeeded.
    bool sendFromSendBuffer(std::size_t byteCount);

    // One status read; the local port, or "<SS>" on the socket over TCP.
    // Bytes that did not arrive read as 0. True when the read succeeded.
    bool readStatus(StatusBytes& status, std::int32_t& byteCount);
    bool GetPrinterBusy();
    int GetFlashToggle();
    // Free flash reported over TCP; 0 when no usable reply came.
    std::int32_t GetFlashSpaceRemainingVBEthernet();

private:
    AppState& state_;
    MorlixLibrary& library_;
    OperatorPrompts& prompts_;
    QListWidget& lstStatus_;
    std::function<void(int)> sleep_;
};

// The flash reply "A0708" followed by eight digits; the digits, or nothing
// when the reply does not start with "A0708".
std::optional<QByteArray> flashReplyField(const std::uint8_t* reply, std::size_t length);
// Reads a number the lenient way: blanks skipped, digits up to the first
// other character; an empty or non-numeric text gives 0.
std::int64_t lenientDecimal(const QByteArray& text);

}  // namespace velquin
