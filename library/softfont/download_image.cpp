#include <algorithm>
#include <new>

#include "font_summary.h"

namespace morlix::softfont {

bool DownloadImage::allocate(std::size_t capacity) {
    try {
        bytes_.clear();
        bytes_.reserve(HEADER_ROOM + std::clamp(capacity, OFFSET_TABLE_BYTES, INITIAL_IMAGE_RESERVE) + 1);
        bytes_.resize(HEADER_ROOM + OFFSET_TABLE_BYTES);
        fileStart_ = 0;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool DownloadImage::appendZeros(std::size_t count, std::size_t& start) {
    start = index();
    overLimit_ = count > MAX_IMAGE_BYTES - start;
    if (overLimit_) return false;
    try {
        // Grow by doubling but never past what the limit allows, so the image
        // never holds much more memory than the largest file it can become.
        const std::size_t needed = bytes_.size() + count;
        if (needed > bytes_.capacity())
            bytes_.reserve(
                std::max(needed, std::min(bytes_.capacity() * 2, HEADER_ROOM + MAX_IMAGE_BYTES + 1)));
        bytes_.resize(needed);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void DownloadImage::frame(std::string_view headerText) {
    bytes_.push_back(ESC);
    const std::size_t prefix = headerText.size() + 1;
    std::size_t tableStart = HEADER_ROOM;
    if (prefix > tableStart) {
        // The header's five numbers always fit the room kept; stay correct anyway.
        bytes_.insert(bytes_.begin(), prefix - tableStart, 0);
        tableStart = prefix;
    }
    fileStart_ = tableStart - prefix;
    std::copy(headerText.begin(), headerText.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(fileStart_));
    bytes_[tableStart - 1] = ESC;
}

}  // namespace morlix::softfont
