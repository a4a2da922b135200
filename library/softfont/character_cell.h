// Character cells: every character placed in a cell of the font's common
// height, rows of whole 16-bit words, located by the offset table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "byte_source.h"
#include "font_summary.h"
#include "report.h"

namespace morlix::softfont {

// Room for 256 cells of the font's cell width and height plus the offset
// table; the image grows past it when a font needs more.
std::size_t downloadImageCapacity(const FontSummary& summary);

// Allocates the zeroed master download image; false when that fails.
bool allocateDownloadImage(FontSummary& summary);

enum class CellOutcome {
    Built,
    NotBuilt,   // the character was not added; the font ends before it
    ImageFull,  // the image cannot hold it; the conversion fails
};

// Adds one character whose bitmap follows in `input`: creates the blank
// space first when the font has none yet, writes the character's offset
// table entry and appends its cell. A character that cannot be built leaves
// the table and the count as they were.
CellOutcome adjustCGEntry(ByteSource& input, const CGEntry& entry, FontSummary& summary,
                          const Report& report);

// Appends the character's cell: `cellHeight` rows, its bitmap rows placed
// from its top offset, rows outside the cell dropped. The space stays blank.
// False when the image cannot grow to hold it.
bool buildCharacterCell(const CGEntry& entry, std::span<const std::uint8_t> bitmap, FontSummary& summary,
                        std::size_t& cellStart);

}  // namespace morlix::softfont
