// The printer's flash outside an upload: erasing the font space (with the
// same done-handshake as an upload), and the free-flash and toggle queries.
#pragma once

#include <QString>
#include <chrono>
#include <functional>

#include "ledger.h"

namespace velquin {

class OperationView;
class PrinterConnection;

enum class EraseOutcome {
    Erased,
    Declined,     // the operator answered No (demo mode always does)
    PrinterGone,  // the command or a status read failed
    TimedOut,
    Cancelled,
};

// Said, in demo mode, by the commands that would have talked to the printer.
extern const QString DEMO_NOTHING_SENT;

class FlashMaintenance {
public:
    FlashMaintenance(PrinterConnection& printer, OperationView& view, std::function<void(int)> sleepMs,
                     std::chrono::milliseconds toggleTimeout);

    // Where later erases are recorded (nowhere by default).
    void recordIn(ledger::PrinterLedger ledger) { ledger_ = std::move(ledger); }

    // "Clear Font Space".
    EraseOutcome clearFontSpace(bool demoMode);
    // "GetFlash".
    void getFlash(bool demoMode = false);
    // "Get Busy Status": shows the flash toggle bit and whether the printer
    // is busy, also in the progress caption (the diagnostics may be hidden).
    void getStatus(bool demoMode = false);
    // What the operator was told of the last erase that did not finish.
    const QString& reason() const { return reason_; }

private:
    EraseOutcome stop(EraseOutcome outcome, const QString& message, bool printerThere = true);

    PrinterConnection& printer_;
    OperationView& view_;
    std::function<void(int)> sleepMs_;
    std::chrono::milliseconds toggleTimeout_;
    ledger::PrinterLedger ledger_;
    bool commandSent_ = false;  // of the erase under way
    QString reason_;
};

}  // namespace velquin
