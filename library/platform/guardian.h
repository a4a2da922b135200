// The guardian: a small program of ours, started once per process that
// moves spooler queues, that puts the process's queues back when the process
// ends without doing so itself (killed, or its display lost). It waits on a
// pipe whose only writer is this process, so it learns of the end whatever
// caused it.
#pragma once

#include <string>

namespace morlix::platform {

// Name of the guardian's program, installed beside the library in the build
// tree and in the library's libexec folder once installed.
inline constexpr const char* GUARDIAN_PROGRAM = "morlix-guardian";

// Starts the guardian for this process unless it runs already; says on the
// debug channel when it cannot be started (the record still lets the next
// run put the queues back).
void startGuardian() noexcept;

// Where the guardian's program is: MORLIX_GUARDIAN when set (empty: no
// guardian), else beside the code of this library, else in its install
// folder; empty when none is there.
std::string guardianPath();

}  // namespace morlix::platform
