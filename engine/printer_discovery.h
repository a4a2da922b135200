// Finding the printer and judging what it is: the local search, "Find
// Printer", the network printer reached at an address the operator typed,
// and the connection attempt itself. Discovery keeps what the printer
// information panel shows as a plain PrinterPanel and hands it to a
// DiscoveryView to draw; it holds no control of its own.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "ledger_types.h"
#include "printer_facts.h"
#include "printer_finder.h"

namespace velquin {

struct AppState;
class EngineThread;
class MorlixLibrary;
class OperatorPrompts;
class PrinterIo;
class PrinterSession;

// The outcome of one connection attempt. TimedOut and Stopped: the front end
// stopped waiting (at the time limit, or asked to) while the attempt was
// still inside the library.
struct ConnectOutcome {
    enum class Result { Connected, Failed, TimedOut, Stopped, LibraryMissing };
    Result result = Result::Failed;
    std::int32_t socket = 0;
};

// What discovery decides the program may do with the printer it found (or
// did not): the front end shows each as it shows its commands.
enum class DiscoveryCommand {
    Sending,         // sending the list to the printer
    ListEditing,     // removing files from the list
    Erasing,         // clearing the printer's font space
    NetworkSearch,   // looking for a network printer
    FreeFlashShown,  // the free flash read as a reading of a suitable printer
};

// What discovery draws on and asks of the program around it. The window
// implements it on its controls.
class DiscoveryView {
public:
    virtual ~DiscoveryView() = default;
    // Draws the panel's six value labels (not the free flash).
    virtual void showPanel(const PrinterPanel& panel) = 0;
    // Draws the free flash; other operations update it too, so it is drawn
    // only when discovery changes it.
    virtual void showFlash(const PanelFact& flash, std::optional<std::int64_t> freeBytes) = 0;
    virtual void setCommandAvailable(DiscoveryCommand command, bool available) = 0;
    // While a connect given up on is still inside the library, every command
    // that would reach the library or the list looks disabled; Exit stays.
    virtual void holdCommands(bool held) = 0;
    // The printer whose ledger record the program follows, or none.
    virtual void printerFound(const ledger::PrinterKey& printer, std::optional<qint64> freeFlash) = 0;
    virtual void printerLost() = 0;
    // The operator's list holds at least one file.
    virtual bool listHasFiles() const = 0;
    // The program is ending (the shutdown has put the spooler ports back).
    virtual bool endRequested() const = 0;
    virtual void endProgram(int exitCode) = 0;
};

class PrinterDiscovery {
public:
    PrinterDiscovery(AppState& state, MorlixLibrary& library, OperatorPrompts& prompts, PrinterIo& io,
                     DiscoveryView& view);
    ~PrinterDiscovery();

    // What the panel shows now.
    const PrinterPanel& panel() const { return panel_; }

    // The local search and display; leaves the list buttons disabled.
    PrinterPanel FindPrinterGetHandle();
    // The local search and display proper; false when the program must end
    // (the spooler ports could not be redirected).
    bool FindPrinterShowInfo();
    // "Find Printer", taking the running operation for itself.
    PrinterPanel findPrinter();
    // "Find Printer" for a caller that already holds the running operation
    // (the front end running it as a job).
    PrinterPanel searchAgain();
    // Shows the facts of the printer just connected over TCP at `address`.
    PrinterPanel showNetworkPrinter(const NetworkAddress& address);

    // Connects over TCP as a job on `engine`; `ended` then runs on the thread
    // of `context` with the outcome, at the latest when timeLimitMs have
    // passed. An attempt still inside the library then is abandoned: the
    // library stays held (no other job can start) until it returns, and the
    // socket it may still get is closed then. A refused lock or a missing
    // library call ends it at once.
    void startConnect(EngineThread& engine, const NetworkAddress& address, int timeLimitMs, QObject& context,
                      std::function<void(const ConnectOutcome&)> ended);
    bool connecting() const { return static_cast<bool>(connect_); }
    // Stops waiting for the connect under way (as the time limit does; it
    // ends Stopped).
    void stopConnect();
    // Shows what is left after a connection attempt ended or was given up
    // on: a printer, or none when no link is left. (The engine has already
    // taken over the connection, or closed the socket held before.)
    void adoptConnection(const ConnectOutcome& outcome);
    // Whether no connect given up on is still inside the library (one that
    // has left it is let go here).
    bool libraryFree();

private:
    // Hands the panel to the view, and gives it with its verdict.
    void publish();
    PrinterPanel finish();
    void clearFacts();
    void setFact(PanelFact& fact, const QString& text, bool acceptable);
    void showFlash(std::optional<std::int64_t> freeFlash);
    void showNoPrinter();
    // The three facts judged alike on both links (the board by the link).
    void showFacts(const PrinterFacts& facts);
    void judgeVersion(const PrinterFacts& facts);
    struct PendingConnect;
    // The front end stops waiting for the attempt under way.
    void abandonConnect(ConnectOutcome::Result result);
    // On the front end's thread, once the job of `attempt` has ended.
    void connectJobEnded(const std::shared_ptr<PendingConnect>& attempt);
    // The abandoned attempt has left the library: its commands are free again.
    void releaseAbandoned();
    // On the engine thread, as a connection attempt nobody gave up on
    // leaves the library: the session takes the connection, or forgets the
    // network printer and closes its socket.
    void linkAfterConnect(std::optional<std::int32_t> socket);
    // The network printer's locks go, and without a local printer the
    // session holds no printer.
    void forgetNetworkPrinter();

    AppState& state_;
    PrinterSession& session_;
    MorlixLibrary& library_;
    OperatorPrompts& prompts_;
    PrinterIo& io_;
    DiscoveryView& view_;
    PrinterFinder finder_;
    PrinterPanel panel_;
    // The lock keys of the network printer this window drives, and of the
    // one a connection is being made to (the finder holds their locks).
    std::optional<QString> networkKey_;
    QString pendingNetworkKey_;
    // The attempt the front end waits for, and one it gave up on that is
    // still inside the library.
    std::shared_ptr<PendingConnect> connect_;
    std::function<void(const ConnectOutcome&)> connectEnded_;
    QTimer connectTimer_;
    std::shared_ptr<PendingConnect> abandoned_;
};

}  // namespace velquin
