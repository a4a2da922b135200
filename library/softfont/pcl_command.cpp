#include "pcl_command.h"

#include "font_summary.h"

namespace morlix::softfont {

PclCommand readPclCommand(ByteSource& input, std::uint8_t second, std::uint8_t third, std::uint8_t terminator,
                          int maxBytes) {
    PclCommand command;
    const std::uint8_t fixed[] = {ESC, second, third};
    for (int consumed = 0; maxBytes == 0 || consumed < maxBytes; ++consumed) {
        std::uint8_t byte = 0;
        switch (input.next(byte)) {
            case ByteSource::Read::Failed:
                command.end = PclCommand::End::ReadFailed;
                return command;
            case ByteSource::Read::EndOfFile:
                command.end = PclCommand::End::EndOfFile;
                return command;
            case ByteSource::Read::Byte:
                break;
        }
        if (command.matched < 3) {
            if (byte != fixed[command.matched]) return command;
            ++command.matched;
        } else if (byte >= '0' && byte <= '9') {
            command.value = command.value * 10 + static_cast<std::uint32_t>(byte - '0');
            if (command.digitCount < command.firstDigits.size())
                command.firstDigits[command.digitCount++] = byte;
        } else {
            if (byte == terminator) command.end = PclCommand::End::Complete;
            return command;
        }
    }
    command.end = PclCommand::End::TooLong;
    return command;
}

}  // namespace morlix::softfont
