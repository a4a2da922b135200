// velquin-load apply: makes every printer of a fleet file hold what its
// groups name, sending only what is missing (the ledger, verified against
// each printer), or with --check only saying what would be sent.
#pragma once

#include "load_options.h"

namespace velquin::load {

// Exit status of `apply --check` when some printer would be changed.
inline constexpr int EXIT_CHANGES_NEEDED = 3;

// 0 every printer holds what it must (or, under --check, needs nothing);
// 1 a printer failed; 2 usage or fleet file error; EXIT_CHANGES_NEEDED.
int runApply(const LoadOptions& options);

}  // namespace velquin::load
