#include "converted_soft_font.h"

#include <array>

namespace velquin::preview {
namespace {

constexpr std::size_t TABLE_BYTES = 4096;
constexpr std::size_t ENTRY_BYTES = 16;
constexpr std::uint8_t ESC = 0x1B;
// "<SL" and five numbers of at most ten digits each fit well within this.
constexpr std::size_t MAX_HEADER_TEXT = 64;

std::uint16_t word(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// Reads "<SL" and five comma-separated decimal numbers ending in ">"; gives
// the header's length, or 0 when it is not one.
std::size_t readHeader(std::span<const std::uint8_t> file, std::array<std::uint64_t, 5>& numbers) {
    if (file.size() < 3 || file[0] != '<' || file[1] != 'S' || file[2] != 'L') return 0;
    std::size_t at = 3;
    for (std::size_t n = 0; n < numbers.size(); ++n) {
        const std::size_t start = at;
        numbers[n] = 0;
        while (at < file.size() && at < MAX_HEADER_TEXT && file[at] >= '0' && file[at] <= '9' &&
               at - start < 10)
            numbers[n] = numbers[n] * 10 + (file[at++] - '0');
        if (at == start || at >= file.size()) return 0;
        const char expected = n + 1 < numbers.size() ? ',' : '>';
        if (file[at++] != expected) return 0;
    }
    return at;
}

}  // namespace

std::optional<ConvertedSoftFont> ConvertedSoftFont::decode(std::span<const std::uint8_t> file,
                                                           QString& error) {
    std::array<std::uint64_t, 5> numbers{};
    const std::size_t header = readHeader(file, numbers);
    if (header == 0) {
        error = QStringLiteral("The converted font does not start with its \"<SL\" header");
        return std::nullopt;
    }
    const std::uint64_t length = numbers[4];
    if (numbers[0] > 0xFFFF || numbers[1] > 0xFFFF || numbers[3] > 0xFFFF || length < TABLE_BYTES ||
        file.size() - header < 2 || length != file.size() - header - 2 || file[header] != ESC ||
        file.back() != ESC) {
        error = QStringLiteral("The converted font's header does not match its length");
        return std::nullopt;
    }

    ConvertedSoftFont font;
    font.cellWidth_ = static_cast<int>(numbers[0]);
    font.cellHeight_ = static_cast<int>(numbers[1]);
    font.characterCount_ = static_cast<long>(numbers[2]);
    font.pitch_ = static_cast<int>(numbers[3]);
    const auto image = file.subspan(header + 1, length);
    for (int code = 0; code < 256; ++code) {
        const std::size_t at = ENTRY_BYTES * static_cast<std::size_t>(code);
        ConvertedGlyph glyph{code,
                             static_cast<std::uint32_t>(word(image, at)) << 16 | word(image, at + 2),
                             word(image, at + 4),
                             word(image, at + 6),
                             static_cast<std::int16_t>(word(image, at + 8)),
                             word(image, at + 10)};
        if (glyph.position == 0 && glyph.width == 0 && glyph.words == 0 && glyph.leftOffset == 0 &&
            glyph.escapement == 0)
            continue;
        const std::uint64_t cellBytes = std::uint64_t{2} * static_cast<std::uint64_t>(glyph.words) *
                                        static_cast<std::uint64_t>(font.cellHeight_);
        if (glyph.position < TABLE_BYTES || glyph.position + cellBytes > length) {
            error =
                QStringLiteral("The converted font's entry of character %1 points past its cells").arg(code);
            return std::nullopt;
        }
        font.glyphs_.push_back(glyph);
    }
    font.image_.assign(image.begin(), image.end());
    return font;
}

bool ConvertedSoftFont::dot(const ConvertedGlyph& glyph, int row, int column) const {
    const std::size_t at = glyph.position + static_cast<std::size_t>(row) * glyph.words * 2 +
                           static_cast<std::size_t>(column / 8);
    return (image_[at] & (0x80 >> (column % 8))) != 0;
}

}  // namespace velquin::preview
