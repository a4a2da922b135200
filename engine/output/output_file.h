// Where a command's result goes: standard output ("-"), or a regular file
// that is replaced whole, only after every byte, the flush and the close
// succeeded, so a full disk or a stopped run leaves the old file as it was.
// (Qt's QSaveFile does the same but hides the system's reason for a failed
// write.)
#pragma once

#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace velquin {

// The name that means standard output.
inline constexpr char STANDARD_OUTPUT_NAME[] = "-";

// Why `path` may not take a command's result, or nothing when it may: it is
// one of `inputs` (the same file, by device and inode, whatever the name),
// or it exists and is not a regular file (a device, a pipe, a folder).
QString outputRefusal(const QString& path, const QStringList& inputs);

// Writes `bytes` to `path` (or to the descriptor `standardOutput` when
// `path` is "-") after outputRefusal's checks. Returns why it failed, with
// the system's reason; empty when everything was written.
QString writeOutputFile(const QString& path, const QByteArray& bytes, const QStringList& inputs,
                        int standardOutput = STDOUT_FILENO);

}  // namespace velquin
