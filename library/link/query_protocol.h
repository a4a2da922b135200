// The printer query protocol on a local printer handle: status reads,
// specific status requests and the flash-space query.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace morlix {

inline constexpr std::size_t STATUS_BUFFER_SIZE = 512;
inline constexpr std::int32_t FLASH_READING_LIMIT = 9000000;

// Results of GetPrinterStatusData.
enum StatusReadResult : int {
    STATUS_READ_OK = 0,
    STATUS_READ_BUSY = 1,    // a specific request was refused: the printer is busy
    STATUS_READ_FAILED = 2,  // a read or write failed
};

// Reads the status of a local printer twice (the second read is the status)
// and, when `specificRequest` is non-zero, sends `request` and reads its
// reply. `buffer` must hold STATUS_BUFFER_SIZE bytes. `bytesInBuffer`, when
// given, receives how many bytes the last read left in the buffer, whether
// or not the count was written.
int GetPrinterStatusData(std::int32_t handle, std::uint8_t* buffer, std::int32_t* byteCount,
                         std::uint8_t specificRequest, const std::uint8_t* request,
                         std::uint8_t requestLength, std::size_t* bytesInBuffer = nullptr);

// The free flash in a flash reply: decimal digits from byte 5 on (white
// space and a sign allowed before them), read no further than the reply.
// nullopt when byte 0 is not "A".
std::optional<std::int64_t> flashSpaceFromReply(std::span<const std::uint8_t> reply);

// Reads a decimal integer as the C library does (leading white space, an
// optional sign, digits up to the first other byte), within `text` only;
// saturates instead of overflowing.
std::int64_t parseDecimalPrefix(std::span<const std::uint8_t> text);

}  // namespace morlix
