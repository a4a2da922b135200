#include "soft_font_converter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "character_cell.h"
#include "character_records.h"
#include "font_header.h"
#include "morlix/conversion_result.h"
#include "platform/debug_output.h"
#include "velquin/converted_file_name.h"

namespace morlix::softfont {
namespace {

using platform::debugOutput;
using platform::debugPrintf;

constexpr std::uint8_t SPACE = 32;

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor = -1) : descriptor_(descriptor) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return descriptor_; }
    explicit operator bool() const { return descriptor_ >= 0; }
    // Closes now and gives close's result (0, or -1 with errno).
    int close() {
        if (descriptor_ < 0) return 0;
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result;
    }

private:
    int descriptor_;
};

// A file this conversion created and has not yet put in place; removed on every other exit.
struct TemporaryFile {
    std::string path;
    bool created = false;
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (created) ::unlink(path.c_str());
    }
};

bool isSameFile(const std::string& path, const SoftFontFile& file) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && status.st_dev == file.device && status.st_ino == file.inode;
}

void logTypeSizes() {
    debugPrintf("Size of char = %d\r\n", static_cast<int>(sizeof(char)));
    debugPrintf("Size of short = %d\r\n", static_cast<int>(sizeof(short)));
    debugPrintf("Size of int = %d\r\n", static_cast<int>(sizeof(int)));
    debugPrintf("Size of long = %d\r\n", static_cast<int>(sizeof(long)));
    debugPrintf("Size of offset table = %d bytes\r\n", static_cast<int>(OFFSET_TABLE_BYTES));
}

}  // namespace

std::int32_t convertCharacters(ByteSource& input, FontSummary& summary, const Report& report) {
    for (;;) {
        std::uint8_t code = 0;
        const std::int32_t found = readCharacterNumber(input, code, report);
        if (found != CONVERSION_OK) {
            debugOutput("Character data, found character failed\r\n");
            if (found == CONVERSION_END_OF_FONT) {
                debugOutput("Normal end - GOOD_END_0_B_BYTES_READ_FROM_SOFT_FONT_FILE");
                return CONVERSION_OK;
            }
            debugOutput("Error end crc");
            return found;
        }
        debugPrintf("\r\nCharacter data, found character %d, %c, ", code, code);
        summary.isSpace = code == SPACE;
        if (summary.isSpace) summary.spaceFound = true;

        std::int32_t length = 0;
        if (!getCharacterGeneratorLength(input, length)) {
            debugOutput("Character generator length failed\r\n");
            return CONVERSION_OK;
        }
        debugPrintf("character generator length = %d\r\n", length);
        // The data must hold at least the character descriptor.
        if (length < 16) {
            debugPrintf("Character generator length %d is shorter than the character descriptor\r\n", length);
            return CONVERSION_BAD_CHARACTER;
        }
        CGEntry entry;
        if (!readCharacterHeader(input, code, entry, summary)) {
            debugOutput("readCharacterHeader - Error in character generator error\r\n");
            return CONVERSION_BAD_CHARACTER;
        }
        entry.dataLength = static_cast<std::uint32_t>(length - 16);
        switch (adjustCGEntry(input, entry, summary, report)) {
            case CellOutcome::Built:
                break;
            case CellOutcome::NotBuilt:
                debugOutput("Error building character entry\r\n");
                return CONVERSION_OK;
            case CellOutcome::ImageFull:
                if (!summary.image.overLimit()) return CONVERSION_NO_MEMORY;
                report.printf("Converted font would be larger than %d bytes\r\n",
                              static_cast<int>(MAX_CONVERTED_FILE_BYTES));
                return CONVERSION_FONT_TOO_LARGE;
        }
    }
}

void finishConvertedFile(FontSummary& summary) {
    debugPrintf("\r\nTotal characters found = %u, last character = %d\r\n", summary.characterCount,
                summary.lastCode);
    debugOutput(summary.spaceFound ? "found space character (or created)\r\n"
                                   : "Did not find space character\r\n");
    char header[64];
    const int length =
        std::snprintf(header, sizeof header, "<SL%d,%d,%u,%d,%ld>", summary.cellWidth, summary.cellHeight,
                      summary.characterCount, summary.pitch, static_cast<long>(summary.image.index()));
    debugPrintf("%s\r\n", header);
    debugPrintf("fontSummary.DLimageIndex = %d\r\n", static_cast<int>(summary.image.index()));
    debugPrintf("Header offset length = %d\r\n", length + 1);
    summary.image.frame(header);
}

std::int32_t convertSoftFont(ByteSource& input, FontSummary& summary, const Report& report) {
    std::int32_t result = readFontHeader(input, summary, report);
    if (result != morlix::CONVERSION_OK) return result;
    if (!allocateDownloadImage(summary)) return morlix::CONVERSION_NO_MEMORY;
    result = convertCharacters(input, summary, report);
    if (result != morlix::CONVERSION_OK) return result;
    finishConvertedFile(summary);
    return morlix::CONVERSION_OK;
}

bool openSoftFontFile(const std::string& path, SoftFontFile& file) {
    // Read access is all the conversion needs: a font the operator may not
    // change (a read-only copy) still converts. Not blocking and not taking a
    // terminal: anything but a regular file is refused after the open.
    FileDescriptor input(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!input) return false;
    struct stat status {};
    if (::fstat(input.get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    file.device = status.st_dev;
    file.inode = status.st_ino;

    if (static_cast<std::uint64_t>(status.st_size) > MAX_SOFT_FONT_FILE_BYTES) {
        file.tooLarge = true;
        return true;
    }
    // The file may grow while it is read: one byte more than the limit shows that.
    std::size_t used = 0;
    file.bytes.resize(static_cast<std::size_t>(status.st_size) + 1);
    for (;;) {
        if (used == file.bytes.size()) {
            if (used > MAX_SOFT_FONT_FILE_BYTES) {
                file.bytes = {};
                file.tooLarge = true;
                return true;
            }
            file.bytes.resize(std::min(used * 2, MAX_SOFT_FONT_FILE_BYTES + 1));
        }
        const ssize_t got = ::read(input.get(), file.bytes.data() + used, file.bytes.size() - used);
        if (got > 0) {
            used += static_cast<std::size_t>(got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            file.readFailed = true;
            break;
        }
    }
    if (used > MAX_SOFT_FONT_FILE_BYTES) {
        file.bytes = {};
        file.tooLarge = true;
        return true;
    }
    file.bytes.resize(used);
    return true;
}

bool writeConvertedFile(const std::string& destination, std::span<const std::uint8_t> file,
                        const Report& report) {
    static std::atomic<unsigned> attemptCounter{0};
    // A short name in the destination's folder: a destination name as long as
    // the file system allows leaves no room for a suffix.
    const std::string folder = destination.substr(0, destination.rfind('/') + 1);
    TemporaryFile temporary;
    int descriptor = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary.path =
            folder + ".qks-" + std::to_string(::getpid()) + "-" + std::to_string(attemptCounter++) + ".part";
        descriptor = ::open(temporary.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0 || errno != EEXIST) break;
    }
    FileDescriptor output(descriptor);
    if (!output) {
        report.printf("Could not create file %s\r\n", destination.c_str());
        return false;
    }
    temporary.created = true;

    std::size_t written = 0;
    int error = 0;
    while (written < file.size()) {
        const ssize_t count = ::write(output.get(), file.data() + written, file.size() - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            error = count < 0 ? errno : EIO;
            break;
        }
    }
    report.printf("Write file index = %d, bytes written = %d\r\n", static_cast<int>(file.size()),
                  static_cast<int>(written));
    if (output.close() != 0 && error == 0) error = errno;
    if (error != 0) {
        report.printf("Write file error last error = %d D %X Hex\r\n", error, static_cast<unsigned>(error));
        return false;
    }
    if (::rename(temporary.path.c_str(), destination.c_str()) != 0) {
        report.printf("Could not create file %s\r\n", destination.c_str());
        return false;
    }
    temporary.created = false;
    return true;
}

std::int32_t convertSoftFontFile(const char* path, const Report& report) {
    const std::string sourcePath = path != nullptr ? path : "";
    debugPrintf("Orginal file name = %s\r\n", sourcePath.c_str());
    const std::string destination = velquin::convertedFileName(sourcePath);
    debugPrintf("Stripped file name wo extention = %s\r\n",
                destination.substr(0, destination.size() - 4).c_str());
    debugPrintf("QK destination file name = %s\r\n", destination.c_str());
    logTypeSizes();

    FontSummary summary;
    SoftFontFile input;
    if (!openSoftFontFile(sourcePath, input)) {
        debugPrintf("Could not open file %s\r\n", sourcePath.c_str());
        return morlix::CONVERSION_CANNOT_OPEN;
    }
    if (input.tooLarge) {
        report.printf("Soft font file %s is larger than %d bytes\r\n", sourcePath.c_str(),
                      static_cast<int>(MAX_SOFT_FONT_FILE_BYTES));
        return morlix::CONVERSION_INPUT_TOO_LARGE;
    }
    ByteSource source(input.bytes, input.readFailed);
    const std::int32_t result = convertSoftFont(source, summary, report);
    if (result != morlix::CONVERSION_OK) return result;
    // A soft font that already carries the converted name is never overwritten by its own conversion.
    if (isSameFile(destination, input)) {
        report.printf("Could not create file %s\r\n", destination.c_str());
        return morlix::CONVERSION_WRITE_FAILED;
    }
    if (!writeConvertedFile(destination, summary.image.file(), report))
        return morlix::CONVERSION_WRITE_FAILED;
    return morlix::CONVERSION_OK;
}

}  // namespace morlix::softfont
