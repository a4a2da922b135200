// A file or a list given as "-" comes on standard input. It is read once,
// by the process that parses the command line, into a private folder, so
// that every worker and every printer gets the same bytes.
#pragma once

#include <QString>

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

}  // namespace velquin::load
