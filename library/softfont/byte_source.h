// The converter's input: the soft font's bytes in memory, read the way the
// file would be read, one byte or one block at a time, with the same end of
// file and the same read failure at the same place.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace morlix::softfont {

class ByteSource {
public:
    enum class Read { Byte, EndOfFile, Failed };

    struct Block {
        std::span<const std::uint8_t> bytes;  // what arrived; may be fewer than asked at the end
        bool failed = false;
    };

    // `failsAtEnd`: reading the file stopped at a read error after these
    // bytes, so a read past them fails instead of meeting the end of file.
    explicit ByteSource(std::span<const std::uint8_t> bytes, bool failsAtEnd = false)
        : bytes_(bytes), failsAtEnd_(failsAtEnd) {}

    Read next(std::uint8_t& byte) {
        if (position_ < bytes_.size()) {
            byte = bytes_[position_++];
            return Read::Byte;
        }
        return failsAtEnd_ ? Read::Failed : Read::EndOfFile;
    }

    // One read of `count` bytes: short at the end of the file, failed only
    // when the read error comes before any byte.
    Block readBlock(std::size_t count) {
        Block block{take(count), false};
        block.failed = block.bytes.empty() && count > 0 && failsAtEnd_;
        return block;
    }

    // `count` reads of one byte: failed when the read error comes before
    // the last of them.
    Block readEach(std::size_t count) {
        Block block{take(count), false};
        block.failed = block.bytes.size() < count && failsAtEnd_;
        return block;
    }

    std::size_t position() const { return position_; }

private:
    std::span<const std::uint8_t> take(std::size_t count) {
        const std::size_t available = std::min(count, bytes_.size() - position_);
        const auto taken = bytes_.subspan(position_, available);
        position_ += available;
        return taken;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool failsAtEnd_;
};

}  // namespace morlix::softfont
