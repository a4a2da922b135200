#include "live_screen.h"

#include <algorithm>
#include <cwchar>

#include "printer_facts.h"
#include "transfer_meter.h"

namespace velquin::load {

namespace {

const QString ELLIPSIS = QStringLiteral("...");
const QString GAP = QStringLiteral("  ");
// The fewest columns worth giving a path before the rate is left out, and
// the fewest that still show a little of it ("...ttf").
constexpr int SHORTEST_PATH = 9;
constexpr int SHORTEST_ELIDED_PATH = 5;

// A character's columns: 2 for a wide one, 0 for a combining one; one
// unknown to the locale is counted as 1.
int columnsOf(char32_t code) {
    const int columns = ::wcwidth(static_cast<wchar_t>(code));
    return columns < 0 ? 1 : columns;
}

// The longest start of `text` (or end, with `fromEnd`) within `columns`.
QString takeColumns(const QString& text, int columns, bool fromEnd) {
    const QList<uint> codes = text.toUcs4();
    std::vector<char32_t> taken;
    int used = 0;
    for (qsizetype i = 0; i < codes.size(); ++i) {
        const char32_t code = fromEnd ? codes[codes.size() - 1 - i] : codes[i];
        used += columnsOf(code);
        if (used > columns) break;
        taken.push_back(code);
    }
    if (fromEnd) std::reverse(taken.begin(), taken.end());
    return QString::fromUcs4(taken.data(), static_cast<qsizetype>(taken.size()));
}

int priority(const LiveRow& row) {
    switch (row.phase) {
        case LiveRow::Phase::Running:
            return 0;
        case LiveRow::Phase::Waiting:
            return 1;
        case LiveRow::Phase::Finished:
            break;
    }
    return 2;
}

}  // namespace

std::optional<ProgressFields> parseProgressFields(const QString& fields) {
    // The path is escaped ("|" as \x7c) by the worker; an older worker's
    // name with a "|" still ends with the four number and state fields.
    const QStringList parts = fields.split(QLatin1Char('|'));
    if (parts.size() < 5) return std::nullopt;
    const qsizetype count = parts.size();
    ProgressFields progress;
    progress.path = parts.mid(0, count - 4).join(QLatin1Char('|'));
    progress.bytes = parts[count - 4].toLongLong();
    progress.size = parts[count - 3].toLongLong();
    progress.bytesPerSecond = parts[count - 2].toLongLong();
    progress.state = parts[count - 1];
    return progress;
}

namespace {

// What follows the path on a progress line.
QString progressTail(const ProgressFields& file, bool withRate = true) {
    QString tail = GAP + QStringLiteral("%1/%2 bytes").arg(file.bytes).arg(file.size);
    if (withRate && file.bytesPerSecond > 0) tail += GAP + rateText(file.bytesPerSecond);
    return tail + GAP + file.state;
}

}  // namespace

QString progressText(const ProgressFields& file) {
    return file.path + progressTail(file);
}

int LiveScreen::width(const QString& text) {
    int columns = 0;
    for (const uint code : text.toUcs4()) columns += columnsOf(code);
    return columns;
}

QString LiveScreen::elideEnd(const QString& text, int columns) {
    if (width(text) <= columns) return text;
    if (columns < width(ELLIPSIS)) return takeColumns(text, columns, false);
    return takeColumns(text, columns - width(ELLIPSIS), false) + ELLIPSIS;
}

QString LiveScreen::elideMiddle(const QString& text, int columns) {
    if (width(text) <= columns) return text;
    const int kept = columns - width(ELLIPSIS);
    if (kept < 2) return elideEnd(text, columns);
    // The end (the file's own name) gets the larger half.
    const int tail = kept - kept / 3;
    const QString end = takeColumns(text, tail, true);
    return takeColumns(text, kept - width(end), false) + ELLIPSIS + end;
}

QString LiveScreen::line(const LiveRow& row) const {
    const int columns = std::max(size_.columns, 1);
    const QString head = row.printer + GAP;
    if (!row.file) return elideEnd(head + row.text, columns);

    // "PRINTER  PATH  BYTES/SIZE bytes  RATE  STATE": the path gives way
    // first, then the rate; the state is cut last.
    const ProgressFields& file = *row.file;
    for (const bool withRate : {true, false}) {
        const QString tail = progressTail(file, withRate);
        const int room = columns - width(head) - width(tail);
        if (room >= width(file.path)) return head + file.path + tail;
        if (room >= (withRate ? SHORTEST_PATH : SHORTEST_ELIDED_PATH))
            return head + elideMiddle(file.path, room) + tail;
    }
    return elideEnd(head + ELLIPSIS + progressTail(file, false), columns);
}

QStringList LiveScreen::render(const std::vector<LiveRow>& rows) const {
    // The last line drawn ends with a newline: the cursor then stands on
    // the line below it, which must still be on the screen.
    const std::size_t fits = static_cast<std::size_t>(std::max(size_.rows - 1, 1));
    QStringList lines;
    if (rows.size() <= fits) {
        for (const LiveRow& row : rows) lines << line(row);
        return lines;
    }
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&rows](std::size_t a, std::size_t b) { return priority(rows[a]) < priority(rows[b]); });
    std::vector<std::size_t> shown(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(fits - 1));
    std::sort(shown.begin(), shown.end());
    for (std::size_t index : shown) lines << line(rows[index]);

    int running = 0, waiting = 0, finished = 0, failed = 0;
    for (std::size_t i = fits - 1; i < order.size(); ++i) {
        const LiveRow& row = rows[order[i]];
        switch (row.phase) {
            case LiveRow::Phase::Running:
                ++running;
                break;
            case LiveRow::Phase::Waiting:
                ++waiting;
                break;
            case LiveRow::Phase::Finished:
                ++finished;
                if (row.failed) ++failed;
                break;
        }
    }
    QStringList parts;
    if (running > 0) parts << QStringLiteral("%1 at work").arg(running);
    if (waiting > 0) parts << QStringLiteral("%1 waiting").arg(waiting);
    if (finished > 0)
        parts << (failed > 0 ? QStringLiteral("%1 finished (%2 failed)").arg(finished).arg(failed)
                             : QStringLiteral("%1 finished").arg(finished));
    lines << elideEnd(QStringLiteral("%1 more printer(s): %2")
                          .arg(order.size() - (fits - 1))
                          .arg(parts.join(QStringLiteral(", "))),
                      std::max(size_.columns, 1));
    return lines;
}

}  // namespace velquin::load
