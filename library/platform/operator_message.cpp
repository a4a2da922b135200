#include "operator_message.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "debug_output.h"

namespace morlix::platform {
namespace {

OperatorMessageCapture* activeCapture = nullptr;

// The descriptor named by MORLIX_OPERATOR_FD, or -1 when it names none.
int operatorDescriptor() noexcept {
    const char* value = std::getenv("MORLIX_OPERATOR_FD");
    if (value == nullptr || *value == '\0') return -1;
    int fd = -1;
    const char* end = value + std::strlen(value);
    auto [stop, error] = std::from_chars(value, end, fd);
    if (error != std::errc() || stop != end || fd < 0) return -1;
    return ::fcntl(fd, F_GETFD) == -1 ? -1 : fd;
}

bool writeAll(int fd, const std::string& text) noexcept {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace

void operatorMessage(std::string_view text) noexcept {
    try {
        std::string line(text);
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        if (activeCapture) {
            activeCapture->messages_.push_back(line);
            return;
        }
        line.push_back('\n');
        const int fd = operatorDescriptor();
        if (fd >= 0 && writeAll(fd, line)) return;
        writeAll(STDERR_FILENO, line);
    } catch (...) {
        // A message that cannot be delivered is lost; it never fails a caller.
    }
}

void operatorMessagef(const char* format, ...) noexcept {
    char buffer[1024];
    va_list arguments;
    va_start(arguments, format);
    std::size_t size = formatInCLocale(buffer, format, arguments);
    va_end(arguments);
    operatorMessage(std::string_view(buffer, size));
}

OperatorMessageCapture::OperatorMessageCapture() : previous_(activeCapture) {
    activeCapture = this;
}

OperatorMessageCapture::~OperatorMessageCapture() {
    activeCapture = previous_;
}

}  // namespace morlix::platform
