// What a terminal shows while the fleet works: one line per printer, each
// fitted to the terminal's width (a long path shortened in its middle), and
// no more lines than leave the cursor on the screen, the printers left out
// counted on a last line. A redraw moves the cursor up over what it drew:
// a line that wrapped, or a block taller than the screen, would leave the
// cursor elsewhere and the old lines behind in the scrollback.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace velquin::load {

// The fields of a worker's progress line (after its prefix):
// "FILE|BYTES|SIZE|BYTES_PER_SECOND|STATE", FILE with "|" escaped.
struct ProgressFields {
    QString path;
    std::int64_t bytes = 0;           // of the file, its header apart
    std::int64_t size = 0;            // of the file as it goes out
    std::int64_t bytesPerSecond = 0;  // 0: not measured long enough to tell
    QString state;                    // "sending", "flash-writing", "completed"
};
std::optional<ProgressFields> parseProgressFields(const QString& fields);
// "PATH  BYTES/SIZE bytes  RATE  STATE", the rate left out while unknown.
QString progressText(const ProgressFields& file);

// One printer as the terminal shows it.
struct LiveRow {
    enum class Phase { Waiting, Running, Finished };
    QString printer;
    Phase phase = Phase::Waiting;
    bool failed = false;  // finished other than completed
    QString text;         // the last message, when no file is in progress
    std::optional<ProgressFields> file;
};

struct TerminalSize {
    int columns = 80;
    int rows = 24;
};

class LiveScreen {
public:
    explicit LiveScreen(TerminalSize size) : size_(size) {}

    // The lines to draw, none wider than the terminal. When the printers do
    // not fit, those at work come first, then those waiting, then those
    // finished, in their order; the last line counts the rest.
    QStringList render(const std::vector<LiveRow>& rows) const;

    // The columns `text` takes on a terminal.
    static int width(const QString& text);
    // `text` cut to `columns`, its end replaced by "..." when cut.
    static QString elideEnd(const QString& text, int columns);
    // `text` cut to `columns` by taking out its middle ("/srv/fo.../a.ttf").
    static QString elideMiddle(const QString& text, int columns);

private:
    QString line(const LiveRow& row) const;
    TerminalSize size_;
};

}  // namespace velquin::load
