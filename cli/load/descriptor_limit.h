// Each worker a fleet runs holds descriptors in velquin-load itself (the
// pipes of its output and errors, its process handle): a few hundred
// printers at once outgrow the usual soft limit of 1,024.
#pragma once

#include <QString>
#include <optional>

namespace velquin::load {

// Raises the soft limit on open descriptors to the hard one (the program
// waits on its descriptors with poll, which has no ceiling of its own).
void raiseDescriptorLimit();

// How many workers may run at once within the soft limit on descriptors;
// nothing when the limit is not known.
std::optional<int> workersWithinDescriptorLimit();

// The number of workers to run at once: `jobs` (0: `printers`), held to what
// the descriptor limit allows. `notice` gets a line to show when it was held.
int workersAtOnce(int jobs, int printers, QString* notice);

// Why a worker could not start, given Qt's reason: a start that failed for
// want of descriptors leaves Qt a stale reason ("No such file or
// directory"), so a pipe of our own tells the real one.
QString workerStartFailure(const QString& qtReason);

}  // namespace velquin::load
