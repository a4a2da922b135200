#include "file_list.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>

#include "operation_view.h"
#include "preview.h"
#include "printer_facts.h"

namespace velquin {

namespace {

// Enough of a file's start to tell what it is.
constexpr qint64 KIND_HEAD_LENGTH = 16;

struct ModeFileTexts {
    const char* fileFilter;
    const char* fileTitle;
    const char* listExtension;
    const char* listFilter;
    const char* listOpenTitle;
    const char* listSaveTitle;
};

constexpr std::array<ModeFileTexts, 4> MODE_FILE_TEXTS = {{
    {"True Type Font FILE *.TTF | *.TTF|Open Type Fonts *.OTF|*.OTF", "Select the True Type Font File", "TFL",
     "TRUE TYPE FONT FILE LIST *.TFL | *.TFL", "Select the True Type Font printer file list",
     "Save True Type Font File List"},
    {"HP SOFT FONT FILE *.SFP | *.SFP", "Select the Soft Font File", "SFL",
     "SOFT FONT FILE LIST *.SFL | *.SFL", "Select the Soft Font printer file list",
     "Save Soft Font File List"},
    // Images of other kinds go through the conversion dialog to a PCX.
    {"PCX IMAGE FILE *.PCX | *.PCX|IMAGE TO CONVERT TO PCX|"
     "*.PNG;*.JPG;*.JPEG;*.BMP;*.GIF;*.SVG;*.SVGZ;*.TIF;*.TIFF;*.WEBP;*.PDF",
     "Select the PCX image File", "PFL", "PCX image FILE LIST *.PFL | *.PFL",
     "Select the PCX image printer file list", "Save PCX image File List"},
    {"BMP IMAGE FILE *.BMP | *.BMP", "Select the BMP image File", "BFL", "BMP image FILE LIST *.BFL | *.BFL",
     "Select the BMP image printer file list", "Save BMP image File File List"},
}};

const ModeFileTexts& textsOf(LoaderMode mode) {
    return MODE_FILE_TEXTS[static_cast<std::size_t>(mode)];
}

}  // namespace

FileDialogRequest addFileDialog(LoaderMode mode) {
    const ModeFileTexts& texts = textsOf(mode);
    return {QLatin1String(texts.fileTitle), QLatin1String(texts.fileFilter), QString()};
}

FileDialogRequest openListDialog(LoaderMode mode) {
    const ModeFileTexts& texts = textsOf(mode);
    return {QLatin1String(texts.listOpenTitle), QLatin1String(texts.listFilter),
            QLatin1String(texts.listExtension)};
}

FileDialogRequest saveListDialog(LoaderMode mode) {
    const ModeFileTexts& texts = textsOf(mode);
    return {QLatin1String(texts.listSaveTitle), QLatin1String(texts.listFilter),
            QLatin1String(texts.listExtension)};
}

QString orderNumberText(int order) {
    return QLatin1Char(' ') + QString::number(order);
}

std::optional<QString> fileKindProblem(LoaderMode mode, const QByteArray& head) {
    const auto startsWith = [&head](const char* signature, qsizetype length) {
        return head.size() >= length && std::memcmp(head.constData(), signature, length) == 0;
    };
    switch (mode) {
        case LoaderMode::ModeTTF:
            if (startsWith("\x00\x01\x00\x00", 4) || startsWith("OTTO", 4) || startsWith("true", 4) ||
                startsWith("ttcf", 4))
                return std::nullopt;
            return QStringLiteral("is not a TrueType or OpenType font (no font signature at its start)");
        case LoaderMode::ModePCX: {
            // Manufacturer 10, a known version, RLE or no encoding, 1 to 8 bits a pixel.
            const bool pcx = head.size() >= 4 && head[0] == '\x0a' &&
                             QByteArray("\x00\x02\x03\x04\x05", 5).contains(head[1]) &&
                             (head[2] == 0 || head[2] == 1) &&
                             QByteArray("\x01\x02\x04\x08", 4).contains(head[3]);
            if (pcx) return std::nullopt;
            if (fileKindProblem(LoaderMode::ModeTTF, head) == std::nullopt)
                return QStringLiteral("is a font, not a PCX image");
            return QStringLiteral("is not a PCX image (no PCX header)");
        }
        case LoaderMode::ModeBMP:
            if (startsWith("BM", 2)) return std::nullopt;
            return QStringLiteral("is not a BMP image (no BMP header)");
        case LoaderMode::ModeSF:
            break;
    }
    return std::nullopt;
}

std::optional<QString> loadProblem(LoaderMode mode, const QString& path) {
    if (mode == LoaderMode::ModeSF) return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("can not be opened");
    if (std::optional<QString> wrongKind = fileKindProblem(mode, file.read(KIND_HEAD_LENGTH)))
        return wrongKind;
    file.close();
    if (const QString unreadable = preview::loadProblem(mode, path); !unreadable.isEmpty())
        return QStringLiteral("cannot be loaded: ") + unreadable;
    return std::nullopt;
}

std::optional<std::int32_t> uploadSizeOf(LoaderMode mode, const QString& path,
                                         const SoftFontConverterCall& convert, StatusLog& status,
                                         QString* problem) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    if (mode != LoaderMode::ModeSF) {
        if (const std::optional<QString> refused = loadProblem(mode, path)) {
            if (problem) *problem = *refused;
            return std::nullopt;
        }
        return static_cast<std::int32_t>(std::min<qint64>(file.size(), INT32_MAX));
    }
    file.close();
    const ConversionOutcome conversion = ConvertFileSFFtoQKS(path, false, convert, status);
    if (!conversion.converted) {
        if (problem)
            *problem = QStringLiteral("is not a soft font the converter can load: ") + conversion.reason;
        return std::nullopt;
    }
    return conversion.sizeOfConvertedFile;
}

namespace {
constexpr char ROW_MIME_TYPE[] = "application/x-velquin-list-row";
}  // namespace

FileList::FileList(QObject* parent) : QAbstractTableModel(parent) {
    for (int column = 0; column < LIST_COLUMNS; ++column) headings_ << QString();
}

int FileList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count() + 1;
}

int FileList::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : LIST_COLUMNS;
}

QVariant FileList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() > count() || index.column() >= LIST_COLUMNS) return {};
    if (index.row() == 0) return role == Qt::DisplayRole ? QVariant(headings_[index.column()]) : QVariant();
    const Row& row = rows_[static_cast<std::size_t>(index.row() - 1)];
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case ORDER_COLUMN:
                    return orderNumberText(index.row());
                case PATH_COLUMN:
                    return row.path;
                case SIZE_COLUMN:
                    return QString::number(row.size);
                default:
                    return row.fontId;
            }
        case HeldRole:
            return row.held;
        case PathRole:
            return row.path;
        default:
            return {};
    }
}

Qt::ItemFlags FileList::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    if (index.row() == 0) return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

Qt::DropActions FileList::supportedDropActions() const {
    return Qt::MoveAction;
}

QStringList FileList::mimeTypes() const {
    return {QLatin1String(ROW_MIME_TYPE)};
}

QMimeData* FileList::mimeData(const QModelIndexList& indexes) const {
    // One row is dragged at a time: the grid selects single rows.
    for (const QModelIndex& index : indexes) {
        if (index.row() < 1 || index.row() > count()) continue;
        auto data = std::make_unique<QMimeData>();
        data->setData(QLatin1String(ROW_MIME_TYPE), QByteArray::number(index.row()));
        return data.release();  // the view takes ownership
    }
    return nullptr;
}

bool FileList::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                               const QModelIndex&) const {
    return data != nullptr && action == Qt::MoveAction && data->hasFormat(QLatin1String(ROW_MIME_TYPE));
}

bool FileList::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                            const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) return false;
    bool ok = false;
    const int from = data->data(QLatin1String(ROW_MIME_TYPE)).toInt(&ok);
    if (!ok || from < 1 || from > count()) return false;
    // Dropped on a row: the dragged row takes its place; between rows: it
    // goes before `row`; below the last row: it goes last.
    int to = parent.isValid() ? parent.row() : row;
    if (to < 0 || to > count()) to = count();
    if (!parent.isValid() && to > from) --to;
    to = std::clamp(to, 1, count());
    moveRowTo(from, to);
    // The move is done here; the view must not remove the source row again.
    return false;
}

void FileList::setHeadings(const QStringList& headings) {
    for (int column = 0; column < LIST_COLUMNS && column < headings.size(); ++column)
        headings_[column] = headings[column];
    emit dataChanged(index(0, 0), index(0, LIST_COLUMNS - 1));
}

QString FileList::heading(int column) const {
    return column >= 0 && column < LIST_COLUMNS ? headings_[column] : QString();
}

bool FileList::append(const QString& path, std::int32_t size) {
    if (isFull()) return false;
    const int row = count() + 1;
    beginInsertRows({}, row, row);
    rows_.push_back({path, size, QString(), false});
    endInsertRows();
    changed();
    return true;
}

void FileList::removeLast() {
    removeRowAt(count());
}

void FileList::removeAll() {
    if (count() > 0) {
        beginRemoveRows({}, 1, count());
        rows_.clear();
        endRemoveRows();
    }
    changed_ = false;
    emit listChanged();
}

bool FileList::removeRowAt(int row) {
    if (row < 1 || row > count()) return false;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + (row - 1));
    endRemoveRows();
    // The order numbers of the rows below change.
    if (row <= count()) emit dataChanged(index(row, ORDER_COLUMN), index(count(), ORDER_COLUMN));
    changed();
    return true;
}

bool FileList::moveRowTo(int from, int to) {
    if (from < 1 || from > count() || to < 1 || to > count() || from == to) return false;
    // Qt's destination is the row the moved one goes before, counted before the move.
    const int destination = to > from ? to + 1 : to;
    if (!beginMoveRows({}, from, from, {}, destination)) return false;
    Row moved = std::move(rows_[static_cast<std::size_t>(from - 1)]);
    rows_.erase(rows_.begin() + (from - 1));
    rows_.insert(rows_.begin() + (to - 1), std::move(moved));
    endMoveRows();
    emit dataChanged(index(std::min(from, to), ORDER_COLUMN), index(std::max(from, to), ORDER_COLUMN));
    changed();
    return true;
}

QStringList FileList::paths() const {
    QStringList paths;
    for (const Row& row : rows_) paths << row.path;
    return paths;
}

QString FileList::pathAt(int row) const {
    return row >= 1 && row <= count() ? rows_[static_cast<std::size_t>(row - 1)].path : QString();
}

FontIdReading readFontId(const QString& typed) {
    const QString text = typed.trimmed();
    if (text.isEmpty()) return {};
    const bool digitsOnly =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    bool inRange = false;
    const int id = digitsOnly && text.size() <= 9 ? text.toInt(&inRange) : 0;
    inRange = inRange && id >= FONT_ID_MIN && id <= FONT_ID_MAX;
    if (inRange) return {id, {}};
    return {std::nullopt, QStringLiteral("\"%1\" is not a font ID the printer takes: a font ID is a whole "
                                         "number from %2 to %3, the number its ticket commands name the "
                                         "font by.")
                              .arg(typed)
                              .arg(FONT_ID_MIN)
                              .arg(FONT_ID_MAX)};
}

std::vector<std::optional<int>> FileList::fontIds() const {
    std::vector<std::optional<int>> ids;
    for (const Row& row : rows_) ids.push_back(readFontId(row.fontId).id);
    return ids;
}

QString FileList::fontIdAt(int row) const {
    return row >= 1 && row <= count() ? rows_[static_cast<std::size_t>(row - 1)].fontId : QString();
}

void FileList::setFontId(int row, const QString& fontId) {
    if (row < 1 || row > count()) return;
    rows_[static_cast<std::size_t>(row - 1)].fontId = fontId;
    emit dataChanged(index(row, FONT_ID_COLUMN), index(row, FONT_ID_COLUMN));
}

void FileList::setHeld(const std::vector<bool>& held) {
    for (std::size_t row = 0; row < rows_.size(); ++row) rows_[row].held = row < held.size() && held[row];
    if (count() > 0) emit dataChanged(index(1, 0), index(count(), LIST_COLUMNS - 1), {HeldRole});
}

FileList::Recheck FileList::recheck(LoaderMode mode) {
    Recheck recheck;
    if (mode == LoaderMode::ModeSF) return recheck;
    for (std::size_t index = 0; index < rows_.size(); ++index) {
        Row& row = rows_[index];
        // A file gone or unreadable is told by the send itself, as it meets it.
        const QFileInfo file(row.path);
        if (!file.isFile()) continue;
        if (const auto size = static_cast<std::int32_t>(std::min<qint64>(file.size(), INT32_MAX));
            size != row.size) {
            recheck.resized << QStringLiteral("%1: %2 bytes when listed, %3 now")
                                   .arg(row.path, formatGrouped(row.size), formatGrouped(size));
            row.size = size;
            const int shown = static_cast<int>(index) + 1;
            emit dataChanged(this->index(shown, SIZE_COLUMN), this->index(shown, SIZE_COLUMN));
        }
        if (recheck.refusal.isEmpty()) {
            if (const std::optional<QString> problem = loadProblem(mode, row.path);
                problem && file.isReadable())
                recheck.refusal = QStringLiteral("File ") + row.path + QLatin1Char(' ') + *problem;
        }
    }
    return recheck;
}

void FileList::changed() {
    changed_ = true;
    emit listChanged();
}

std::int32_t FileList::flashNeeded() const {
    std::int64_t sum = 0;
    for (const Row& row : rows_) sum += row.size;
    return static_cast<std::int32_t>(std::min<std::int64_t>(sum, INT32_MAX));
}

FileList::MeasuredLines FileList::measure(const QStringList& lines, LoaderMode mode,
                                          const SoftFontConverterCall& convert, StatusLog& status) {
    MeasuredLines measured;
    auto notAdded = [&](int lineNumber, const QString& reason) {
        const QString text =
            QStringLiteral("line ") + QString::number(lineNumber) + QStringLiteral(": ") + reason;
        status.addStatusLine(QStringLiteral("List file ") + text + QStringLiteral(", not added"));
        measured.report.notAdded << text;
    };
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const int lineNumber = static_cast<int>(index) + 1;
        const QString& path = lines[index];
        if (path.isEmpty()) {
            notAdded(lineNumber, QStringLiteral("empty"));
            continue;
        }
        if (measured.files.size() >= FILE_LIST_CAPACITY) {
            notAdded(lineNumber, path + QStringLiteral(" (the list holds ") +
                                     QString::number(FILE_LIST_CAPACITY) + QStringLiteral(" files)"));
            continue;
        }
        QString problem;
        const std::optional<std::int32_t> size = uploadSizeOf(mode, path, convert, status, &problem);
        if (!size) {
            notAdded(lineNumber, path + (problem.isEmpty() ? QStringLiteral(" can not be opened")
                                                           : QLatin1Char(' ') + problem));
            continue;
        }
        measured.files.emplace_back(path, *size);
        ++measured.report.added;
    }
    return measured;
}

FileList::LoadReport FileList::load(const MeasuredLines& measured) {
    removeAll();
    for (const auto& [path, size] : measured.files) append(path, size);
    // Rows read from a list file are not a change the operator made.
    changed_ = false;
    emit listChanged();
    return measured.report;
}

}  // namespace velquin
