// Files sent under a path of the program's own, in a private folder made by
// the process that parses the command line: a file or a list given as "-"
// (standard input, read once so that every printer gets the same bytes),
// and a file whose name is not valid UTF-8 (Qt cannot carry it as text;
// a link to it with a name that is can be opened the usual way).
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

#include "load_options.h"

namespace velquin::load {

// The most standard input may bring as a file: far more than a printer's flash holds.
inline constexpr qint64 MAX_STANDARD_INPUT_SIZE = qint64{64} << 20;

struct StandardInputTaken {
    QString error;  // empty when standard input was taken
    // The list named no file: a failure of the run, not of its usage.
    bool nothingToSend = false;
};

// Takes what `options` reads from standard input: `--list -` becomes the
// files it lists (relative paths from the current folder), a file "-"
// becomes a copy in `folder`.
StandardInputTaken takeStandardInput(LoadOptions& options, const QString& folder);

// A link in `folder` named `name` (and the file's extension) to the
// regular file named by `rawName` (bytes, not text); empty when there is no
// such file or the link cannot be made.
QString linkToRawName(const QByteArray& rawName, const QString& folder, const QString& name);

// A list file with a line that is not text cannot be handed on as a list:
// its files become the run's files (relative lines from the list's folder,
// its mode from its extension), those lines through links in the folder
// `folder` gives (made only when needed).
StandardInputTaken takeRawListNames(LoadOptions& options, const std::function<QString()>& folder);

// A name that is not text, as it is shown: its bytes outside printable
// ASCII as "\xNN".
QString rawNameShown(const QByteArray& rawName);

}  // namespace velquin::load
