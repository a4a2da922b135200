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

}  // namespace

FlashMaintenance::FlashMaintenance(PrinterConnection& printer, OperationView& view,
                                   std::function<void(int)> sleepMs, std::chrono::milliseconds toggleTimeout)
    : printer_(printer), view_(view), sleepMs_(std::move(sleepMs)), toggleTimeout_(toggleTimeout) {}

EraseOutcome FlashMaintenance::clearFontSpace(bool demoMode) {
    const bool yes = view_.prompts().askYesNo(QStringLiteral("Are you sure you want to clear Font space?"),
                                              QStringLiteral("Clear Flash"));
    // Without a printer there is nothing to erase.
    if (!yes || demoMode) return EraseOutcome::Declined;

    view_.clearStatus();
    view_.addStatusLine(QStringLiteral("Clearing flash memory"));
    const int initialToggle = readFlashToggle(printer_);
    view_.addStatusLine(QStringLiteral("Initial State = ") + QString::number(initialToggle));
    if (!printer_.send(CLEAR_FONT_SPACE_COMMAND)) {
        return stop(EraseOutcome::PrinterGone,
                    QStringLiteral("The printer did not take the clear command, font space not cleared"));
    }
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
                        QStringLiteral("The printer stopped answering during the erase"));
    }

    view_.setProgressValue(0);
    view_.setProgressCaption(QStringLiteral("Flash space erased"));
    view_.addStatusLine(QStringLiteral("Flash space erased"));
    view_.setFlashSpaceRemaining(printer_.readFlashSpace().freeBytes);
    view_.processEvents();
    view_.prompts().message(QStringLiteral("Font space cleared"));
    return EraseOutcome::Erased;
}

EraseOutcome FlashMaintenance::stop(EraseOutcome outcome, const QString& message) {
    view_.addStatusLine(message);
    view_.selectLastStatusLine();
    view_.prompts().message(message);
    return outcome;
}

void FlashMaintenance::getFlash() {
    view_.clearStatus();
    view_.addStatusLine(QStringLiteral("Getflash space remaining start"));
    view_.processEvents();
    FlashSpace flash;
    if (printer_.isEthernet()) {
        flash = printer_.readFlashSpace();
    } else {
        view_.addStatusLine(QStringLiteral("Getflash space remaining, standard"));
        flash = printer_.readFlashSpace();
        view_.addStatusLine(QStringLiteral("Return code = ") + QString::number(flash.resultCode));
        view_.processEvents();
    }
    view_.addStatusLine(QStringLiteral("Getflash space remaining = ") + QString::number(flash.freeBytes));
    view_.processEvents();
    view_.setFlashSpaceRemaining(flash.freeBytes);
}

void FlashMaintenance::getStatus() {
    view_.clearStatus();
    const PrinterStatus status = printer_.readStatus();
    // A read that failed tells nothing about the toggle.
    if (!status.read) {
        view_.addStatusLine(QStringLiteral("Flash toggle error"));
    } else {
        view_.addStatusLine(QStringLiteral("Flash toggle = ") + QString::number(status.flashToggle()));
    }
}

}  // namespace velquin
