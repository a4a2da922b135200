// Fuzzes the soft font converter over arbitrary input bytes, once ending at
// the end of the file and once at a read error. Beyond what the sanitizers
// catch, a font that converts must give a well-framed file whose every
// table entry points at a whole cell.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "../support/soft_font_builder.h"
#include "morlix/conversion_result.h"
#include "softfont/byte_source.h"
#include "softfont/report.h"
#include "softfont/soft_font_converter.h"

namespace {

// Codes the converter can give for bytes in memory: not 11 and 25 (never
// produced), not 26 (internal), not 27 and 29 (writing and reading the file).
bool isConversionResult(std::int32_t result) {
    return (result >= morlix::CONVERSION_OK && result <= morlix::CONVERSION_CODE_NOT_ENDED_BY_E &&
            result != morlix::CONVERSION_UNUSED_11) ||
           result == morlix::CONVERSION_FONT_TOO_LARGE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morlix::softfont;
    const Report report([](std::string_view) {});  // formats every report line, keeps none
    for (const bool failsAtEnd : {false, true}) {
        ByteSource input(std::span<const std::uint8_t>(data, size), failsAtEnd);
        FontSummary summary;
        const std::int32_t result = convertSoftFont(input, summary, report);
        if (!isConversionResult(result)) std::abort();
        if (result != morlix::CONVERSION_OK) continue;
        const auto font = velquin::testing::ConvertedFont::read(summary.image.file());
        if (!font || font->cellHeight != summary.cellHeight || font->count != summary.characterCount ||
            font->image.size() > MAX_IMAGE_BYTES || summary.image.file().size() > MAX_CONVERTED_FILE_BYTES)
            std::abort();
    }
    return 0;
}
