// Builds PCL bitmap soft fonts byte by byte for tests, benchmarks and fuzz
// seeds, and reads converted files back without the library's help.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velquin::testing {

inline void appendWord(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

// The PCL font descriptor, `length` bytes long (shorter ones lose the tail).
struct FontDescriptor {
    int length = 64;
    std::uint8_t headerFormat = 0;
    std::uint8_t fontType = 0;
    std::uint16_t style = 0;
    std::uint16_t baseline = 24;
    std::uint16_t cellWidth = 40;
    std::uint16_t cellHeight = 30;
    std::uint8_t orientation = 0;
    std::uint8_t spacing = 0;
    std::uint16_t pitch = 96;
    std::int8_t widthType = 0;
    std::int8_t strokeWeight = 0;
    std::string name = "Test";

    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out;
        appendWord(out, static_cast<unsigned>(length));
        out.push_back(headerFormat);
        out.push_back(fontType);
        out.push_back(static_cast<std::uint8_t>(style >> 8));
        out.push_back(0);
        appendWord(out, baseline);
        appendWord(out, cellWidth);
        appendWord(out, cellHeight);
        out.push_back(orientation);
        out.push_back(spacing);
        appendWord(out, 0);
        appendWord(out, pitch);
        appendWord(out, 0);
        appendWord(out, 0);
        out.push_back(static_cast<std::uint8_t>(widthType));
        out.push_back(static_cast<std::uint8_t>(style));
        out.push_back(static_cast<std::uint8_t>(strokeWeight));
        out.resize(48, 0);
        out.insert(out.end(), name.begin(), name.end());
        out.resize(static_cast<std::size_t>(length), 0);
        return out;
    }
};

// One character record. `rows` draws the bitmap: '#' is a dot.
struct Glyph {
    int code = 65;
    std::int16_t leftOffset = 0;
    std::int16_t topOffset = 20;
    std::uint16_t width = 0;                // 0: the width of the first row
    std::optional<std::uint16_t> height{};  // default: the number of rows
    std::uint16_t deltaX = 48;
    std::vector<std::string> rows{};
    std::optional<std::vector<std::uint8_t>> bitmap{};  // raw bitmap instead of rows
    std::optional<std::string> lengthDigits{};          // character data length as written
    std::uint8_t format = 4;
    std::uint8_t descriptorSize = 14;

    std::uint16_t widthBits() const {
        return width != 0 || rows.empty() ? width : static_cast<std::uint16_t>(rows[0].size());
    }

    std::vector<std::uint8_t> bitmapBytes() const {
        if (bitmap) return *bitmap;
        const std::size_t rowBytes = (widthBits() + 7u) / 8;
        std::vector<std::uint8_t> out(rowBytes * rows.size(), 0);
        for (std::size_t r = 0; r < rows.size(); ++r)
            for (std::size_t c = 0; c < rows[r].size() && c < rowBytes * 8; ++c)
                if (rows[r][c] == '#')
                    out[r * rowBytes + c / 8] |= static_cast<std::uint8_t>(0x80 >> (c % 8));
        return out;
    }
};

class SoftFontBuilder {
public:
    explicit SoftFontBuilder(const FontDescriptor& descriptor = {}, std::string_view lengthDigits = {}) {
        const auto body = descriptor.bytes();
        raw("\x1b)s" + (lengthDigits.empty() ? std::to_string(body.size()) : std::string(lengthDigits)) +
            "W");
        bytes_.insert(bytes_.end(), body.begin(), body.end());
    }

    SoftFontBuilder& raw(std::string_view text) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return *this;
    }

    SoftFontBuilder& character(const Glyph& glyph) {
        const auto bitmap = glyph.bitmapBytes();
        raw("\x1b*c" + std::to_string(glyph.code) + "E");
        raw("\x1b(s" + glyph.lengthDigits.value_or(std::to_string(bitmap.size() + 16)) + "W");
        bytes_.push_back(glyph.format);
        bytes_.push_back(0);
        bytes_.push_back(glyph.descriptorSize);
        bytes_.push_back(1);
        bytes_.push_back(0);
        bytes_.push_back(0);
        appendWord(bytes_, static_cast<std::uint16_t>(glyph.leftOffset));
        appendWord(bytes_, static_cast<std::uint16_t>(glyph.topOffset));
        appendWord(bytes_, glyph.widthBits());
        appendWord(bytes_, glyph.height.value_or(static_cast<std::uint16_t>(glyph.rows.size())));
        appendWord(bytes_, glyph.deltaX);
        bytes_.insert(bytes_.end(), bitmap.begin(), bitmap.end());
        return *this;
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// A converted file read back: its header numbers, offset table and cells.
struct ConvertedFont {
    struct Entry {
        std::uint32_t position = 0;
        std::uint16_t width = 0, words = 0, leftOffset = 0, escapement = 0;
        bool empty() const {
            return position == 0 && width == 0 && words == 0 && leftOffset == 0 && escapement == 0;
        }
    };

    long cellWidth = 0, cellHeight = 0, count = 0, pitch = 0, length = 0;
    std::vector<std::uint8_t> image;  // offset table and cells: `length` bytes

    std::uint16_t word(std::size_t at) const {
        return static_cast<std::uint16_t>(image.at(at) << 8 | image.at(at + 1));
    }

    Entry entry(int code) const {
        const std::size_t at = 16 * static_cast<std::size_t>(code);
        return {static_cast<std::uint32_t>(word(at)) << 16 | word(at + 2), word(at + 4), word(at + 6),
                word(at + 8), word(at + 10)};
    }

    // Dot `column` of cell row `row` of the character with that code.
    bool dot(int code, long row, long column) const {
        const Entry e = entry(code);
        const std::size_t at =
            e.position + static_cast<std::size_t>(row) * e.words * 2 + static_cast<std::size_t>(column / 8);
        return (image.at(at) & (0x80 >> (column % 8))) != 0;
    }

    // The cell as text rows, '#' for a dot, `words` × 16 columns wide.
    std::vector<std::string> cellRows(int code) const {
        const Entry e = entry(code);
        std::vector<std::string> rows{};
        for (long r = 0; r < cellHeight; ++r) {
            std::string row;
            for (long c = 0; c < e.words * 16L; ++c) row += dot(code, r, c) ? '#' : '.';
            rows.push_back(row);
        }
        return rows;
    }

    // Reads a converted file; nullopt when its framing is not "<SL" five
    // numbers ">" ESC, `length` bytes, ESC, or a table entry points past the data.
    static std::optional<ConvertedFont> read(std::span<const std::uint8_t> file) {
        ConvertedFont font;
        const std::string text(
            file.begin(), file.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(file.size(), 64)));
        int consumed = 0;
        if (std::sscanf(text.c_str(), "<SL%ld,%ld,%ld,%ld,%ld>%n", &font.cellWidth, &font.cellHeight,
                        &font.count, &font.pitch, &font.length, &consumed) != 5 ||
            consumed == 0)
            return std::nullopt;
        const std::size_t header = static_cast<std::size_t>(consumed);
        if (font.length < 4096 || file.size() != header + static_cast<std::size_t>(font.length) + 2 ||
            file[header] != 0x1B || file.back() != 0x1B)
            return std::nullopt;
        font.image.assign(file.begin() + static_cast<std::ptrdiff_t>(header) + 1, file.end() - 1);
        for (int code = 0; code < 256; ++code) {
            const Entry e = font.entry(code);
            if (e.empty()) continue;
            if (e.position < 4096 ||
                e.position + static_cast<std::size_t>(e.words) * 2 * font.cellHeight > font.image.size())
                return std::nullopt;
        }
        return font;
    }
};

// The character records of a soft font as written, read without the
// library: code, descriptor fields and bitmap. Stops at the first byte that
// does not start a well-formed record.
struct SoftFontRecord {
    int code = 0;
    std::int16_t leftOffset = 0, topOffset = 0;
    std::uint16_t width = 0, height = 0, deltaX = 0;
    std::vector<std::uint8_t> bitmap;

    bool dot(long row, long column) const {
        const std::size_t at =
            static_cast<std::size_t>(row) * ((width + 7u) / 8) + static_cast<std::size_t>(column / 8);
        return at < bitmap.size() && (bitmap[at] & (0x80 >> (column % 8))) != 0;
    }
};

inline std::vector<SoftFontRecord> readSoftFontRecords(std::span<const std::uint8_t> font) {
    std::vector<SoftFontRecord> records;
    std::size_t at = 0;
    const auto number = [&](std::string_view prefix, char end, long& value) {
        if (font.size() - at < prefix.size() ||
            !std::equal(prefix.begin(), prefix.end(), font.begin() + static_cast<std::ptrdiff_t>(at)))
            return false;
        at += prefix.size();
        value = 0;
        while (at < font.size() && font[at] >= '0' && font[at] <= '9')
            value = value * 10 + (font[at++] - '0');
        return at < font.size() && font[at++] == end;
    };
    long descriptorLength = 0;
    if (!number("\x1b)s", 'W', descriptorLength)) return records;
    at += static_cast<std::size_t>(descriptorLength);
    long code = 0, length = 0;
    while (at < font.size() && number("\x1b*c", 'E', code) && number("\x1b(s", 'W', length)) {
        if (length < 16 || font.size() - at < static_cast<std::size_t>(length)) break;
        const auto word = [&](std::size_t offset) {
            return static_cast<std::uint16_t>(font[at + offset] << 8 | font[at + offset + 1]);
        };
        SoftFontRecord record;
        record.code = static_cast<int>(code % 256);
        record.leftOffset = static_cast<std::int16_t>(word(6));
        record.topOffset = static_cast<std::int16_t>(word(8));
        record.width = word(10);
        record.height = word(12);
        record.deltaX = word(14);
        record.bitmap.assign(font.begin() + static_cast<std::ptrdiff_t>(at) + 16,
                             font.begin() + static_cast<std::ptrdiff_t>(at) + length);
        records.push_back(std::move(record));
        at += static_cast<std::size_t>(length);
    }
    return records;
}

}  // namespace velquin::testing
