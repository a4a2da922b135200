// The printer's flash outside an upload: erasing the font space (with the
// same done-handshake as an upload), and the free-flash and toggle queries.
#pragma once

#include <QString>
#include <chrono>
#include <functional>

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

class FlashMaintenance {
public:
    FlashMaintenance(PrinterConnection& printer, OperationView& view, std::function<void(int)> sleepMs,
                     std::chrono::milliseconds toggleTimeout);

    // "Clear Font Space".
    EraseOutcome clearFontSpace(bool demoMode);
    // "GetFlash".
    void getFlash();
    // "Get Busy Status": shows the flash toggle bit.
    void getStatus();

private:
    EraseOutcome stop(EraseOutcome outcome, const QString& message);

    PrinterConnection& printer_;
    OperationView& view_;
    std::function<void(int)> sleepMs_;
    std::chrono::milliseconds toggleTimeout_;
};

}  // namespace velquin
