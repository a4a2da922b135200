// Converting a large soft font (all 256 codes, full cells) versus copying
// its bytes to a new file, with nobody listening to the debug channel and
// with a listener attached. Prints the medians and their ratios.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../tests/support/soft_font_builder.h"
#include "morlix/morlix.h"
#include "platform/debug_output.h"
#include "velquin/converted_file_name.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> largeFont(std::uint16_t width, std::uint16_t height) {
    velquin::testing::FontDescriptor descriptor;
    descriptor.cellWidth = width;
    descriptor.cellHeight = height;
    descriptor.baseline = static_cast<std::uint16_t>(height * 4 / 5);
    descriptor.pitch = static_cast<std::uint16_t>(width * 4);
    descriptor.fontType = 2;
    velquin::testing::SoftFontBuilder builder(descriptor);
    const std::size_t rowBytes = (width + 7u) / 8;
    for (int code = 0; code < 256; ++code) {
        std::vector<std::uint8_t> bitmap(rowBytes * height);
        for (std::size_t i = 0; i < bitmap.size(); ++i)
            bitmap[i] = static_cast<std::uint8_t>(code * 31 + i * 7);
        builder.character({.code = code,
                           .topOffset = static_cast<std::int16_t>(descriptor.baseline),
                           .width = width,
                           .deltaX = static_cast<std::uint16_t>(width * 4),
                           .bitmap = bitmap});
    }
    return builder.bytes();
}

bool writeAll(int descriptor, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The plain copy the conversion is measured against: read the file whole and
// write it to a new file (the previous copy goes, as the converter replaces
// its previous output).
bool copyFile(const std::string& from, const std::string& to) {
    ::unlink(to.c_str());
    const int input = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) return false;
    struct stat status {};
    ::fstat(input, &status);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
    std::size_t used = 0;
    while (used < bytes.size()) {
        const ssize_t got = ::read(input, bytes.data() + used, bytes.size() - used);
        if (got <= 0) break;
        used += static_cast<std::size_t>(got);
    }
    ::close(input);
    const int output = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (output < 0) return false;
    const bool written = writeAll(output, bytes.data(), used);
    return ::close(output) == 0 && written;
}

double medianMicroseconds(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double timeOnce(const std::function<bool()>& run) {
    const auto start = Clock::now();
    if (!run()) {
        std::fprintf(stderr, "softfont_bench: a run failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void measure(const fs::path& folder, std::uint16_t width, std::uint16_t height, int iterations) {
    const std::string font = (folder / "large.sfp").string();
    const std::string copy = (folder / "large.copy").string();
    const auto bytes = largeFont(width, height);
    {
        const int output = ::open(font.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        writeAll(output, bytes.data(), bytes.size());
        ::close(output);
    }
    const std::string converted = (folder / "large.QKS").string();
    // Like the copy, the conversion writes a new file; replacing an existing
    // converted file is timed on its own (the file system then flushes the
    // new file before the rename, to keep either the old or the new one).
    const auto convert = [&] {
        ::unlink(converted.c_str());
        return qkSoftFontFileName(font.c_str()) == 0;
    };
    const auto convertReplacing = [&] { return qkSoftFontFileName(font.c_str()) == 0; };
    const auto plainCopy = [&] { return copyFile(font, copy); };

    // The converter's report goes to standard output; keep it out of the figures.
    std::fflush(stdout);
    const int savedOutput = ::dup(STDOUT_FILENO);
    const int nullOutput = ::open("/dev/null", O_WRONLY);
    ::dup2(nullOutput, STDOUT_FILENO);

    std::vector<double> copyTimes, convertTimes, listenedTimes, replacingTimes;
    std::size_t logLines = 0;
    for (int i = 0; i < 3; ++i) timeOnce(convert), timeOnce(plainCopy);
    for (int i = 0; i < iterations; ++i) {
        copyTimes.push_back(timeOnce(plainCopy));
        convertTimes.push_back(timeOnce(convert));
        replacingTimes.push_back(timeOnce(convertReplacing));
        std::optional<morlix::platform::DebugCapture> listener(std::in_place);
        listenedTimes.push_back(timeOnce(convert));
        logLines = listener->lines().size();
    }

    std::fflush(stdout);
    ::dup2(savedOutput, STDOUT_FILENO);
    ::close(savedOutput);
    ::close(nullOutput);

    const double copyTime = medianMicroseconds(copyTimes);
    const double convertTime = medianMicroseconds(convertTimes);
    const double listenedTime = medianMicroseconds(listenedTimes);
    const double replacingTime = medianMicroseconds(replacingTimes);
    std::printf(
        "Font: 256 codes, cell %u x %u dots, %zu bytes; converted file %jd bytes (median of %d runs)\n",
        width, height, bytes.size(), static_cast<intmax_t>(fs::file_size(folder / "large.QKS")), iterations);
    std::printf("  copy to a new file            %10.1f us\n", copyTime);
    std::printf("  convert, nobody listening     %10.1f us   ratio %.2f\n", convertTime,
                convertTime / copyTime);
    std::printf("  convert, replacing the output  %10.1f us   ratio %.2f\n", replacingTime,
                replacingTime / copyTime);
    std::printf("  convert, listener attached    %10.1f us   ratio %.2f  (%zu log lines)\n", listenedTime,
                listenedTime / copyTime, logLines);
}

// The peak resident memory of one conversion of `font`, in KiB above that of
// a process that converts nothing; each runs in a child of its own.
long peakKib(const std::string& font) {
    auto childPeak = [](const std::string* path) {
        std::fflush(stdout);
        const pid_t child = ::fork();
        if (child == 0) {
            const int nullOutput = ::open("/dev/null", O_WRONLY);
            ::dup2(nullOutput, STDOUT_FILENO);
            ::_exit(path ? qkSoftFontFileName(path->c_str()) & 0x7F : 0);
        }
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        return usage.ru_maxrss;
    };
    return childPeak(&font) - childPeak(nullptr);
}

void writeFont(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const int output = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    writeAll(output, bytes.data(), bytes.size());
    ::close(output);
}

void measurePeakMemory(const fs::path& folder) {
    std::printf("Peak memory of one conversion (above a process converting nothing):\n");
    auto report = [&](const char* what, const std::string& font) {
        const long peak = peakKib(font);
        const fs::path converted = velquin::convertedFileName(font);
        std::error_code missing;
        const auto size = fs::file_size(converted, missing);
        std::printf("  %-44s input %9jd B  output %9jd B  peak %7ld KiB\n", what,
                    static_cast<intmax_t>(fs::file_size(font)),
                    missing ? intmax_t{0} : static_cast<intmax_t>(size), peak);
        fs::remove(converted, missing);
    };
    // The largest sample soft font (the folder also holds a True Type font,
    // which is no soft font), and a large generated one.
    const auto isSoftFont = [](const fs::path& path) {
        std::string extension = path.extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return extension == ".sfp";
    };
    fs::path largestSample;
    for (const auto& sample : fs::directory_iterator(SAMPLE_FONTS_DIR))
        if (sample.is_regular_file() && isSoftFont(sample.path()) &&
            (largestSample.empty() || sample.file_size() > fs::file_size(largestSample)))
            largestSample = sample.path();
    if (!largestSample.empty()) {
        fs::copy_file(largestSample, folder / largestSample.filename(), fs::copy_options::overwrite_existing);
        report(("largest sample soft font " + largestSample.filename().string()).c_str(),
               (folder / largestSample.filename()).string());
    }
    writeFont((folder / "generated.sfp").string(), largeFont(256, 256));
    report("generated: 256 codes, cells of 256 x 256", (folder / "generated.sfp").string());
    // The hostile fonts of the tests: one cell of 65,535 x 65,535 dots (refused),
    // and the largest font a printer could still hold (a file just under 9,000,000 bytes).
    velquin::testing::FontDescriptor hostile;
    hostile.cellHeight = 65535;
    writeFont((folder / "hostile.sfp").string(),
              velquin::testing::SoftFontBuilder(hostile)
                  .character({.code = 32, .width = 8, .bitmap = std::vector<std::uint8_t>{}})
                  .character({.width = 65535, .bitmap = std::vector<std::uint8_t>{}})
                  .bytes());
    report("hostile: one 65535 x 65535 cell (refused)", (folder / "hostile.sfp").string());
    velquin::testing::FontDescriptor limit;
    limit.cellHeight = 4392;
    velquin::testing::SoftFontBuilder largest(limit);
    largest.character({.code = 32, .width = 64, .bitmap = std::vector<std::uint8_t>{}});
    for (int code = 0; code < 256; ++code)
        if (code != 32) largest.character({.code = code, .width = 64, .bitmap = std::vector<std::uint8_t>{}});
    writeFont((folder / "limit.sfp").string(), largest.bytes());
    report("hostile: 256 cells of 64 x 4392 (just fits)", (folder / "limit.sfp").string());
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    std::string pattern = (fs::temp_directory_path() / "softfont-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return 1;
    const fs::path folder = pattern;
    measurePeakMemory(folder);
    measure(folder, 64, 96, iterations);
    measure(folder, 256, 256, std::max(1, iterations / 5));
    fs::remove_all(folder);
    return 0;
}
