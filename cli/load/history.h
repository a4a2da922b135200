// velquin-load history: what the ledger recorded for a printer.
#pragma once

#include "load_options.h"

namespace velquin::load {

// Prints the loads and erases of every printer matching the options'
// printer, newest first (one JSON object with --json); the exit status
// (1 when the ledger knows no such printer).
int runHistory(const LoadOptions& options);

}  // namespace velquin::load
