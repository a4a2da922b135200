// A process told apart from a later one that reuses its ID, read from /proc:
// what the spooler record names as a queue's owner and what the guardian
// watches.
#pragma once

#include <sys/types.h>

#include <string>

namespace morlix {

// Its start time in clock ticks since boot, and the boot it belongs to.
struct ProcessIdentity {
    pid_t pid = 0;
    unsigned long long startTime = 0;
    std::string bootId;
    bool operator==(const ProcessIdentity&) const = default;
};

// This process.
const ProcessIdentity& currentProcess();
// The identity of a running process; pid 0 when there is none by that ID.
ProcessIdentity identityOf(pid_t pid);
// True while the process runs (not yet ended, not a zombie).
bool isAlive(const ProcessIdentity& process);

}  // namespace morlix
