#include "query_protocol.h"

#include <algorithm>
#include <cstring>

#include "morlix/morlix.h"
#include "morlix/printer_codes.h"
#include "platform/debug_output.h"
#include "platform/device_io.h"
#include "platform/sleep.h"
#include "printer_data.h"

namespace morlix {

using platform::debugOutput;
using platform::debugPrintf;

namespace {

// The flash-space request: escape, "I", "A", bell.
constexpr std::uint8_t FLASH_SPACE_REQUEST[] = {0x1B, 0x49, 0x41, 0x07};
constexpr int FLASH_QUERY_ATTEMPTS = 3;
constexpr std::size_t FLASH_DIGITS_OFFSET = 5;
// Answers a driver and the printer may hold from before a request.
constexpr int ANSWERS_READ_AHEAD = 3;
// The three fixed pauses of a status exchange.
constexpr std::uint32_t EXCHANGE_PAUSES_MS = 300;

// Each received byte on a line of its own, as hex and as a character.
void logBytesWithCharacters(std::span<const std::uint8_t> bytes) {
    if (!platform::debugListening()) return;
    for (std::uint8_t byte : bytes) debugPrintf("%2.2X %c", byte, byte);
}

bool isBusy(const std::uint8_t* status) {
    return (status[morlix::STATUS_FLAGS_BYTE] & morlix::STATUS_BUSY_BIT) != 0;
}

}  // namespace

std::int64_t parseDecimalPrefix(std::span<const std::uint8_t> text) {
    std::size_t i = 0;
    auto isSpace = [](std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr std::int64_t SATURATED = INT64_C(1) << 40;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min(SATURATED, value * 10 + (text[i] - '0'));
    return negative ? -value : value;
}

std::optional<std::int64_t> flashSpaceFromReply(std::span<const std::uint8_t> reply) {
    if (reply.empty() || reply[0] != 'A') return std::nullopt;
    if (reply.size() <= FLASH_DIGITS_OFFSET) return 0;
    return parseDecimalPrefix(reply.subspan(FLASH_DIGITS_OFFSET));
}

int GetPrinterStatusData(std::int32_t handle, std::uint8_t* buffer, std::int32_t* byteCount,
                         std::uint8_t specificRequest, const std::uint8_t* request,
                         std::uint8_t requestLength, std::size_t* bytesInBuffer) {
    std::size_t held = 0;
    auto report = [&](int result) {
        if (bytesInBuffer) *bytesInBuffer = held;
        return result;
    };
    const std::span<std::uint8_t> status(buffer, STATUS_BUFFER_SIZE);

    debugPrintf("GetPrinterStatusData - entry, printer handle = %X\r\n", handle);
    // The whole exchange, its fixed pauses included, has one deadline: a
    // device that answers slowly piece by piece cannot stretch it.
    const platform::Deadline deadline =
        platform::deadlineIn(platform::readLimitMs(handle, STATUS_BUFFER_SIZE) + EXCHANGE_PAUSES_MS);
    debugOutput("GetPrinterStatusData - Read number 1");
    platform::IoResult read = platform::handleRead(handle, status, deadline);
    if (!read.ok) {
        debugOutput("GetPrinterStatusData - Read number 1 Failed");
        return report(STATUS_READ_FAILED);
    }
    held = read.bytes;

    platform::sleepMs(100);
    debugOutput("GetPrinterStatusData - Read number 2");
    read = platform::handleRead(handle, status, deadline);
    if (!read.ok) {
        debugOutput("GetPrinterStatusData - Read number 2 Failed");
        return report(STATUS_READ_FAILED);
    }
    held = read.bytes;
    debugOutput("GetPrinterStatusData - Read 1 and 2 passed");

    if (specificRequest == 0) {
        if (byteCount) *byteCount = static_cast<std::int32_t>(read.bytes);
        debugPrintf("Read File passed, bytes read pStatusBytes = %d, - %2.2X %2.2X %2.2X %2.2X %2.2X",
                    static_cast<int>(read.bytes), buffer[0], buffer[1], buffer[2], buffer[3], buffer[4]);
        debugOutput(isBusy(buffer) ? "Busy" : "Not Busy");
        return report(STATUS_READ_OK);
    }

    if (isBusy(buffer)) {
        debugOutput("GetPrinterStatusData - Printer Busy cannot request status");
        return report(STATUS_READ_BUSY);
    }

    platform::sleepMs(100);
    // The request may be shorter than four bytes: log what is there, 0 for the rest.
    std::uint8_t shown[4] = {};
    if (request) std::copy_n(request, std::min<std::size_t>(requestLength, 4), shown);
    debugPrintf("GetPrinterStatusData - Write specific status string %X , %X %X %X %X\r\n", requestLength,
                shown[0], shown[1], shown[2], shown[3]);
    const std::span<const std::uint8_t> requestBytes(request, request ? requestLength : 0);
    platform::IoResult written = platform::handleWrite(handle, requestBytes, deadline);
    if (!written.ok) {
        debugPrintf("GetPrinterStatusData - Writing status string failed error = %d %X\r\n", written.error,
                    written.error);
        return report(STATUS_READ_FAILED);
    }

    platform::sleepMs(100);
    debugOutput("GetPrinterStatusData - Read number status after writing request");
    // The Linux USB printer driver fetches the printer's next answer as soon
    // as the last one was read, and the printer may hold one more: the first
    // answers after the request can be its status from before it. An answer
    // equal to the status just read is such a one; the reply follows it.
    std::uint8_t statusBefore[STATUS_BUFFER_SIZE];
    const std::size_t statusBeforeSize = held;
    std::memcpy(statusBefore, buffer, statusBeforeSize);
    for (int aheadSkipped = 0;; ++aheadSkipped) {
        std::memset(buffer, 0, 32);
        held = 0;
        read = platform::handleRead(handle, status, deadline);
        if (!read.ok) return report(STATUS_READ_FAILED);
        held = read.bytes;
        const bool statusAgain =
            held == statusBeforeSize && std::memcmp(buffer, statusBefore, statusBeforeSize) == 0;
        if (!statusAgain || aheadSkipped == ANSWERS_READ_AHEAD) break;
        debugOutput("GetPrinterStatusData - status read ahead of the request skipped");
    }
    logBytesWithCharacters(status.first(read.bytes));
    if (byteCount) *byteCount = static_cast<std::int32_t>(read.bytes);
    return report(STATUS_READ_OK);
}

}  // namespace morlix

using morlix::platform::debugOutput;
using morlix::platform::debugPrintf;

extern "C" int32_t GetPrinterStatusDataVB(int32_t handle, uint8_t* statusBuffer, int32_t* statusByteCount,
                                          uint8_t specificRequest, const uint8_t* request,
                                          uint8_t requestLength) {
    debugOutput("GetPrinterStatusDataVB - entry");
    if (statusBuffer == nullptr || statusByteCount == nullptr) {
        debugOutput("GetPrinterStatusDataVB - failed");
        return 1;
    }
    if (specificRequest != 0) debugPrintf("Specific status request, request length = %d\r\n", requestLength);
    std::size_t held = 0;
    int result = morlix::GetPrinterStatusData(handle, statusBuffer, statusByteCount, specificRequest, request,
                                              requestLength, &held);
    if (result == morlix::STATUS_READ_FAILED) {
        debugOutput("GetPrinterStatusDataVB - failed");
        return 1;
    }
    if (result == morlix::STATUS_READ_BUSY) debugOutput("specific status requested but printer was busy");
    debugPrintf("GetPrinterStatusDataVB - number of status bytes = %d", *statusByteCount);
    // The count may be stale after a refused request: dump only what was read.
    const std::size_t claimed = *statusByteCount > 0 ? static_cast<std::size_t>(*statusByteCount) : 0;
    const std::size_t shown = std::min({claimed, held, morlix::STATUS_BUFFER_SIZE});
    if (morlix::platform::debugListening())
        for (std::size_t i = 0; i < shown; ++i) debugPrintf("%2.2X ", statusBuffer[i]);
    return 0;
}

extern "C" int32_t GetFlashSpaceRemainingVB(int32_t* freeFlashBytes) {
    static std::uint8_t statusBuffer[morlix::STATUS_BUFFER_SIZE];
    debugOutput("Get Flash space entry ***********************************");
    // Without a printer there is nothing to wait for between attempts.
    const bool havePrinter = morlix::platform::isPrinterHandle(morlix::printerHandle);
    for (int attempt = 0; attempt < morlix::FLASH_QUERY_ATTEMPTS; ++attempt) {
        debugPrintf("====== Get flash space query = %d ======", attempt);
        std::memset(statusBuffer, 0, sizeof statusBuffer);
        std::int32_t count = 0;
        std::size_t held = 0;
        int result = morlix::GetPrinterStatusData(morlix::printerHandle, statusBuffer, &count, 1,
                                                  morlix::FLASH_SPACE_REQUEST,
                                                  sizeof morlix::FLASH_SPACE_REQUEST, &held);
        debugPrintf("Status byte length = %d", count);
        const std::span<const std::uint8_t> reply(statusBuffer, held);
        if (result == morlix::STATUS_READ_OK && statusBuffer[0] == 'A') {
            debugPrintf("GetFlashSpaceRemainingVB - Passed, bytes received = %d", count);
            morlix::logBytesWithCharacters(reply);
            const std::int64_t value = morlix::flashSpaceFromReply(reply).value_or(0);
            const bool plausible = value >= 0 && value < morlix::FLASH_READING_LIMIT;
            if (freeFlashBytes) *freeFlashBytes = plausible ? static_cast<int32_t>(value) : 0;
            if (plausible) {
                debugPrintf("Flash space remaining new less than 9000000 = %i", static_cast<int>(value));
                return 0;
            }
        } else if (result == morlix::STATUS_READ_OK) {
            debugOutput("Bad return code from status read");
        }
        if (statusBuffer[0] != 'A')
            debugPrintf("Incorrect status return code from printer, not A = %c", statusBuffer[0]);
        if (havePrinter) morlix::platform::sleepMs(250);
        debugOutput("GetFlashSpaceRemainingVB - bad read retry");
    }
    if (freeFlashBytes) *freeFlashBytes = 0;
    return 0;
}
