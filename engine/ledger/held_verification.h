// Whether the ledger's record of what a printer holds can be believed now.
// The record is kept on this workstation only: another workstation may have
// erased or loaded the printer since, or another printer may stand at the
// address. Before anything is taken as held, the printer's free flash now is
// compared with what the ledger expects after the loads it records.
#pragma once

#include <QString>
#include <optional>

#include "ledger_types.h"

namespace velquin::ledger {

enum class HeldTrust {
    Verified,         // the printer reports the free flash the ledger expects
    NothingRecorded,  // no load or erase of this printer is recorded here
    OtherPrinter,     // the link is recorded, but for a printer of another identity
    Stale,            // the free flash differs: loaded or erased elsewhere since
    Unverifiable,     // no reading from the printer now, or the ledger cannot be read
};

struct HeldVerdict {
    HeldTrust trust = HeldTrust::Unverifiable;
    std::optional<qint64> expected;  // the free flash the ledger expects
    std::optional<qint64> reported;  // what the printer reports now

    // Only a verified record says what the printer holds.
    bool recordTrusted() const { return trust == HeldTrust::Verified; }
    // The ledger once knew this link and what it held no longer stands.
    bool changed() const { return trust == HeldTrust::Stale || trust == HeldTrust::OtherPrinter; }
};

// The rule itself, over the ledger's flash check for the printer as it is
// identified now, and whether the same link is recorded with another
// identity.
HeldVerdict verifyHeld(const FlashCheck& check, std::optional<qint64> freeNow,
                       bool linkRecordedForOtherIdentity);

// "verified", "nothing-recorded", "other-printer", "stale", "unverifiable".
QString trustName(HeldTrust trust);
// One sentence for the operator; empty when the record was verified.
QString verdictText(const HeldVerdict& verdict);

}  // namespace velquin::ledger
