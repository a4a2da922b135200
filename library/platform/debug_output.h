// The library's debug-output channel. Every library function reports its
// progress here, one call per line. A line costs almost nothing when nobody
// listens: formatting happens only when a listener is attached.
//
// Listeners: MORLIX_DEBUG=stderr or MORLIX_DEBUG=syslog in the environment
// (read once, at first use), or an in-process capture installed by tests.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morlix::platform {

// True when at least one listener would receive a line.
bool debugListening() noexcept;

// Sends one line, exactly as given, to every listener.
void debugOutput(std::string_view line) noexcept;

// Formats one line printf-style (in the C locale) and sends it; does nothing
// when nobody listens. Lines longer than the log buffer are cut.
void debugPrintf(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

// Formats printf-style in the C locale into `buffer`, cut to fit and always
// terminated; returns the length of the text.
std::size_t formatInCLocale(std::span<char> buffer, const char* format, va_list arguments) noexcept;

// Installs a callback that receives every line for as long as the object
// lives. Only one capture is active at a time; a newer one replaces an older.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    const std::vector<std::string>& lines() const { return lines_; }
    bool contains(std::string_view line) const;
    // Index of the first line equal to `line` at or after `from`, or -1.
    long indexOf(std::string_view line, std::size_t from = 0) const;
    void clear() { lines_.clear(); }

private:
    friend void debugOutput(std::string_view line) noexcept;
    std::vector<std::string> lines_;
    DebugCapture* previous_;
};

}  // namespace morlix::platform
