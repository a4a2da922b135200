#include "report.h"

#include <locale.h>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace morlix::softfont {
namespace {

// Numbers in the report are formatted the same whatever locale the program set.
class CLocaleScope {
public:
    CLocaleScope() : previous_(uselocale(cLocale())) {}
    ~CLocaleScope() { uselocale(previous_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    static locale_t cLocale() noexcept {
        static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        return locale;
    }
    locale_t previous_;
};

}  // namespace

Report Report::standardOutput() {
    return Report([](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); });
}

void Report::line(std::string_view text) const {
    if (sink_) sink_(text);
}

void Report::printf(const char* format, ...) const {
    if (!sink_) return;
    std::string text;
    {
        CLocaleScope locale;
        char buffer[256];
        va_list arguments;
        va_start(arguments, format);
        va_list again;
        va_copy(again, arguments);
        const int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
        va_end(arguments);
        if (length >= static_cast<int>(sizeof buffer)) {
            text.resize(static_cast<std::size_t>(length) + 1);
            std::vsnprintf(text.data(), text.size(), format, again);
            text.pop_back();
        } else if (length > 0) {
            text.assign(buffer, static_cast<std::size_t>(length));
        }
        va_end(again);
    }
    sink_(text);
}

}  // namespace morlix::softfont
