// Runs the converter over bytes in memory and keeps what it reported.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "../support/soft_font_builder.h"
#include "softfont/byte_source.h"
#include "softfont/report.h"
#include "softfont/soft_font_converter.h"

namespace velquin::testing {

inline std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

struct ReportLines {
    ReportLines() = default;
    ReportLines(const ReportLines&) = delete;
    ReportLines& operator=(const ReportLines&) = delete;
    std::vector<std::string> lines;
    morlix::softfont::Report report{[this](std::string_view line) { lines.emplace_back(line); }};
    std::string text() const {
        std::string all;
        for (const auto& line : lines) all += line;
        return all;
    }
};

struct InMemoryConversion {
    std::int32_t result = -1;
    ReportLines output;
    morlix::softfont::FontSummary summary;
    std::vector<std::uint8_t> file;

    std::optional<ConvertedFont> converted() const { return ConvertedFont::read(file); }
};

inline void convertBytes(std::span<const std::uint8_t> font, InMemoryConversion& conversion,
                         bool failsAtEnd = false) {
    morlix::softfont::ByteSource input(font, failsAtEnd);
    conversion.result =
        morlix::softfont::convertSoftFont(input, conversion.summary, conversion.output.report);
    if (conversion.result == 0) {
        const auto file = conversion.summary.image.file();
        conversion.file.assign(file.begin(), file.end());
    }
}

}  // namespace velquin::testing
