#include "character_records.h"

#include <array>

#include "morlix/conversion_result.h"
#include "pcl_command.h"
#include "platform/debug_output.h"

namespace morlix::softfont {
namespace {

using platform::debugOutput;
using platform::debugPrintf;

}  // namespace

std::int32_t readCharacterNumber(ByteSource& input, std::uint8_t& code, const Report& report) {
    const PclCommand command = readPclCommand(input, '*', 'c', 'E', 0);
    code = static_cast<std::uint8_t>(command.value);  // codes above 255 wrap
    if (command.matched > 0) debugOutput("readCharacterNumber - Found escape\r\n");
    switch (command.end) {
        case PclCommand::End::Complete:
            return CONVERSION_OK;
        case PclCommand::End::ReadFailed:
        case PclCommand::End::TooLong:
            report.line("readCharacterNumber - Bad return code from readFile\r\n");
            return CONVERSION_CODE_READ_FAILED;
        case PclCommand::End::EndOfFile:
            report.line("readCharacterNumber - Good return code and 0 bytes read\r\n");
            return CONVERSION_END_OF_FONT;
        case PclCommand::End::WrongByte:
            break;
    }
    switch (command.matched) {
        case 0:
            report.line("readCharacterNumber - 1st character NOT escape, error\r\n");
            return CONVERSION_RECORD_NO_ESC;
        case 1:
            return CONVERSION_RECORD_NO_STAR;
        case 2:
            report.line("readCharacterNumber - 3rd character NOT c\r\n");
            return CONVERSION_RECORD_NO_C;
        default:
            report.line("readCharacterNumber - Did not find terminating E\r\n");
            return CONVERSION_CODE_NOT_ENDED_BY_E;
    }
}

bool getCharacterGeneratorLength(ByteSource& input, std::int32_t& length) {
    const PclCommand command = readPclCommand(input, '(', 's', 'W', 0);
    length = static_cast<std::int32_t>(command.value);  // wraps in 32 bits, as the font's own arithmetic does
    if (command.end == PclCommand::End::WrongByte && command.matched == 0)
        debugOutput("getCharacterGeneratorLength - 1st character NOT escape, error\r\n");
    if (command.end == PclCommand::End::WrongByte && command.matched == 2)
        debugOutput("getCharacterGeneratorLength - 3rd character NOT s\r\n");
    return command.end == PclCommand::End::Complete;
}

bool readCharacterHeader(ByteSource& input, std::uint8_t code, CGEntry& entry, FontSummary& summary) {
    std::array<std::uint8_t, CHARACTER_DESCRIPTOR_BYTES> descriptor{};
    for (std::uint8_t& byte : descriptor)
        if (input.next(byte) != ByteSource::Read::Byte) return false;
    if (descriptor[0] != 4) {
        debugOutput("Character generator format != 4, error!\r\n");
        return false;
    }
    if (descriptor[2] != 14) {
        debugPrintf("Character generator length is not correct, was %d, should be %d\r\n", descriptor[2], 14);
        return false;
    }
    const auto word = [&](std::size_t offset) {
        return static_cast<std::uint16_t>(descriptor[offset] << 8 | descriptor[offset + 1]);
    };
    entry.code = code;
    entry.leftOffset = word(6);
    entry.topOffset = static_cast<std::int16_t>(word(8));
    entry.widthBits = word(10);
    entry.height = word(12);
    entry.deltaX = word(14);
    entry.widthBytes = bytesForBits(entry.widthBits);
    entry.widthWords = wordsForBits(entry.widthBits);

    debugPrintf("CG Left Offset (bits) = %X\r\n", entry.leftOffset);
    debugPrintf("CG Top Offset (bits)  = %d\r\n", entry.topOffset);
    debugPrintf("CG Char width (bits)  = %d\r\n", entry.widthBits);
    debugPrintf("CG Char height        = %d\r\n", entry.height);
    debugPrintf("CG Delta X (1/4 dots) = %d\r\n", entry.deltaX);
    debugPrintf("CG Delta X            = %d\r\n", entry.deltaX >> 2);
    debugPrintf("Character generator width in words = %d\r\n\n", entry.widthWords);

    if (code > summary.lastCode) summary.lastCode = code;
    return true;
}

}  // namespace morlix::softfont
