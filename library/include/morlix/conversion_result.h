// Result codes of the soft font converter. The library returns them from
// qkSoftFontFileName; the program turns each into a message.
#pragma once

#include <cstdint>

namespace morlix {

enum ConversionResult : std::int32_t {
    CONVERSION_OK = 0,
    CONVERSION_CANNOT_OPEN = 1,          // cannot be opened, or no font descriptor command
    CONVERSION_NO_MEMORY = 2,            // the download image cannot be allocated
    CONVERSION_DESCRIPTOR_TOO_LONG = 3,  // font descriptor of 256 bytes or more
    CONVERSION_DESCRIPTOR_SHORT = 4,     // the font descriptor read fails or is short
    CONVERSION_BAD_CHARACTER = 5,        // character descriptor short, not format 4, or not size 14
    CONVERSION_HEADER_FORMAT_10 = 6,
    CONVERSION_HEADER_FORMAT_11 = 7,
    CONVERSION_HEADER_FORMAT_15 = 8,
    CONVERSION_HEADER_FORMAT_20 = 9,
    CONVERSION_FONT_TYPE_1 = 10,
    CONVERSION_UNUSED_11 = 11,  // never produced
    CONVERSION_FONT_TYPE_10 = 12,
    CONVERSION_FONT_TYPE_11 = 13,
    CONVERSION_LANDSCAPE = 14,
    CONVERSION_REVERSE_PORTRAIT = 15,
    CONVERSION_REVERSE_LANDSCAPE = 16,
    CONVERSION_OTHER_ORIENTATION = 17,
    CONVERSION_BAD_SPACING = 18,
    CONVERSION_OTHER_FONT_TYPE = 19,
    CONVERSION_CODE_READ_FAILED = 20,  // a read inside a character code command fails
    CONVERSION_RECORD_NO_ESC = 21,
    CONVERSION_RECORD_NO_STAR = 22,
    CONVERSION_RECORD_NO_C = 23,
    CONVERSION_CODE_NOT_ENDED_BY_E = 24,
    CONVERSION_UNUSED_25 = 25,        // never produced
    CONVERSION_END_OF_FONT = 26,      // end of file between characters; becomes 0
    CONVERSION_WRITE_FAILED = 27,     // the converted file cannot be created or written
    CONVERSION_FONT_TOO_LARGE = 28,   // the converted font would not fit any printer's flash
    CONVERSION_INPUT_TOO_LARGE = 29,  // the file is larger than any soft font can be
};

}  // namespace morlix
