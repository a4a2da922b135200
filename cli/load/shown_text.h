// Texts velquin-load shows on a terminal or in a log hold names the operator
// does not control (file names with a newline, "|" or a terminal escape):
// they are shown with their control characters escaped.
#pragma once

#include <QString>

namespace velquin::load {

// `text` with every control character (C0, DEL, C1) as "\xNN", and with
// each of `alsoEscaped` escaped the same way (a field separator).
inline QString shownText(const QString& text, QStringView alsoEscaped = {}) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20 || (code >= 0x7f && code <= 0x9f) || alsoEscaped.contains(c))
            shown += QStringLiteral("\\x%1").arg(static_cast<int>(code), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

}  // namespace velquin::load
