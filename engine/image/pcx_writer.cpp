#include <algorithm>
#include <array>

#include "pcx.h"

namespace velquin::image {

namespace {

constexpr int HEADER_SIZE = 128;
constexpr int MAX_RUN = 63;

void putWord(QByteArray& out, int at, int value) {
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

// Runs stop at the end of each line: many readers decode line by line.
void encodeLine(QByteArray& out, const std::uint8_t* line, int length) {
    int at = 0;
    while (at < length) {
        const std::uint8_t value = line[at];
        int run = 1;
        while (at + run < length && run < MAX_RUN && line[at + run] == value) ++run;
        // A lone byte with its two top bits set would read as a count.
        if (run > 1 || value >= 0xC0) out.append(static_cast<char>(0xC0 | run));
        out.append(static_cast<char>(value));
        at += run;
    }
}

}  // namespace

QByteArray writePcx(const MonoImage& image, int dotsPerInch) {
    QByteArray out(HEADER_SIZE, '\0');
    out[0] = 0x0A;  // manufacturer
    out[1] = 5;     // version
    out[2] = 1;     // run-length encoding
    out[3] = 1;     // bits per pixel
    putWord(out, 4, 0);
    putWord(out, 6, 0);
    putWord(out, 8, std::max(image.width() - 1, 0));
    putWord(out, 10, std::max(image.height() - 1, 0));
    putWord(out, 12, dotsPerInch);
    putWord(out, 14, dotsPerInch);
    // Palette: entry 0 black, entry 1 white.
    for (int i = 0; i < 3; ++i) out[16 + 3 + i] = static_cast<char>(0xFF);
    out[65] = 1;  // planes
    putWord(out, 66, image.bytesPerLine());
    putWord(out, 68, 1);  // colour or black and white
    out.reserve(HEADER_SIZE + image.bytesPerLine() * image.height() / 4);
    for (int y = 0; y < image.height(); ++y) encodeLine(out, image.line(y), image.bytesPerLine());
    return out;
}

}  // namespace velquin::image
