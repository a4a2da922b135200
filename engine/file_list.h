// The operator's file list: the grid rows with their upload sizes and the
// "Flash Needed" sum, the list files that save and restore it, and the texts
// of the mode's file dialogs.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "app_state.h"
#include "conversion.h"
#include "operator_prompts.h"

class QTableWidget;

namespace velquin {

class StatusLog;

// Grid columns of a data row.
inline constexpr int ORDER_COLUMN = 0;
inline constexpr int PATH_COLUMN = 1;
inline constexpr int SIZE_COLUMN = 2;
inline constexpr int FONT_ID_COLUMN = 3;

// The file dialogs of a mode: one file to add, a list file to open or save.
FileDialogRequest addFileDialog(LoaderMode mode);
FileDialogRequest openListDialog(LoaderMode mode);
FileDialogRequest saveListDialog(LoaderMode mode);

// The order column's text: the number behind one blank (" 1").
QString orderNumberText(int order);

// What a file takes in the printer's flash in a mode: its length, or for a
// soft font the length of its converted file (0 when it does not convert;
// the converter's failure line goes to `status`). Nothing for a file that
// cannot be opened.
std::optional<std::int32_t> uploadSizeOf(LoaderMode mode, const QString& path,
                                         const SoftFontConverterCall& convert, StatusLog& status);

// List files: one path per line, each ended by CR LF.
bool writeListFile(const QString& listFile, const QStringList& paths);
// The lines of a list file (ended by CR LF, CR or LF; the last may lack
// its end); nothing when the file cannot be read.
std::optional<QStringList> readListFile(const QString& listFile);

// The grid's data rows (row 0 is the heading row) kept in step with
// NextOrder, FileSizes and FlashNeeded.
class FileList {
public:
    FileList(QTableWidget& grid, AppState& state) : grid_(grid), state_(state) {}

    int count() const;
    bool isFull() const { return count() >= static_cast<int>(FILE_LIST_CAPACITY); }
    // Appends a row; false when the list is full.
    bool append(const QString& path, std::int32_t size);
    void removeLast();
    void removeAll();
    // Column 1 of every data row, in order.
    QStringList paths() const;
    // Sets FlashNeeded to the sum of the listed sizes, and gives it back.
    std::int32_t recomputeFlashNeeded();

    struct LoadReport {
        int added = 0;
        // One text per line that was not added ("line 3: empty").
        QStringList notAdded;
    };
    // Replaces the list by the files the lines name, in order. Empty lines,
    // lines naming a file that cannot be opened and lines beyond the list's
    // capacity are not added; each is reported in `status` and the report.
    LoadReport load(const QStringList& lines, LoaderMode mode, const SoftFontConverterCall& convert,
                    StatusLog& status);

private:
    QTableWidget& grid_;
    AppState& state_;
};

}  // namespace velquin
