// Texts the operator must see and confirm, as a message box with only an OK
// button would show them. The library has no window of its own: each message
// goes, as one line, to the descriptor named by MORLIX_OPERATOR_FD when that
// is set (the program reads that descriptor and shows the box), else to
// standard error. Tests catch them in-process with OperatorMessageCapture.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morlix::platform {

// Delivers one message; line breaks inside it become blanks.
void operatorMessage(std::string_view text) noexcept;

// Formats a message printf-style in the C locale and delivers it.
void operatorMessagef(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

// Receives every message instead of its usual destination while it lives.
class OperatorMessageCapture {
public:
    OperatorMessageCapture();
    ~OperatorMessageCapture();
    OperatorMessageCapture(const OperatorMessageCapture&) = delete;
    OperatorMessageCapture& operator=(const OperatorMessageCapture&) = delete;

    const std::vector<std::string>& messages() const { return messages_; }

private:
    friend void operatorMessage(std::string_view text) noexcept;
    std::vector<std::string> messages_;
    OperatorMessageCapture* previous_;
};

}  // namespace morlix::platform
