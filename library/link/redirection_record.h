// The record of spooler queues moved onto the file device and not put back
// yet, kept in a file shared by every process of the user so that queues a
// crashed process moved are repaired by another. Each entry names the process
// that moved the queue; a queue is put back by its owner, or by anyone once
// the owner is gone. Every change is made under a lock on a file beside the
// record, merged with what is on disk and written atomically.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/process_identity.h"

namespace morlix {

struct RedirectionEntry {
    std::string originalUri;  // the device URI before the move
    bool wasStopped = false;  // the queue was stopped before we stopped it
    ProcessIdentity owner;
    bool operator==(const RedirectionEntry&) const = default;
};

// Queue name -> its entry.
using Redirections = std::map<std::string, RedirectionEntry>;

// $XDG_STATE_HOME/morlix/redirected-queues, or the same under
// ~/.local/state; empty when neither can be found.
std::string redirectionRecordPath();

// The record's entries; none when there is no record or it cannot be read.
Redirections loadRedirectionRecord();

// Reads the record under its lock, lets `change` alter it and writes the
// result back (removes the record when it is left empty). False when the
// record could not be locked or written; `change` has then still run on what
// could be read, so a caller without a record keeps working from memory.
bool updateRedirectionRecord(const std::function<void(Redirections&)>& change);

}  // namespace morlix
