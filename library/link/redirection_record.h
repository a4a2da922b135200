// The record of spooler queues this library moved onto the file device and
// has not put back yet, kept in a file so that a run that crashed before
// restoring them is repaired by the next one.
#pragma once

#include <map>
#include <string>

namespace morlix {

// Queue name -> the device URI the queue had before it was moved.
using Redirections = std::map<std::string, std::string>;

// $XDG_STATE_HOME/morlix/redirected-queues, or the same under
// ~/.local/state; empty when neither can be found.
std::string redirectionRecordPath();

// The record's entries; none when there is no record or it cannot be read.
Redirections loadRedirectionRecord();

// Replaces the record (removes it when `redirections` is empty); false when
// it could not be written.
bool saveRedirectionRecord(const Redirections& redirections);

}  // namespace morlix
