// The state of one conversion: the font-wide values, the character now being
// converted and the master download image that becomes the converted file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace morlix::softfont {

inline constexpr std::size_t OFFSET_TABLE_BYTES = 4096;
inline constexpr std::size_t OFFSET_ENTRY_BYTES = 16;
inline constexpr std::uint8_t ESC = 0x1B;

// No printer of the family has 9,000,000 bytes of flash free, so a converted
// file must stay below that; a font that needs more is refused before the
// cell that would pass the limit is allocated.
inline constexpr std::size_t MAX_CONVERTED_FILE_BYTES = 8'999'999;
// The image's share of that: the file adds the header text and two ESC bytes
// (never more than 65 bytes together).
inline constexpr std::size_t MAX_IMAGE_BYTES = MAX_CONVERTED_FILE_BYTES - 65;
// Room reserved at the start; a font whose descriptor asks for more grows the
// image as its characters arrive, so a hostile descriptor costs nothing.
inline constexpr std::size_t INITIAL_IMAGE_RESERVE = std::size_t{1} << 20;

inline constexpr std::uint16_t bytesForBits(std::uint16_t bits) {
    return static_cast<std::uint16_t>(bits / 8 + (bits % 8 != 0 ? 1 : 0));
}
inline constexpr std::uint16_t wordsForBits(std::uint16_t bits) {
    return static_cast<std::uint16_t>(bits / 16 + (bits % 16 != 0 ? 1 : 0));
}

// The master download image: the 4096-byte offset table followed by one cell
// image per converted character, with room kept in front for the converted
// file's header text so that framing it moves nothing.
class DownloadImage {
public:
    // Reserves room for `capacity` bytes (a hint: the image grows when a font
    // needs more) and lays down the zeroed offset table. False when memory fails.
    bool allocate(std::size_t capacity);

    // DLimageIndex: bytes in use, counted from the start of the offset table.
    std::size_t index() const { return bytes_.size() - HEADER_ROOM; }
    const std::uint8_t* data() const { return bytes_.data() + HEADER_ROOM; }

    std::span<std::uint8_t, OFFSET_ENTRY_BYTES> entry(std::uint8_t code) {
        return std::span<std::uint8_t, OFFSET_ENTRY_BYTES>(
            bytes_.data() + HEADER_ROOM + OFFSET_ENTRY_BYTES * code, OFFSET_ENTRY_BYTES);
    }

    // Appends `count` zero bytes and gives the index where they start, or
    // false when the image would grow past MAX_IMAGE_BYTES (overLimit() then
    // tells so) or memory fails.
    bool appendZeros(std::size_t count, std::size_t& start);
    bool overLimit() const { return overLimit_; }
    std::uint8_t* at(std::size_t index) { return bytes_.data() + HEADER_ROOM + index; }
    const std::uint8_t* at(std::size_t index) const { return bytes_.data() + HEADER_ROOM + index; }

    // Frames the image into the converted file: the header text and ESC in
    // front of the offset table, ESC after the last cell.
    void frame(std::string_view headerText);
    // The converted file, once framed.
    std::span<const std::uint8_t> file() const {
        return {bytes_.data() + fileStart_, bytes_.size() - fileStart_};
    }

private:
    static constexpr std::size_t HEADER_ROOM = 64;
    std::vector<std::uint8_t> bytes_;
    std::size_t fileStart_ = 0;
    bool overLimit_ = false;
};

// fontSummary: the font-wide values of one conversion.
struct FontSummary {
    std::uint16_t cellWidth = 0;
    std::uint16_t cellHeight = 0;  // every cell in the converted file is this many rows high
    std::uint16_t baseline = 0;    // rows from the top of the cell to the baseline
    std::uint16_t pitch = 0;       // quarter dots; the space's width in a proportional font
    bool spaceFound = false;       // a space has been read or created
    bool isSpace = false;          // the character now being converted is the space
    DownloadImage image;
    std::uint8_t lastCode = 0;         // highest character code read
    std::uint32_t characterCount = 0;  // entries built, a created space and repeated codes included
};

// CGEntry: the character now being converted, from its PCL character descriptor.
struct CGEntry {
    std::uint8_t code = 0;
    std::uint32_t dataLength = 0;  // bitmap bytes after the descriptor
    std::uint16_t leftOffset = 0;
    std::int16_t topOffset = 0;  // rows from the baseline up to the bitmap's top
    std::uint16_t height = 0;
    std::uint16_t widthBits = 0;
    std::uint16_t widthBytes = 0;  // bytes per bitmap row
    std::uint16_t widthWords = 0;  // 16-bit words per cell row
    std::uint16_t deltaX = 0;      // escapement in quarter dots
};

}  // namespace morlix::softfont
