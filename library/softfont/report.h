// The converter's report: the font header report and some error lines, which
// go to standard output (the debug channel carries everything else).
#pragma once

#include <functional>
#include <string_view>

namespace morlix::softfont {

class Report {
public:
    using Sink = std::function<void(std::string_view)>;

    explicit Report(Sink sink) : sink_(std::move(sink)) {}

    // Lines written to the process's standard output.
    static Report standardOutput();

    void line(std::string_view text) const;
    // Formats one line printf-style in the C locale, of any length.
    void printf(const char* format, ...) const __attribute__((format(printf, 2, 3)));

private:
    Sink sink_;
};

}  // namespace morlix::softfont
