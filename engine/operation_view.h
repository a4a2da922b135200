// What the program's printer operations (upload, erase, flash and status
// queries, conversions) report to the operator through: the diagnostics
// list, the progress display, the flash labels and the dialogs. The main
// window implements it on its controls; tests implement it in memory.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace velquin {

class OperatorPrompts;

// The diagnostics list: lines are appended at its end.
class StatusLog {
public:
    virtual ~StatusLog() = default;
    virtual void clearStatus() = 0;
    virtual void addStatusLine(const QString& line) = 0;
    // A line that may repeat many times in a row (a wait's poll): a view may
    // fold the repeats into one line with a count.
    virtual void addRepeatedStatusLine(const QString& line) { addStatusLine(line); }
    // The same line repeated `times` times in a row.
    virtual void addRepeatedStatusLines(const QString& line, int times) {
        for (int i = 0; i < times; ++i) addRepeatedStatusLine(line);
    }
    // Selects the newest line so that the list scrolls to it.
    virtual void selectLastStatusLine() = 0;
};

class OperationView : public StatusLog {
public:
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual void setProgressValue(int value) = 0;
    virtual int progressValue() const = 0;
    virtual void setProgressCaption(const QString& caption) = 0;

    // The printer's free flash as just read; none when the printer gave no
    // reading (a front end shows that as "unknown", not as a good reading).
    virtual void setFlashSpaceRemaining(std::optional<std::int64_t> freeBytes) = 0;
    virtual void setFlashNeededCaption(const QString& caption) = 0;
    // Makes column 1 of a list row the grid's current cell.
    virtual void setCurrentListRow(int row) = 0;

    // The Cancel the operator can press while the program waits for the
    // printer: offered only during such a wait.
    virtual void setCancelOffered(bool offered) = 0;
    virtual bool cancelRequested() const = 0;

    virtual OperatorPrompts& prompts() = 0;
};

}  // namespace velquin
