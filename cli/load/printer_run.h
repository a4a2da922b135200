// What one printer gets from one velquin-load run: the worker side. A
// worker process drives exactly one printer through the program's engine
// (the library keeps one printer record per process) and writes its report
// as one JSON object on standard output; its events go to standard error,
// one line each, for the fleet to show.
#pragma once

#include <QByteArray>
#include <QJsonObject>

#include "load_options.h"

namespace velquin::load {

// Runs the command on options.printers.first(); the report of that printer.
QJsonObject runOnePrinter(const LoadOptions& options);

// The bytes `send` would write for the files, touching no printer; the
// error text in `error` when the files cannot be used.
QByteArray exportBytes(const LoadOptions& options, QString& error);

// Event lines a worker writes on standard error. A progress line is
// "@progress FILE|BYTES|SIZE|BYTES_PER_SECOND|STATE"; any other line is a
// message to show as it is.
inline constexpr char PROGRESS_PREFIX[] = "@progress ";

}  // namespace velquin::load
