// The fleet side of velquin-load: one worker process per printer (at most
// --jobs at a time), their events shown live on a terminal or one line each
// otherwise, and one report when all have ended.
#pragma once

#include <QJsonObject>
#include <QStringList>

#include "load_options.h"

namespace velquin::load {

// Runs the command on every printer; the exit status (0 all completed, 1
// any failed, 128 and the signal's number when a signal stopped the run).
int runFleet(const LoadOptions& options);

// The human summary of one printer's report.
QString summaryLine(const QJsonObject& report);

}  // namespace velquin::load
