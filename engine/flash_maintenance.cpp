#include "flash_maintenance.h"

#include <array>

#include "operation_view.h"
#include "operator_prompts.h"
#include "printer_connection.h"

namespace velquin {

namespace {

constexpr std::array<std::uint8_t, 4> CLEAR_FONT_SPACE_COMMAND = {'<', 'C', 'F', '>'};
// The printer needs a moment after the command before its status means anything.
constexpr int CLEAR_COMMAND_SETTLE_MS = 100;
constexpr int ERASE_PROGRESS_MAXIMUM = 60;
const QString UNREAD_FLASH_LINE = QStringLiteral(
    "Free flash unknown: the printer gave no flash reading (not answering, busy or restarted)");

}  // namespace

const QString DEMO_NOTHING_SENT = QStringLiteral("Demonstration only: no printer, nothing was sent");

namespace {}  // namespace

FlashMaintenance::FlashMaintenance(PrinterConnection& printer, OperationView& view,
                                   std::function<void(int)> sleepMs, std::chrono::milliseconds toggleTimeout)
    : printer_(printer), view_(view), sleepMs_(std::move(sleepMs)), toggleTimeout_(toggleTimeout) {}

EraseOutcome FlashMaintenance::clearFontSpace(bool demoMode) {
    // Erasing cannot be undone: Enter answers No.
    const bool yes = view_.prompts().askYesNo(QStringLiteral("Are you sure you want to clear Font space?"),
                                              QStringLiteral("Clear Flash"), DefaultAnswer::No);
    if (!yes) return EraseOutcome::Declined;
    // Without a printer there is nothing to erase.
    if (demoMode) {
        view_.prompts().message(DEMO_NOTHING_SENT);
        return EraseOutcome::Declined;
    }

    commandSent_ = false;
    view_.clearStatus();
    view_.addStatusLine(QStringLiteral("Clearing flash memory"));
    const PrinterStatus initial = printer_.readStatus();
    const int initialToggle = initial.flashToggle();
    view_.addStatusLine(QStringLiteral("Initial State = ") + QString::number(initialToggle));
    // Without the toggle before the command its change could not be seen.
    if (!initial.read)
        return stop(EraseOutcome::PrinterGone,
                    QStringLiteral("The printer did not answer its status read, font space not cleared"),
                    false);
    if (!printer_.send(CLEAR_FONT_SPACE_COMMAND)) {
        return stop(EraseOutcome::PrinterGone,
                    QStringLiteral("The printer did not take the clear command, font space not cleared"),
                    false);
    }
    commandSent_ = true;
    sleepMs_(CLEAR_COMMAND_SETTLE_MS);

    view_.setProgressRange(0, ERASE_PROGRESS_MAXIMUM);
    view_.setProgressValue(0);
    view_.setProgressCaption(QStringLiteral("Erasing Flash memory - Please wait ...."));
    switch (waitForToggleChange(printer_, view_, initialToggle, QStringLiteral("Waiting for done, toggle"),
                                toggleTimeout_)) {
        case ToggleWait::Changed:
            break;
        case ToggleWait::TimedOut:
            return stop(EraseOutcome::TimedOut,
                        QStringLiteral("The printer did not report the end of the erase"));
        case ToggleWait::Cancelled:
            return stop(EraseOutcome::Cancelled, QStringLiteral("Stopped waiting for the end of the erase"));
        case ToggleWait::PrinterGone:
            return stop(EraseOutcome::PrinterGone,
                        QStringLiteral("The printer stopped answering during the erase"), false);
    }

    view_.setProgressValue(0);
    view_.setProgressCaption(QStringLiteral("Flash space erased"));
    view_.addStatusLine(QStringLiteral("Flash space erased"));
    const FlashSpace flash = printer_.readFlashSpace();
    ledger_.afterErase(ledger::Outcome::Confirmed, std::nullopt, flash.known());
    view_.setFlashSpaceRemaining(flash.known());
    if (!flash.read) {
        view_.addStatusLine(UNREAD_FLASH_LINE);
        view_.selectLastStatusLine();
        view_.prompts().message(QStringLiteral(
            "The printer reported the end of the erase, but its free flash could not be read"));
        return EraseOutcome::Erased;
    }
    view_.prompts().message(QStringLiteral("Font space cleared"));
    return EraseOutcome::Erased;
}

// The end of an erase that did not finish says so in the caption, and
// shows the free flash as the printer reports it now (unknown when gone).
EraseOutcome FlashMaintenance::stop(EraseOutcome outcome, const QString& message, bool printerThere) {
    view_.addStatusLine(message);
    view_.selectLastStatusLine();
    view_.setProgressCaption(message);
    const std::optional<std::int64_t> freeNow =
        printerThere ? printer_.readFlashSpace().known() : std::nullopt;
    // A command the printer never took erased nothing; a wait that ended
    // early (the printer gone included) may or may not have, so the loads
    // before it are no longer counted as held.
    ledger_.afterErase(commandSent_ ? ledger::Outcome::NotConfirmed : ledger::Outcome::Failed, std::nullopt,
                       freeNow);
    view_.setFlashSpaceRemaining(freeNow);
    reason_ = message;
    view_.prompts().message(message);
    return outcome;
}

void FlashMaintenance::getFlash(bool demoMode) {
    view_.clearStatus();
    view_.addStatusLine(QStringLiteral("Getflash space remaining start"));
    FlashSpace flash;
    if (printer_.isEthernet()) {
        flash = printer_.readFlashSpace();
    } else {
        view_.addStatusLine(QStringLiteral("Getflash space remaining, standard"));
        flash = printer_.readFlashSpace();
        view_.addStatusLine(QStringLiteral("Return code = ") + QString::number(flash.resultCode));
    }
    view_.addStatusLine(QStringLiteral("Getflash space remaining = ") +
                        (flash.read ? QString::number(flash.freeBytes) : QStringLiteral("unknown")));
    if (!flash.read) view_.addStatusLine(UNREAD_FLASH_LINE);
    if (demoMode) view_.addStatusLine(DEMO_NOTHING_SENT);
    view_.setFlashSpaceRemaining(flash.known());
}

void FlashMaintenance::getStatus(bool demoMode) {
    view_.clearStatus();
    const PrinterStatus status = printer_.readStatus();
    // A read that failed tells nothing about the toggle or the busy bit.
    QString answer;
    if (!status.read) {
        view_.addStatusLine(QStringLiteral("Flash toggle error"));
        answer = QStringLiteral("Printer status unknown, the status read failed");
    } else {
        const QString toggle = QString::number(status.flashToggle());
        view_.addStatusLine(QStringLiteral("Flash toggle = ") + toggle);
        answer = (status.busy() ? QStringLiteral("Printer busy") : QStringLiteral("Printer not busy")) +
                 QStringLiteral(", flash toggle = ") + toggle;
    }
    if (demoMode) answer += QStringLiteral(" (demonstration, no printer was asked)");
    view_.addStatusLine(answer);
    // The caption shows whether or not the diagnostics list does.
    view_.setProgressCaption(answer);
}

}  // namespace velquin
