// A black-and-white picture at the printer's dots, packed as the printer's
// PCX lines are: one bit per dot, most significant bit first, a set bit is
// white, each line padded to an even number of bytes with white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velquin::image {

class MonoImage {
public:
    MonoImage() = default;
    // All white.
    MonoImage(int width, int height)
        : width_(width),
          height_(height),
          bytesPerLine_(((width + 15) / 16) * 2),
          bits_(static_cast<std::size_t>(bytesPerLine_) * static_cast<std::size_t>(height), 0xFF) {}

    int width() const { return width_; }
    int height() const { return height_; }
    int bytesPerLine() const { return bytesPerLine_; }
    bool isNull() const { return width_ <= 0 || height_ <= 0; }

    bool isBlack(int x, int y) const { return (line(y)[x >> 3] & (0x80 >> (x & 7))) == 0; }
    void setBlack(int x, int y, bool black) {
        std::uint8_t& byte = line(y)[x >> 3];
        const auto mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
        byte = black ? static_cast<std::uint8_t>(byte & ~mask) : static_cast<std::uint8_t>(byte | mask);
    }

    const std::uint8_t* line(int y) const {
        return bits_.data() + static_cast<std::size_t>(y) * bytesPerLine_;
    }
    std::uint8_t* line(int y) { return bits_.data() + static_cast<std::size_t>(y) * bytesPerLine_; }

    std::size_t blackCount() const {
        std::size_t count = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) count += isBlack(x, y) ? 1 : 0;
        return count;
    }

    bool operator==(const MonoImage&) const = default;

private:
    int width_ = 0;
    int height_ = 0;
    int bytesPerLine_ = 0;
    std::vector<std::uint8_t> bits_;
};

}  // namespace velquin::image
