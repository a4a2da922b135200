// The character records that follow the font descriptor: the character code
// command, the character data command and the PCL character descriptor.
#pragma once

#include <cstdint>

#include "byte_source.h"
#include "font_summary.h"
#include "report.h"

namespace morlix::softfont {

inline constexpr std::int32_t CHARACTER_DESCRIPTOR_BYTES = 16;

// Recognises ESC * c <digits> E. Gives 0 with the code (modulo 256), 26 at
// the end of the file, or a conversion result code 20 to 24.
std::int32_t readCharacterNumber(ByteSource& input, std::uint8_t& code, const Report& report);

// Recognises ESC ( s <digits> W and gives the length of the character data.
bool getCharacterGeneratorLength(ByteSource& input, std::int32_t& length);

// Reads and checks the 16-byte character descriptor and fills `entry`
// (all but dataLength); keeps the highest code in `summary.lastCode`.
bool readCharacterHeader(ByteSource& input, std::uint8_t code, CGEntry& entry, FontSummary& summary);

}  // namespace morlix::softfont
