// Finding the printer and showing what it is: the local search with the
// printer information panel, "Find Printer", the network printer reached
// through the address dialog, and the connection attempt itself.
#pragma once

#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "printer_facts.h"

class QLabel;

namespace velquin {

class MainWindow;

// The outcome of one connection attempt.
struct ConnectOutcome {
    enum class Result { Connected, Failed, TimedOut, LibraryMissing };
    Result result = Result::Failed;
    std::int32_t socket = 0;
};

class PrinterDiscovery {
public:
    explicit PrinterDiscovery(MainWindow& window);
    ~PrinterDiscovery();

    // The local search and display; leaves the list buttons disabled.
    void FindPrinterGetHandle();
    // The local search and display proper; false when the program must end
    // (the spooler ports could not be redirected).
    bool FindPrinterShowInfo();
    // "Find Printer".
    void cmdFindPrinter_Click();
    // "Find Network Printer": the dialog, then the network printer's facts.
    void cmdFindNetworkPrinter_Click();
    // Shows the facts of the printer just connected over TCP.
    void showNetworkPrinter();

    // Connects over TCP on a worker thread while the window stays live, for
    // at most timeLimitMs. An attempt still running at the limit is left to
    // finish; its socket, if it gets one, is closed then.
    ConnectOutcome connectEthernet(const QByteArray& octet1, const QByteArray& octet2,
                                   const QByteArray& octet3, const QByteArray& octet4, const QByteArray& port,
                                   int timeLimitMs);
    // Takes over a connection result on the main window, or records the
    // failure there; the socket held before is closed either way.
    void adoptConnection(const ConnectOutcome& outcome);

private:
    void clearFacts();
    void showFact(QLabel* label, const QString& text, bool acceptable);
    void showFlash(std::int64_t freeFlash);
    // The three facts judged alike on both links (the board by the link).
    void showFacts(std::int32_t logicBoard, std::int32_t printerType, std::int32_t printerModel,
                   PrinterLink link);
    void judgeVersion(PrinterLink link);
    void checkAbandonedConnect();

    struct PendingConnect;
    MainWindow& window_;
    std::shared_ptr<PendingConnect> abandoned_;
    QTimer abandonedTimer_;
};

}  // namespace velquin
