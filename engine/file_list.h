// The operator's file list: the rows the grid shows with their upload sizes
// and the "Flash Needed" sum, the list files that save and restore it, and the texts
// of the mode's file dialogs.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "app_state.h"
#include "conversion.h"
#include "list_file.h"
#include "operator_prompts.h"

class QMimeData;

namespace velquin {

class StatusLog;

// Grid columns of a data row.
inline constexpr int ORDER_COLUMN = 0;
inline constexpr int PATH_COLUMN = 1;
inline constexpr int SIZE_COLUMN = 2;
inline constexpr int FONT_ID_COLUMN = 3;
inline constexpr int LIST_COLUMNS = 4;

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
// A file that is not what the mode loads is not sized either: `problem`
// (when given) then says what it is and why it is refused.
std::optional<std::int32_t> uploadSizeOf(LoaderMode mode, const QString& path,
                                         const SoftFontConverterCall& convert, StatusLog& status,
                                         QString* problem = nullptr);

// Why the file cannot be loaded in the mode: its start is not what the mode
// loads, or the preview's reading refuses it (a cut font, an image whose
// data ends early or that is too large); nothing when it can. The text
// follows "File PATH". Soft fonts are judged by their converter.
std::optional<QString> loadProblem(LoaderMode mode, const QString& path);

// Why the first bytes of a file are not what the mode loads (TrueType,
// OpenType or a collection; a PCX image; a BMP image); nothing when they
// are. Soft fonts are judged by their converter.
std::optional<QString> fileKindProblem(LoaderMode mode, const QByteArray& head);

// A True Type font's ID is the number the printer's ticket commands name it
// by ("<TTF3,30>" prints with font 3): a whole number in this range.
inline constexpr int FONT_ID_MIN = 1;
inline constexpr int FONT_ID_MAX = 255;

// A typed font ID, read as the printer takes it: no ID for an empty text,
// the number for digits within the range, else why it is refused.
struct FontIdReading {
    std::optional<int> id;
    QString refusal;
};
FontIdReading readFontId(const QString& typed);

// The operator's list as the model the grid shows. Row 0 is the heading
// row (the mode's column headings, not selectable); rows 1 to count() are the
// files in the order they are sent, each with its size: the list is the
// program's only record of what it holds. Rows move by drag and drop within
// the grid.
class FileList final : public QAbstractTableModel {
    Q_OBJECT

public:
    // Whether the printer is known to hold a row's file already.
    static constexpr int HeldRole = Qt::UserRole + 1;
    // A row's whole path (column 1 may be shown shortened).
    static constexpr int PathRole = Qt::UserRole + 2;

    explicit FileList(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // The heading row's texts, column by column.
    void setHeadings(const QStringList& headings);
    QString heading(int column) const;

    int count() const { return static_cast<int>(rows_.size()); }
    bool isFull() const { return count() >= static_cast<int>(FILE_LIST_CAPACITY); }
    // Appends a row; false when the list is full.
    bool append(const QString& path, std::int32_t size);
    void removeLast();
    void removeAll();
    // Removes list row `row` (1 to count()); false when there is none.
    bool removeRowAt(int row);
    // Moves list row `from` to position `to` (both 1 to count()).
    bool moveRowTo(int from, int to);
    // Column 1 of every data row, in order.
    QStringList paths() const;
    QString pathAt(int row) const;
    // The font ID noted beside a True Type row (column 3).
    QString fontIdAt(int row) const;
    // The font ID of each row, in list order (none where none was noted).
    std::vector<std::optional<int>> fontIds() const;
    void setFontId(int row, const QString& fontId);
    // One flag per list row, in order.
    void setHeld(const std::vector<bool>& held);

    // The list read again from disk just before it is sent: the rows whose
    // file changed size since they were listed take the new size, and the
    // first file that can no longer be loaded is named. Soft fonts are
    // sized by their conversion, which the send makes anyway.
    struct Recheck {
        QStringList resized;  // "PATH: 1,108 bytes when listed, 4,774 now"
        QString refusal;      // "File PATH cannot be loaded: REASON"; empty when none
    };
    Recheck recheck(LoaderMode mode);
    // "Flash Needed": the sum of the listed sizes (at most the largest 32-bit number).
    std::int32_t flashNeeded() const;

    // Whether the list changed since it was last saved to or read from a
    // list file (an empty list counts as unchanged).
    bool changedSinceSaved() const { return changed_ && count() > 0; }
    void markSaved() { changed_ = false; }

    struct LoadReport {
        int added = 0;
        // One text per line that was not added ("line 3: empty").
        QStringList notAdded;
    };
    // What the lines of a list file come to: the files an empty list takes,
    // in order, with their upload sizes, and the lines it does not take.
    struct MeasuredLines {
        std::vector<std::pair<QString, std::int32_t>> files;
        LoadReport report;
    };
    // Sizes the files the lines name, touching no list, so that it may run
    // where the converter runs. Empty lines, lines naming a file that cannot
    // be opened and lines beyond the list's capacity are not taken; each is
    // reported in `status` and the report.
    static MeasuredLines measure(const QStringList& lines, LoaderMode mode,
                                 const SoftFontConverterCall& convert, StatusLog& status);
    // Replaces the list by the files measured.
    LoadReport load(const MeasuredLines& measured);
    LoadReport load(const QStringList& lines, LoaderMode mode, const SoftFontConverterCall& convert,
                    StatusLog& status) {
        return load(measure(lines, mode, convert, status));
    }

signals:
    // Rows were added, removed or moved (not a font ID or a held mark).
    void listChanged();

private:
    struct Row {
        QString path;
        std::int32_t size = 0;
        QString fontId;
        bool held = false;
    };
    void changed();

    QStringList headings_;
    std::vector<Row> rows_;
    bool changed_ = false;
};

}  // namespace velquin
