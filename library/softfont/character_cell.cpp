#include "character_cell.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "platform/debug_output.h"

namespace morlix::softfont {
namespace {

using platform::debugListening;
using platform::debugOutput;
using platform::debugPrintf;

constexpr std::uint8_t SPACE = 32;
constexpr const char* PLUS_LINE =
    "++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++\r\n";

void putWord(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

// Bytes 0-11 of an offset table entry; bytes 12-15 stay zero.
void putEntry(DownloadImage& image, std::uint8_t code, std::size_t position, std::uint16_t width,
              std::uint16_t words, std::uint16_t leftOffset, std::uint16_t escapement) {
    const auto entry = image.entry(code);
    const auto position32 = static_cast<std::uint32_t>(position);
    putWord(entry.data(), static_cast<std::uint16_t>(position32 >> 16));
    putWord(entry.data() + 2, static_cast<std::uint16_t>(position32));
    putWord(entry.data() + 4, width);
    putWord(entry.data() + 6, words);
    putWord(entry.data() + 8, leftOffset);
    putWord(entry.data() + 10, escapement);
}

void logImageFull(const DownloadImage& image, std::size_t more) {
    debugPrintf("Could not allocate %lld bytes for master DL image\r\n",
                static_cast<long long>(image.index()) + static_cast<long long>(more));
}

// A blank space of the pitch's width, for a font whose first character is not the space.
bool createSpace(FontSummary& summary, const Report& report) {
    debugOutput("adjustCGEntry - Space character needs to be created\r\n");
    summary.characterCount += 1;
    const auto width = static_cast<std::uint16_t>(summary.pitch >> 2);
    report.printf("Space pitch in bits = %d\r\n", width);
    const std::uint16_t words = wordsForBits(width);
    debugPrintf("Space words H = %d\r\n", words);
    const std::size_t totalWords = std::size_t{words} * summary.cellHeight;
    debugPrintf("Space words total = %d\r\n", static_cast<int>(totalWords));
    summary.spaceFound = true;
    const unsigned entryOffset = OFFSET_ENTRY_BYTES * SPACE;
    debugPrintf("Space OFFSET address = %d DEC %X HEX\r\n", entryOffset, entryOffset);
    putEntry(summary.image, SPACE, summary.image.index(), width, words, 0, width);
    std::size_t start = 0;
    if (!summary.image.appendZeros(totalWords * 2, start)) {
        logImageFull(summary.image, totalWords * 2);
        return false;
    }
    return true;
}

void dumpCell(const FontSummary& summary, const CGEntry& entry, std::size_t cellStart) {
    if (!debugListening()) return;
    debugOutput(PLUS_LINE);
    const std::uint8_t* word = summary.image.at(cellStart);
    for (unsigned row = 0; row < summary.cellHeight; ++row) {
        for (unsigned column = 0; column < entry.widthWords; ++column, word += 2) {
            // "%4.4X " without a formatter: the dump is most of the log.
            static constexpr char HEX[] = "0123456789ABCDEF";
            const char text[5] = {HEX[word[0] >> 4], HEX[word[0] & 15], HEX[word[1] >> 4], HEX[word[1] & 15],
                                  ' '};
            debugOutput(std::string_view(text, sizeof text));
        }
        debugOutput("\r\n");
    }
    debugOutput(PLUS_LINE);
}

}  // namespace

std::size_t downloadImageCapacity(const FontSummary& summary) {
    const std::size_t size = (std::size_t{wordsForBits(summary.cellWidth)} * summary.cellHeight + 8) * 512;
    return size + 2048;
}

bool allocateDownloadImage(FontSummary& summary) {
    const std::size_t capacity = downloadImageCapacity(summary);
    const auto size = static_cast<long long>(capacity - 2048);
    const bool allocated = summary.image.allocate(capacity);
    debugOutput("Allocating using CoTaskMemAlloc");
    debugOutput("*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-\r\n");
    debugPrintf("fontSummary.DLimage pointer = %p\r\n",
                allocated ? static_cast<const void*>(summary.image.data()) : nullptr);
    debugPrintf("fontSummary.DLimageIndex = %d\r\n", static_cast<int>(OFFSET_TABLE_BYTES));
    debugOutput("*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-*-\r\n");
    if (!allocated) {
        debugPrintf("Could not allocate %lld bytes for master DL image\r\n", size);
        return false;
    }
    debugPrintf("DLimage pointer = %p\r\n", static_cast<const void*>(summary.image.data()));
    debugPrintf("Successfully allocated %lld bytes for master DL image\r\n", size);
    debugPrintf("Starting index = %d\r\n", static_cast<int>(OFFSET_TABLE_BYTES));
    return true;
}

CellOutcome adjustCGEntry(ByteSource& input, const CGEntry& entry, FontSummary& summary,
                          const Report& report) {
    DownloadImage& image = summary.image;
    if (!summary.spaceFound && !createSpace(summary, report)) return CellOutcome::ImageFull;

    summary.characterCount += 1;
    const unsigned entryOffset = OFFSET_ENTRY_BYTES * entry.code;
    debugPrintf("OFFSET address for char = %d DEC %X HEX\r\n", entryOffset, entryOffset);
    // An entry that cannot be finished is withdrawn: an earlier character of
    // the same code keeps its entry, and no entry points past the data.
    std::array<std::uint8_t, OFFSET_ENTRY_BYTES> previousEntry{};
    std::ranges::copy(image.entry(entry.code), previousEntry.begin());
    const auto withdraw = [&] {
        std::ranges::copy(previousEntry, image.entry(entry.code).begin());
        summary.characterCount -= 1;
        debugPrintf("Entry of character %d withdrawn\r\n", entry.code);
    };
    putEntry(image, entry.code, image.index(), entry.widthBits, entry.widthWords, entry.leftOffset,
             static_cast<std::uint16_t>(entry.deltaX >> 2));

    debugPrintf("= CG width in bits = %d\r\n", entry.widthBits);
    debugPrintf("= CG width in bytes, actual in SF cg = %d\r\n", entry.widthBytes);
    debugPrintf("= CG width in words needed by QK cg functions = %d\r\n", entry.widthWords);
    debugOutput("= Calloc worked\r\n");
    debugPrintf("= CG cell height = %d\r\n", summary.cellHeight);
    debugPrintf("= CG total WORDS needed = %d\r\n", summary.cellHeight * entry.widthWords);

    // A character of width 0 has no rows: its data, if any, is skipped.
    if (entry.widthBytes != 0 && entry.dataLength % entry.widthBytes != 0) {
        debugOutput("ERROR ERROR  ERROR ERROR ERROR ERROR ERROR ERROR ERROR\r\n");
        debugOutput("ERROR ERROR  ERROR ERROR ERROR ERROR ERROR ERROR ERROR\r\n");
        withdraw();
        return CellOutcome::NotBuilt;
    }
    // Bytes missing at the end of the file count as zero.
    const ByteSource::Block bitmap = input.readEach(entry.dataLength);
    if (bitmap.failed) {
        withdraw();
        return CellOutcome::NotBuilt;
    }
    std::size_t cellStart = 0;
    if (!buildCharacterCell(entry, bitmap.bytes, summary, cellStart)) {
        withdraw();
        return CellOutcome::ImageFull;
    }
    dumpCell(summary, entry, cellStart);
    debugPrintf("= Bytes read from CG file portion of soft header = %d\r\n",
                static_cast<int>(entry.dataLength));
    debugOutput("--------------------------------------------------------\r\n");
    return CellOutcome::Built;
}

bool buildCharacterCell(const CGEntry& entry, std::span<const std::uint8_t> bitmap, FontSummary& summary,
                        std::size_t& cellStart) {
    const std::size_t rowBytes = std::size_t{entry.widthWords} * 2;
    const std::int64_t cellHeight = summary.cellHeight;
    const std::int64_t top = std::int64_t{summary.baseline} - entry.topOffset;
    const std::int64_t rows = entry.widthBytes != 0 ? entry.dataLength / entry.widthBytes : 0;
    const std::int64_t topBlank = std::clamp<std::int64_t>(top, 0, cellHeight);
    const std::int64_t rowsAbove = top < 0 ? std::min(-top, rows) : 0;
    const std::int64_t visible = std::max<std::int64_t>(0, std::min(rows - rowsAbove, cellHeight - topBlank));
    const std::int64_t rowsBelow = rows - rowsAbove - visible;
    const std::int64_t bottomBlank = cellHeight - topBlank - visible;

    if (!summary.image.appendZeros(rowBytes * summary.cellHeight, cellStart)) {
        logImageFull(summary.image, rowBytes * summary.cellHeight);
        return false;
    }
    debugPrintf("Top blank lines = %d\r\n", static_cast<int>(topBlank));
    if (rowsAbove > 0)
        debugPrintf("Character clipped, %lld rows above the cell dropped\r\n",
                    static_cast<long long>(rowsAbove));
    debugOutput("After blank lines inserted\r\n");

    // Each cell row is the source row's bytes with the bits beyond the width
    // cleared, and a zero byte more when the row has an odd number of bytes.
    if (!summary.isSpace && visible > 0) {
        std::uint8_t* const cell =
            summary.image.at(cellStart) + static_cast<std::size_t>(topBlank) * rowBytes;
        const std::size_t firstSource = static_cast<std::size_t>(rowsAbove) * entry.widthBytes;
        const std::size_t available = bitmap.size() > firstSource ? bitmap.size() - firstSource : 0;
        const unsigned lastBits = entry.widthBits % 8;
        if (lastBits == 0 && rowBytes == entry.widthBytes) {
            // Whole 16-bit rows with nothing to clear: the rows are one block.
            std::memcpy(cell, bitmap.data() + firstSource,
                        std::min<std::size_t>(available, static_cast<std::size_t>(visible) * rowBytes));
        } else {
            const auto lastByteMask = static_cast<std::uint8_t>(0xFF << ((8 - lastBits) % 8));
            for (std::size_t row = 0; row < static_cast<std::size_t>(visible); ++row) {
                const std::size_t source = row * entry.widthBytes;
                if (source >= available) break;
                const std::size_t present = std::min<std::size_t>(entry.widthBytes, available - source);
                std::uint8_t* const target = cell + row * rowBytes;
                std::memcpy(target, bitmap.data() + firstSource + source, present);
                if (present == entry.widthBytes) target[present - 1] &= lastByteMask;
            }
        }
    }
    debugOutput("After data inserted\r\n");
    if (rowsBelow > 0)
        debugPrintf("Character clipped, %lld rows below the cell dropped\r\n",
                    static_cast<long long>(rowsBelow));
    debugPrintf("Bottom Blank Lines = %d\r\n", static_cast<int>(bottomBlank));
    debugPrintf("CGindex after building character = %d\r\n",
                static_cast<int>(summary.cellHeight * entry.widthWords));
    return true;
}

}  // namespace morlix::softfont
