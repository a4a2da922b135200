// List files: one path per line, each ended by CR LF. They come from
// anywhere (a mail, a share), so a list is read only when it is a regular
// file of a sane size, and its lines are judged before they are used.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace velquin {

// The most a list file may hold: far more than 100 paths of the longest
// length a path can have.
inline constexpr qint64 MAX_LIST_FILE_SIZE = 1 << 20;

// Writes the paths, one per line, each ended by CR LF.
bool writeListFile(const QString& listFile, const QStringList& paths);

// The lines of a list file (ended by CR LF, CR or LF; the last may lack
// its end); nothing when the file cannot be read, is no regular file, is
// larger than MAX_LIST_FILE_SIZE or has a line with a NUL byte (then
// `problem`, when given, says which).
std::optional<QStringList> readListFile(const QString& listFile, QString* problem = nullptr);

// The lines of a list file's bytes, as readListFile judges them.
std::optional<QStringList> parseListFile(const QByteArray& content, QString* problem = nullptr);

// The same, each line as its bytes: a file's name as the system stores it,
// also when it is not text.
std::optional<QList<QByteArray>> readListFileLines(const QString& listFile, QString* problem = nullptr);
std::optional<QList<QByteArray>> parseListFileLines(const QByteArray& content, QString* problem = nullptr);

}  // namespace velquin
