// The soft font's header: the font descriptor command at the start of the
// file, the descriptor itself, its report and the verdict on whether the
// ticket printers can use the font.
#pragma once

#include <cstdint>
#include <span>

#include "byte_source.h"
#include "font_summary.h"
#include "report.h"

namespace morlix::softfont {

// The longest font descriptor accepted is one byte less.
inline constexpr std::int32_t MAX_DESCRIPTOR_BYTES = 256;

// Recognises ESC ) s <up to three digits> W at the current position and
// gives the descriptor length.
bool readSoftFontHeader(ByteSource& input, std::int32_t& length, const Report& report);

// Hex dump of the descriptor, sixteen bytes a line.
void dumpHeaderBytes(std::span<const std::uint8_t> descriptor, const Report& report);

// Reports the descriptor, stores the font-wide values in `summary` and gives
// 0 when the font can be converted, else its conversion result code. Bytes
// the descriptor lacks (up to offset 47) count as zero.
std::int32_t displayFontHeaderInfo(std::span<const std::uint8_t> descriptor, FontSummary& summary,
                                   const Report& report);

// The header stage on an opened input: command, size limit, descriptor read,
// dump and verdict. Gives 0 or the conversion result code.
std::int32_t readFontHeader(ByteSource& input, FontSummary& summary, const Report& report);

}  // namespace morlix::softfont
