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
// While the printer writes a file to flash, about once a second:
// "@waiting FILE|WAITED_MS|LIMIT_MS", the limit being the longest the
// wait may last (--timeout, or the limit for the file's size).
inline constexpr char WAITING_PREFIX[] = "@waiting ";

// A waiting line's fields as a person reads them:
// "waiting for the flash write, 12 s of 100 s: a.ttf".
QString waitingText(const QString& fields);
// What stopped a run on request: "interrupted by Ctrl-C (SIGINT)", "stopped
// by SIGTERM", ..., or "stopped" for no signal.
QString stopCause(int signal);

// Whether a log (not a terminal) shows this waiting line: one every ten seconds.
bool waitWorthALogLine(const QString& fields);

}  // namespace velquin::load
