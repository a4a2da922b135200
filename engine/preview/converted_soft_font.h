// The printer's own soft font file, decoded for display. Layout:
//
//   "<SLw,h,n,p,L>" ESC | offset table (4096 bytes) | cells | ESC
//
// w x h is the cell in dots, n the characters built, p the pitch in quarter
// dots and L the bytes of the table and the cells together. The table has
// 256 entries of 16 bytes, entry c at byte 16 * c: a 32-bit cell position
// counted from the table's first byte, then 16-bit width in dots, row width
// in 16-bit words, left offset and escapement, all big-endian; an unused
// entry is zero. A cell is h rows of that many words, high byte first, the
// leftmost dot in the most significant bit.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velquin::preview {

struct ConvertedGlyph {
    int code = 0;
    std::uint32_t position = 0;  // from the start of the offset table
    int width = 0;               // dots
    int words = 0;               // 16-bit words per cell row
    int leftOffset = 0;
    int escapement = 0;  // dots
};

class ConvertedSoftFont {
public:
    // Decodes a converted file; nullopt with `error` set when its framing is
    // broken or a table entry points past the cells.
    static std::optional<ConvertedSoftFont> decode(std::span<const std::uint8_t> file, QString& error);

    int cellWidth() const { return cellWidth_; }
    int cellHeight() const { return cellHeight_; }
    long characterCount() const { return characterCount_; }
    int pitch() const { return pitch_; }
    // The used entries, by code.
    const std::vector<ConvertedGlyph>& glyphs() const { return glyphs_; }

    // Whether dot `column` (0 to words * 16 - 1) of row `row` is set.
    bool dot(const ConvertedGlyph& glyph, int row, int column) const;

private:
    int cellWidth_ = 0;
    int cellHeight_ = 0;
    long characterCount_ = 0;
    int pitch_ = 0;
    std::vector<ConvertedGlyph> glyphs_;
    std::vector<std::uint8_t> image_;  // the offset table and the cells
};

}  // namespace velquin::preview
