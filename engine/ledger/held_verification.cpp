#include "held_verification.h"

namespace velquin::ledger {

HeldVerdict verifyHeld(const FlashCheck& check, std::optional<qint64> freeNow,
                       bool linkRecordedForOtherIdentity) {
    HeldVerdict verdict;
    verdict.expected = check.expected;
    if (freeNow && *freeNow > 0) verdict.reported = freeNow;
    switch (check.agreement) {
        case FlashAgreement::Agrees:
            verdict.trust = HeldTrust::Verified;
            break;
        case FlashAgreement::ChangedSinceLastSeen:
            verdict.trust = HeldTrust::Stale;
            break;
        case FlashAgreement::NeverSeen:
            verdict.trust =
                linkRecordedForOtherIdentity ? HeldTrust::OtherPrinter : HeldTrust::NothingRecorded;
            break;
        case FlashAgreement::Unknown:
            verdict.trust = HeldTrust::Unverifiable;
            break;
    }
    return verdict;
}

QString trustName(HeldTrust trust) {
    switch (trust) {
        case HeldTrust::Verified:
            return QStringLiteral("verified");
        case HeldTrust::NothingRecorded:
            return QStringLiteral("nothing-recorded");
        case HeldTrust::OtherPrinter:
            return QStringLiteral("other-printer");
        case HeldTrust::Stale:
            return QStringLiteral("stale");
        case HeldTrust::Unverifiable:
            break;
    }
    return QStringLiteral("unverifiable");
}

QString verdictText(const HeldVerdict& verdict) {
    auto number = [](std::optional<qint64> value) {
        return value ? QString::number(*value) : QStringLiteral("unknown");
    };
    switch (verdict.trust) {
        case HeldTrust::Verified:
        case HeldTrust::NothingRecorded:
            return {};
        case HeldTrust::OtherPrinter:
            return QStringLiteral(
                "Another printer stands at this address than the one recorded: nothing is taken as held");
        case HeldTrust::Stale:
            return QStringLiteral(
                       "The record of this printer is stale: it reports %1 bytes free, the record expects %2 "
                       "(loaded or erased elsewhere); nothing is taken as held")
                .arg(number(verdict.reported), number(verdict.expected));
        case HeldTrust::Unverifiable:
            break;
    }
    return QStringLiteral(
        "The printer's free flash cannot be compared with the record: nothing is taken as held");
}

}  // namespace velquin::ledger
