#include "file_list.h"

#include <QFile>
#include <QSaveFile>
#include <QTableWidget>
#include <array>
#include <climits>

#include "operation_view.h"

namespace velquin {

namespace {

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
    {"PCX IMAGE FILE *.PCX | *.PCX", "Select the PCX image File", "PFL", "PCX image FILE LIST *.PFL | *.PFL",
     "Select the PCX image printer file list", "Save PCX image File List"},
    {"BMP IMAGE FILE *.BMP | *.BMP", "Select the BMP image File", "BFL", "BMP image FILE LIST *.BFL | *.BFL",
     "Select the BMP image printer file list", "Save BMP image File File List"},
}};

const ModeFileTexts& textsOf(LoaderMode mode) {
    return MODE_FILE_TEXTS[static_cast<std::size_t>(mode)];
}

QString cellText(const QTableWidget& grid, int row, int column) {
    const QTableWidgetItem* item = grid.item(row, column);
    return item != nullptr ? item->text() : QString();
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

std::optional<std::int32_t> uploadSizeOf(LoaderMode mode, const QString& path,
                                         const SoftFontConverterCall& convert, StatusLog& status) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    if (mode != LoaderMode::ModeSF)
        return static_cast<std::int32_t>(std::min<qint64>(file.size(), INT32_MAX));
    file.close();
    return ConvertFileSFFtoQKS(path, false, convert, status).sizeOfConvertedFile;
}

bool writeListFile(const QString& listFile, const QStringList& paths) {
    QByteArray content;
    for (const QString& path : paths) content += QFile::encodeName(path) + "\r\n";
    QSaveFile file(listFile);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

std::optional<QStringList> readListFile(const QString& listFile) {
    QFile file(listFile);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) return std::nullopt;

    QStringList lines;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = start;
        while (end < content.size() && content[end] != '\r' && content[end] != '\n') ++end;
        lines << QFile::decodeName(content.mid(start, end - start));
        if (end < content.size() && content[end] == '\r') ++end;
        if (end < content.size() && content[end] == '\n') ++end;
        start = end;
    }
    return lines;
}

int FileList::count() const {
    return std::max(grid_.rowCount() - 1, 0);
}

bool FileList::append(const QString& path, std::int32_t size) {
    if (isFull()) return false;
    const int row = grid_.rowCount();
    grid_.setRowCount(row + 1);
    grid_.setItem(row, ORDER_COLUMN, new QTableWidgetItem(orderNumberText(row)));
    grid_.setItem(row, PATH_COLUMN, new QTableWidgetItem(path));
    grid_.setItem(row, SIZE_COLUMN, new QTableWidgetItem(QString::number(size)));
    state_.FileSizes[static_cast<std::size_t>(row - 1)] = size;
    state_.NextOrder = static_cast<std::int16_t>(row + 1);
    return true;
}

void FileList::removeLast() {
    if (count() == 0) return;
    grid_.setRowCount(grid_.rowCount() - 1);
    state_.NextOrder = static_cast<std::int16_t>(count() + 1);
}

void FileList::removeAll() {
    grid_.setRowCount(1);
    state_.NextOrder = 1;
    state_.FlashNeeded = 0;
}

QStringList FileList::paths() const {
    QStringList paths;
    for (int row = 1; row <= count(); ++row) paths << cellText(grid_, row, PATH_COLUMN);
    return paths;
}

std::int32_t FileList::recomputeFlashNeeded() {
    std::int64_t sum = 0;
    for (int row = 0; row < count(); ++row) sum += state_.FileSizes[static_cast<std::size_t>(row)];
    state_.FlashNeeded = static_cast<std::int32_t>(std::min<std::int64_t>(sum, INT32_MAX));
    return state_.FlashNeeded;
}

FileList::LoadReport FileList::load(const QStringList& lines, LoaderMode mode,
                                    const SoftFontConverterCall& convert, StatusLog& status) {
    removeAll();
    LoadReport report;
    auto notAdded = [&](int lineNumber, const QString& reason) {
        const QString text =
            QStringLiteral("line ") + QString::number(lineNumber) + QStringLiteral(": ") + reason;
        status.addStatusLine(QStringLiteral("List file ") + text + QStringLiteral(", not added"));
        report.notAdded << text;
    };
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const int lineNumber = static_cast<int>(index) + 1;
        const QString& path = lines[index];
        if (path.isEmpty()) {
            notAdded(lineNumber, QStringLiteral("empty"));
            continue;
        }
        if (isFull()) {
            notAdded(lineNumber, path + QStringLiteral(" (the list holds ") +
                                     QString::number(FILE_LIST_CAPACITY) + QStringLiteral(" files)"));
            continue;
        }
        const std::optional<std::int32_t> size = uploadSizeOf(mode, path, convert, status);
        if (!size) {
            notAdded(lineNumber, path + QStringLiteral(" can not be opened"));
            continue;
        }
        state_.CurrentFileSize = *size;
        append(path, *size);
        ++report.added;
    }
    recomputeFlashNeeded();
    return report;
}

}  // namespace velquin
