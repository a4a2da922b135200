#include "debug_output.h"

#include <locale.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace morlix::platform {
namespace {

enum class EnvironmentListener { None, Stderr, Syslog };

EnvironmentListener environmentListener() noexcept {
    static const EnvironmentListener listener = [] {
        const char* value = std::getenv("MORLIX_DEBUG");
        if (value == nullptr) return EnvironmentListener::None;
        if (std::strcmp(value, "stderr") == 0) return EnvironmentListener::Stderr;
        if (std::strcmp(value, "syslog") == 0) return EnvironmentListener::Syslog;
        return EnvironmentListener::None;
    }();
    return listener;
}

std::atomic<DebugCapture*> activeCapture{nullptr};

// Log lines format numbers the same way whatever locale the program set.
locale_t cLocale() noexcept {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

void writeToStderr(std::string_view line) noexcept {
    std::string text(line);
    // Lines that end in CR LF are printed without the CR; every line ends once.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    text.push_back('\n');
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

bool debugListening() noexcept {
    return activeCapture.load(std::memory_order_relaxed) != nullptr ||
           environmentListener() != EnvironmentListener::None;
}

void debugOutput(std::string_view line) noexcept {
    switch (environmentListener()) {
        case EnvironmentListener::Stderr:
            writeToStderr(line);
            break;
        case EnvironmentListener::Syslog:
            ::syslog(LOG_DEBUG, "%.*s", static_cast<int>(line.size()), line.data());
            break;
        case EnvironmentListener::None:
            break;
    }
    if (DebugCapture* capture = activeCapture.load(std::memory_order_relaxed)) {
        try {
            capture->lines_.emplace_back(line);
        } catch (...) {
            // A capture that cannot grow loses the line; the log never fails a caller.
        }
    }
}

std::size_t formatInCLocale(std::span<char> buffer, const char* format, va_list arguments) noexcept {
    if (buffer.empty()) return 0;
    locale_t previous = uselocale(cLocale());
    int length = std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    uselocale(previous);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return std::min(static_cast<std::size_t>(length), buffer.size() - 1);
}

void debugPrintf(const char* format, ...) noexcept {
    if (!debugListening()) return;
    char buffer[1024];
    va_list arguments;
    va_start(arguments, format);
    std::size_t size = formatInCLocale(buffer, format, arguments);
    va_end(arguments);
    // A line is a C string: a zero byte printed with %c ends it.
    debugOutput(std::string_view(buffer, strnlen(buffer, size)));
}

DebugCapture::DebugCapture() : previous_(activeCapture.exchange(this)) {}

DebugCapture::~DebugCapture() {
    activeCapture.store(previous_);
}

bool DebugCapture::contains(std::string_view line) const {
    return indexOf(line) >= 0;
}

long DebugCapture::indexOf(std::string_view line, std::size_t from) const {
    for (std::size_t i = from; i < lines_.size(); ++i)
        if (lines_[i] == line) return static_cast<long>(i);
    return -1;
}

}  // namespace morlix::platform
