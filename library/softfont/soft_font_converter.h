// The whole conversion of one PCL bitmap soft font into the printer's own
// soft font file: header, characters, cells, and the converted file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "byte_source.h"
#include "font_summary.h"
#include "report.h"

namespace morlix::softfont {

// Converts the soft font in `input`. Gives 0 with the converted file in
// `summary.image.file()`, or the conversion result code.
std::int32_t convertSoftFont(ByteSource& input, FontSummary& summary, const Report& report);

// The character loop: 0 when the font has ended (at the end of the file, or
// early at a character that cannot be read or built), else the result code.
std::int32_t convertCharacters(ByteSource& input, FontSummary& summary, const Report& report);

// Puts the header text "<SL...>" and ESC in front of the image and ESC after it.
void finishConvertedFile(FontSummary& summary);

// A bitmap soft font holds at most 256 characters of at most 32,767 bytes
// of data each, about 8.4 MB with their descriptors: a file larger than twice
// that is no soft font and is refused before it is read.
inline constexpr std::size_t MAX_SOFT_FONT_FILE_BYTES = std::size_t{16} << 20;

// A soft font file read whole: its bytes, whether reading stopped at an
// error, whether it was refused as too large, and which file it is.
struct SoftFontFile {
    std::vector<std::uint8_t> bytes;
    bool readFailed = false;
    bool tooLarge = false;
    dev_t device = 0;
    ino_t inode = 0;
};

// Opens an existing regular file for reading and reads it, never more than
// MAX_SOFT_FONT_FILE_BYTES (a larger file sets `tooLarge` and leaves `bytes` empty).
bool openSoftFontFile(const std::string& path, SoftFontFile& file);

// Writes the converted file under a temporary name beside `destination` and
// renames it into place, so a failure leaves no partial file and an older
// converted file untouched.
bool writeConvertedFile(const std::string& destination, std::span<const std::uint8_t> file,
                        const Report& report);

// The conversion of the file at `path`, written beside it (see
// velquin::convertedFileName). Gives the conversion result code.
std::int32_t convertSoftFontFile(const char* path, const Report& report);

}  // namespace morlix::softfont
