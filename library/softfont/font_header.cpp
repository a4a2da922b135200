#include "font_header.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "morlix/conversion_result.h"
#include "pcl_command.h"
#include "platform/debug_output.h"

namespace morlix::softfont {
namespace {

using platform::debugOutput;
using platform::debugPrintf;

constexpr std::int32_t DESCRIPTOR_COMMAND_MAX_BYTES = 7;  // ESC ) s, three digits, W

// The descriptor as the report reads it: 256 bytes, zero beyond what the font gave.
class Descriptor {
public:
    explicit Descriptor(std::span<const std::uint8_t> bytes) {
        std::copy_n(bytes.begin(), std::min(bytes.size(), bytes_.size()), bytes_.begin());
    }
    std::uint8_t byte(std::size_t offset) const { return bytes_[offset]; }
    std::int8_t signedByte(std::size_t offset) const { return static_cast<std::int8_t>(bytes_[offset]); }
    std::uint16_t word(std::size_t offset) const {
        return static_cast<std::uint16_t>(bytes_[offset] << 8 | bytes_[offset + 1]);
    }

private:
    std::array<std::uint8_t, MAX_DESCRIPTOR_BYTES> bytes_{};
};

// A field whose value either lets the conversion go on (verdict 0) or refuses the font.
struct FieldValue {
    std::uint8_t value;
    const char* line;
    const char* secondLine;
    std::int32_t verdict;
};

constexpr FieldValue HEADER_FORMATS[] = {
    {0, "Header Format = 0 (bitmap, QK compatible)\r\n", nullptr, morlix::CONVERSION_OK},
    {10, "Header Format = 10 (Intellifont Bound Scalable, NOT QK compatible)\r\n", nullptr,
     morlix::CONVERSION_HEADER_FORMAT_10},
    {11, "Header Format = 11 (Intellifont Unbound Scalable, NOT QK compatible)\r\n", nullptr,
     morlix::CONVERSION_HEADER_FORMAT_11},
    {15, "Header Format = 15 (True Type Scalable (bound or unbound), NOT QK compatible)\r\n", nullptr,
     morlix::CONVERSION_HEADER_FORMAT_15},
    {20, "Header Format = 20 (Resolution-Specified Bitmap, NOT QK compatible)\r\n", nullptr,
     morlix::CONVERSION_HEADER_FORMAT_20},
};

constexpr FieldValue FONT_TYPES[] = {
    {0, "Font Type = 0, Bound Font\r\n", "Character codes 32 to 127 are printable (QK compatible)\r\n",
     morlix::CONVERSION_OK},
    {1, "Font Type = 1, Bound Font\r\n",
     "Character codes 32 to 127 and 160 to 255 are printable (NOT QK compatible)\r\n",
     morlix::CONVERSION_FONT_TYPE_1},
    {2, "Font Type = 2, Bound Font\r\n",
     "Character codes 0 to 255 are printable, except 0,7 to 15, and 27 (NOT QK compatible)\r\n",
     morlix::CONVERSION_OK},
    {10, "Font Type = 10, Unbound Font\r\n", "Character codes HP MSL numbers (NOT QK compatible)\r\n",
     morlix::CONVERSION_FONT_TYPE_10},
    {11, "Font Type = 11, Unbound Font\r\n", "Character codes Unicode numbers (NOT QK compatible)\r\n",
     morlix::CONVERSION_FONT_TYPE_11},
};

constexpr FieldValue ORIENTATIONS[] = {
    {0, "Orientation = portrait\r\n", "\r\n", morlix::CONVERSION_OK},
    {1, "Orientation = landscape (NOT QK compatible)\r\n", nullptr, morlix::CONVERSION_LANDSCAPE},
    {2, "Orientation = reverse portrait (NOT QK compatible)\r\n", nullptr,
     morlix::CONVERSION_REVERSE_PORTRAIT},
    {3, "Orientation = reverse landscape (NOT QK compatible)\r\n", nullptr,
     morlix::CONVERSION_REVERSE_LANDSCAPE},
};

constexpr FieldValue SPACINGS[] = {
    {0, "Spacing = fixed\r\n", nullptr, morlix::CONVERSION_OK},
    {1, "Spacing = proportional\r\n", nullptr, morlix::CONVERSION_OK},
};

// Reports the field's value from its table and gives its verdict; a value
// the table lacks gets `unknownLine` (when given) and `unknownVerdict`.
template <std::size_t N>
std::int32_t judgeField(const FieldValue (&table)[N], std::uint8_t value, const char* unknownLine,
                        std::int32_t unknownVerdict, const Report& report) {
    for (const FieldValue& field : table) {
        if (field.value != value) continue;
        report.line(field.line);
        if (field.secondLine != nullptr) report.line(field.secondLine);
        return field.verdict;
    }
    if (unknownLine != nullptr) report.line(unknownLine);
    return unknownVerdict;
}

const char* postureLine(unsigned posture) {
    static constexpr const char* LINES[] = {"Posture = Upright\r\n", "Posture = Italic\r\n",
                                            "Posture = Alternate Italic\r\n", "Posture = Reserved\r\n"};
    return LINES[posture & 3];
}

const char* appearanceWidthLine(unsigned width) {
    static constexpr const char* LINES[] = {
        "Appearance Width = Normal\r\n",
        "Appearance Width = Condensed\r\n",
        "Appearance Width = Condensed or Extra Condensed\r\n",
        "Appearance Width = Extra Compressed\r\n",
        "Appearance Width = Ultra Compressed\r\n",
        "Appearance Width = Reserved\r\n",
        "Appearance Width = Extended or Expanded\r\n",
        "Appearance Width = Extra Extended or Extra Expanded\r\n",
    };
    return LINES[width & 7];
}

const char* structureLine(unsigned structure) {
    static constexpr const char* LINES[] = {
        "Structure = Solid\r\n",
        "Structure = Outline\r\n",
        "Structure = Inline\r\n",
        "Structure = Contour, Distressed\r\n",
        "Structure = Solid with Shadow\r\n",
        "Structure = Outline with Shadow\r\n",
        "Structure = Inline with Shadow\r\n",
        "Structure = Contour with Shadow\r\n",
    };
    if (structure < 8) return LINES[structure];
    if (structure < 12) return "Structure = Patterned\r\n";
    if (structure < 16) return "Structure = Patterned with Shadow\r\n";
    if (structure == 16) return "Structure = Inverse\r\n";
    if (structure == 17) return "Structure = Inverse in Open Border\r\n";
    if (structure < 31) return "Structure = 18 - 31 Reserved\r\n";
    return "Structure = Unknown Structure\r\n";
}

const char* widthTypeLine(std::int8_t widthType) {
    switch (widthType) {
        case -5:
            return "Width Type = Ultra Compressed\r\n";
        case -4:
            return "Width Type = Extra Compressed\r\n";
        case -3:
            return "Width Type = Compressed or Extra Condensed\r\n";
        case -2:
            return "Width Type = Condensed\r\n";
        case 0:
            return "Width Type = Normal\r\n";
        case 2:
            return "Width Type = Expanded\r\n";
        case 3:
            return "Width Type = Extra Expanded\r\n";
        default:
            return "Width Type = unknown\r\n";
    }
}

// The Thin and Extra Bold lines end in a line feed alone.
const char* strokeWeightLine(std::int8_t weight) {
    static constexpr const char* LINES[] = {
        "Stroke Weight = Ultra Thin\r\n",  "Stroke Weight = Extra Thin\r\n",
        "Stroke Weight = Thin\n",          "Stroke Weight = Extra Light\r\n",
        "Stroke Weight = Light\r\n",       "Stroke Weight = Demi Light\r\n",
        "Stroke Weight = Semi Light\r\n",  "Stroke Weight = Medium, Book, or Text\r\n",
        "Stroke Weight = Semi Bold\r\n",   "Stroke Weight = Demi Bold\r\n",
        "Stroke Weight = Bold\r\n",        "Stroke Weight = Extra Bold\n",
        "Stroke Weight = Black\r\n",       "Stroke Weight = Extra Black\r\n",
        "Stroke Weight = Ultra Black\r\n",
    };
    if (weight < -7 || weight > 7) return "Stroke Weight = unknown\r\n";
    return LINES[weight + 7];
}

}  // namespace

bool readSoftFontHeader(ByteSource& input, std::int32_t& length, const Report& report) {
    const PclCommand command = readPclCommand(input, ')', 's', 'W', DESCRIPTOR_COMMAND_MAX_BYTES);
    length = static_cast<std::int32_t>(command.value);
    static constexpr const char* FOUND[] = {"readSoftFontHeader - Found escape\r\n",
                                            "readSoftFontHeader - Found CLOSE_PAREN\r\n",
                                            "readSoftFontHeader - Found s\r\n"};
    for (int i = 0; i < command.matched; ++i) debugOutput(FOUND[i]);
    for (std::size_t i = 0; i < command.digitCount; ++i)
        debugPrintf("readSoftFontHeader - header size digit %c\r\n", command.firstDigits[i]);

    switch (command.end) {
        case PclCommand::End::Complete:
            debugPrintf("readSoftFontHeader - found terminating W, length of header = %d\r\n", length);
            return true;
        case PclCommand::End::ReadFailed:
            report.line("readSoftFontHeader - Bad return code from readFile\r\n");
            return false;
        case PclCommand::End::EndOfFile:
            report.line("readSoftFontHeader - Exactly one byte NOT read\r\n");
            return false;
        case PclCommand::End::TooLong:
            report.line("readSoftFontHeader - Too many digits\r\n");
            return false;
        case PclCommand::End::WrongByte:
            break;
    }
    static constexpr const char* WRONG[] = {"readSoftFontHeader - 1st character NOT escape, error\r\n",
                                            "readSoftFontHeader - 2nd character NOT CLOSE PAREN\r\n",
                                            "readSoftFontHeader - 3rd character NOT s\r\n",
                                            "readSoftFontHeader - Did not find terminating W\r\n"};
    report.line(WRONG[command.matched]);
    return false;
}

void dumpHeaderBytes(std::span<const std::uint8_t> descriptor, const Report& report) {
    for (std::size_t lineStart = 0; lineStart < descriptor.size(); lineStart += 16) {
        char text[8];
        std::snprintf(text, sizeof text, "%2.2X - ", static_cast<unsigned>(lineStart));
        std::string line = text;
        const std::size_t lineEnd = std::min(descriptor.size(), lineStart + 16);
        for (std::size_t i = lineStart; i < lineEnd; ++i) {
            std::snprintf(text, sizeof text, "%2.2X ", descriptor[i]);
            line += text;
            if (i - lineStart == 7) line += "- ";
        }
        line += "\r\n";
        report.line(line);
    }
}

std::int32_t displayFontHeaderInfo(std::span<const std::uint8_t> descriptorBytes, FontSummary& summary,
                                   const Report& report) {
    const Descriptor descriptor(descriptorBytes);
    const auto blank = [&] { report.line("\r\n"); };

    report.line("\r\n***********************************************************\r\n");
    report.line("**                     Font header info                  **\r\n");
    report.line("***********************************************************\r\n\n");

    report.printf("Font Header size = %d\r\n", descriptor.word(0));
    blank();

    std::int32_t verdict = judgeField(HEADER_FORMATS, descriptor.byte(2), nullptr, CONVERSION_OK, report);
    if (verdict != CONVERSION_OK) return verdict;

    blank();
    // Types other than these are refused after the orientation and spacing.
    const std::uint8_t fontType = descriptor.byte(3);
    verdict = judgeField(FONT_TYPES, fontType, nullptr, CONVERSION_OK, report);
    if (verdict != CONVERSION_OK) return verdict;
    const bool compatible = fontType != 2;

    blank();
    const unsigned style = static_cast<unsigned>(descriptor.byte(4) << 8 | descriptor.byte(23));
    report.printf("Style word = %X\r\n", style);
    report.line(postureLine(style & 3));
    report.line(appearanceWidthLine(style >> 2 & 7));
    report.line(structureLine(style >> 5 & 31));

    blank();
    summary.baseline = descriptor.word(6);
    report.printf("Baseline position (Top of cell to baseline = %d)\r\n", summary.baseline);
    blank();
    summary.cellWidth = descriptor.word(8);
    report.printf("Cell Width (Widest character) = %d\r\n", summary.cellWidth);
    blank();
    summary.cellHeight = descriptor.word(10);
    report.printf("Cell Height (Tallest character and greatest decender) = %d\r\n", summary.cellHeight);
    blank();

    verdict = judgeField(ORIENTATIONS, descriptor.byte(12), "Orientation = unknown (NOT QK compatible)\r\n",
                         CONVERSION_OTHER_ORIENTATION, report);
    if (verdict != CONVERSION_OK) return verdict;
    verdict = judgeField(SPACINGS, descriptor.byte(13), "Spacing = unknown (NOT QK compatible)\r\n",
                         CONVERSION_BAD_SPACING, report);
    if (verdict != CONVERSION_OK) return verdict;
    blank();

    summary.pitch = descriptor.word(16);
    report.printf("Pitch = %d (in 1/4 dots), if proportional width of the Space character\r\n",
                  summary.pitch);
    report.printf("Space width in dots = %d\r\n", summary.pitch / 4);
    blank();

    report.line(widthTypeLine(descriptor.signedByte(22)));
    blank();
    report.line(strokeWeightLine(descriptor.signedByte(24)));
    blank();

    if (fontType == 0) {
        report.line("Font Type = 0, first code = 32, last code = 127\r\n");
    } else if (fontType == 2) {
        report.line("Font Type = 2, first code = 0, last code = 255\r\n");
    } else {
        report.line("Font Type > 2 and not compatible with QK ticketprinter\r\n");
        return CONVERSION_OTHER_FONT_TYPE;
    }

    const int nameLength = static_cast<int>(descriptorBytes.size()) - 48;
    report.printf("Font name length = %d\r\n", nameLength);
    std::string name;
    if (nameLength > 0) {
        // The name is a C string: it ends at its first zero byte.
        const auto nameBytes = descriptorBytes.subspan(48);
        name.assign(nameBytes.begin(), std::find(nameBytes.begin(), nameBytes.end(), 0));
    }
    report.printf("Font name = %s, length = %d\r\n", name.c_str(), nameLength);

    report.line("\r\n\n");
    report.line(compatible ? "This file is compatible with QK ticket printers\r\n"
                           : "This file is NOT compatible with QK ticket printers\r\n");
    report.line("\r\n\n");
    return CONVERSION_OK;
}

std::int32_t readFontHeader(ByteSource& input, FontSummary& summary, const Report& report) {
    std::int32_t length = 0;
    if (!readSoftFontHeader(input, length, report)) {
        debugOutput("Did not find Soft Font header\r\n");
        return morlix::CONVERSION_CANNOT_OPEN;
    }
    report.printf("\r\nFound Soft Font header, length = %d\r\n", length);
    if (length >= MAX_DESCRIPTOR_BYTES) {
        debugPrintf("Error soft font header > %d bytes\r\n", MAX_DESCRIPTOR_BYTES);
        return morlix::CONVERSION_DESCRIPTOR_TOO_LONG;
    }
    const ByteSource::Block descriptor = input.readBlock(static_cast<std::size_t>(length));
    if (descriptor.failed) {
        debugOutput("Error reading actual softfont header data\r\n");
        return morlix::CONVERSION_DESCRIPTOR_SHORT;
    }
    if (descriptor.bytes.size() < static_cast<std::size_t>(length)) {
        debugOutput("Error reading actual header\r\n");
        return morlix::CONVERSION_DESCRIPTOR_SHORT;
    }
    debugPrintf("Read %d actual header bytes\r\n", length);
    dumpHeaderBytes(descriptor.bytes, report);
    const std::int32_t verdict = displayFontHeaderInfo(descriptor.bytes, summary, report);
    if (verdict != morlix::CONVERSION_OK) debugOutput("displayFontHeaderInfo detected error");
    return verdict;
}

}  // namespace morlix::softfont
