// The PCL commands of a soft font, ESC, two fixed bytes, decimal digits and a
// terminating byte (ESC ) s 64 W, ESC * c 65 E, ESC ( s 784 W), read one byte
// at a time. Each caller reports the outcome in its own words.
#pragma once

#include <array>
#include <cstdint>

#include "byte_source.h"

namespace morlix::softfont {

struct PclCommand {
    enum class End {
        Complete,  // the terminating byte was read
        EndOfFile,
        ReadFailed,
        WrongByte,  // a byte that does not fit where it stands
        TooLong,    // the byte limit was reached before the terminating byte
    };

    End end = End::WrongByte;
    int matched = 0;             // 0 nothing yet, 1 ESC, 2 and the second byte, 3 and the third
    std::uint32_t value = 0;     // the digits' value, wrapping in 32 bits
    std::size_t digitCount = 0;  // digits kept in firstDigits
    std::array<std::uint8_t, 4> firstDigits{};
};

// Reads ESC `second` `third` digits `terminator`, at most `maxBytes` bytes
// (0: no limit).
PclCommand readPclCommand(ByteSource& input, std::uint8_t second, std::uint8_t third, std::uint8_t terminator,
                          int maxBytes);

}  // namespace morlix::softfont
