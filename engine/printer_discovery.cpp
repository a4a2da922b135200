#include "printer_discovery.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <atomic>
#include <thread>

#include "main_window.h"
#include "morlix_library.h"
#include "network_address_dialog.h"
#include "operator_prompts.h"
#include "printer_holds.h"
#include "printer_lock.h"
#include "velquin/printer_codes.h"

namespace velquin {

namespace {

constexpr char PRODUCT_TITLE[] = "Zara Rida Davezo";
constexpr std::int64_t DEMO_LOCAL_FLASH = 5'000'000;
constexpr std::int64_t DEMO_NETWORK_FLASH = 8'000'000;
constexpr float DEMO_VERSION = 5.03f;
constexpr int FIND_PRINTER_WAIT_MS = 1'000;
constexpr int ABANDONED_CONNECT_POLL_MS = 100;

void processPendingEvents() {
    QCoreApplication::processEvents();
}

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

}  // namespace

// One connection attempt running on its worker thread. The worker owns a
// share of it, so it outlives an attempt that the window gave up on.
struct PrinterDiscovery::PendingConnect {
    std::atomic<bool> done{false};
    std::int32_t result = 0;
    std::int32_t socket = 0;
};

PrinterDiscovery::PrinterDiscovery(MainWindow& window) : window_(window) {
    abandonedTimer_.setInterval(ABANDONED_CONNECT_POLL_MS);
    QObject::connect(&abandonedTimer_, &QTimer::timeout, [this] { checkAbandonedConnect(); });
}

PrinterDiscovery::~PrinterDiscovery() = default;

void PrinterDiscovery::showFact(QLabel* label, const QString& text, bool acceptable) {
    label->setText(text);
    setTextColour(label, factColour(acceptable));
    if (!acceptable) window_.state.PrinterSuitable = FLAG_FALSE;
}

void PrinterDiscovery::showFacts(std::int32_t logicBoard, std::int32_t printerType, std::int32_t printerModel,
                                 PrinterLink link) {
    showFact(window_.lblHardware, GetLogicBoardType(logicBoard), logicBoardAcceptable(logicBoard, link));
    showFact(window_.lblPrinterType, GetPrinterType(printerType), printerTypeAcceptable(printerType));
    showFact(window_.lblPrinterModel, GetPrinterModel(printerModel), printerModelAcceptable(printerModel));
}

// Shows PrinterVersion and judges it; the upgrade message only when no
// earlier fact failed. Then colours the found label by the verdict.
void PrinterDiscovery::judgeVersion(PrinterLink link) {
    AppState& state = window_.state;
    window_.lblVersion->setText(versionCaption(state.PrinterVersion));
    const bool acceptable = firmwareVersionAcceptable(state.PrinterVersion, link);
    setTextColour(window_.lblVersion, factColour(acceptable));
    if (!acceptable) {
        if (isTrue(state.PrinterSuitable))
            window_.CD.message(
                link == PrinterLink::Local
                    ? QStringLiteral("Printer version does not support True type Fonts, Please "
                                     "upgrade to V5.00 or greater")
                    : QStringLiteral("Printer version does not support Soft Fonts, Please upgrade "
                                     "to V2.05 or greater"),
                APPLICATION_TITLE);
        state.PrinterSuitable = FLAG_FALSE;
    }
    setTextColour(window_.lblPrinterFound, factColour(isTrue(state.PrinterSuitable)));
}

void PrinterDiscovery::showFlash(std::optional<std::int64_t> freeFlash) {
    showFreeFlash(*window_.lblFlashSpaceRemaining, freeFlash, isTrue(window_.state.DemoMode));
}

// No printer is reachable: nothing of the last one stays on screen.
void PrinterDiscovery::showNoPrinter() {
    clearFacts();
    window_.lblPrinterFound->setText(QStringLiteral("PRINTER NOT FOUND"));
    setTextColour(window_.lblPrinterFound, FACT_UNACCEPTABLE_COLOUR);
    window_.lblFlashSpaceRemaining->clear();
}

void PrinterDiscovery::clearFacts() {
    window_.printerHolds().printerLost();
    for (QLabel* label : {window_.lblPortType, window_.lblPrinterType, window_.lblHardware,
                          window_.lblPrinterModel, window_.lblVersion})
        label->clear();
}

void PrinterDiscovery::FindPrinterGetHandle() {
    AppState& state = window_.state;
    state.PrinterFoundHandle = FLAG_FALSE;
    processPendingEvents();
    if (!FindPrinterShowInfo()) return;
    processPendingEvents();
    window_.cmdSendListToPrinter->setEnabled(false);
    window_.cmdDeleteLastItem->setEnabled(false);
    window_.cmdDeleteAllItems->setEnabled(false);
    // "Clear Font Space" and the flash label follow the judgement.
    const bool suitable = isTrue(state.PrinterSuitable);
    if (!suitable) window_.cmdClearFont->setEnabled(false);
    window_.lblFlashSpaceRemaining->setEnabled(suitable);
}

bool PrinterDiscovery::FindPrinterShowInfo() {
    AppState& state = window_.state;
    MorlixLibrary& library = window_.library;
    const bool demo = isTrue(state.DemoMode);

    // The window may have closed while events ran (the close box during
    // "Find Printer"'s wait): the shutdown has put the spooler ports back,
    // and nothing would put them back again.
    if (window_.endRequested()) return false;
    state.PrinterFoundHandle = FLAG_FALSE;
    // Another program driving the local printer keeps it: the search then
    // finds none, and the spooler ports are left to that program.
    bool lockRefused = false;
    if (!demo && !localLock_) {
        PrinterLock::Attempt attempt = PrinterLock::tryAcquire(PrinterLock::localKey());
        localLock_ = std::move(attempt.lock);
        if (!localLock_) {
            lockRefused = true;
            window_.CD.message(lockRefusalText(PrinterLock::localKey(), attempt.holderPid),
                               APPLICATION_TITLE);
        }
    }
    if (!demo && !lockRefused) {
        const std::int32_t redirected = library.SetPortsToFile();
        if (library.failed()) return false;  // reported; the program is ending
        if (redirected != 0) {
            // The spooler's own reason came in the library's message before this one.
            window_.CD.message(
                QStringLiteral(
                    "Error exiting\n\nThe print queues of this machine's USB and parallel printers "
                    "could not be moved off their ports, so the program cannot use the printer "
                    "without disturbing them, and ends. Most often this account may not administer "
                    "printers: ask an administrator to allow it (on most systems, membership of the "
                    "lpadmin group), then start the program again. The message before this one gives "
                    "the print system's own reason."),
                APPLICATION_TITLE);
            window_.endProgram(1);
            return false;
        }
    }

    // The handle is forgotten once closed: its number may soon belong to
    // another file.
    library.ClosePrinterHandleVB(state.PrinterHandle);
    state.PrinterHandle = 0;
    state.PrinterIsEthernet = FLAG_FALSE;

    bool found = demo;
    if (!demo && !lockRefused) {
        std::int32_t handle = 0;
        found = library.GetPrinterHandleVB(&handle) == 0;
        if (library.failed()) return false;
        if (found) state.PrinterHandle = handle;
    }
    if (!found) {
        localLock_.reset();
        showNoPrinter();
        window_.CD.message(QStringLiteral("Did not find printer, may be Ethernet connected"),
                           QLatin1String(PRODUCT_TITLE));
        window_.cmdFindNetworkPrinter->setEnabled(true);
        window_.cmdClearFont->setEnabled(false);
        state.PrinterFound = FLAG_FALSE;
        return true;
    }

    state.PrinterFoundHandle = FLAG_TRUE;
    state.PrinterSuitable = FLAG_TRUE;
    std::int32_t portType = PORT_TYPE_USB;
    std::int32_t logicBoard = LOGIC_BD_MXR_PLUS;
    std::int32_t printerType = PRINTER_TYPE_KTL;
    std::int32_t printerModel = PRINTER_MODEL_RVA;
    if (demo) {
        window_.lblPrinterFound->setText(QStringLiteral("FOUND PRINTER Demo"));
    } else {
        library.GetPrinterDetailVB(&portType, &logicBoard, &printerType, &printerModel);
        window_.lblPrinterFound->setText(QStringLiteral("FOUND PRINTER"));
    }
    showFact(window_.lblPortType, GetPortType(portType), portTypeAcceptable(portType, PrinterLink::Local));
    showFacts(logicBoard, printerType, printerModel, PrinterLink::Local);

    state.PrinterVersion = DEMO_VERSION;
    if (!demo) library.GetPrinterVersionVB(&state.PrinterVersion);
    if (library.failed()) return false;
    judgeVersion(PrinterLink::Local);

    if (demo) {
        showFlash(DEMO_LOCAL_FLASH);
    } else {
        // The query gives 0 when no good answer came.
        std::int32_t freeFlash = 0;
        const bool flashRead = library.GetFlashSpaceRemainingVB(&freeFlash) == 0 && freeFlash > 0;
        showFlash(flashRead ? std::optional<std::int64_t>(freeFlash) : std::nullopt);
        window_.printerHolds().printerFound(ledger::PrinterKey::local(printerIdentity(
                                                logicBoard, printerType, printerModel, state.PrinterVersion)),
                                            flashRead ? std::optional<qint64>(freeFlash) : std::nullopt);
        window_.markHeldRows();
    }
    state.PrinterFound = FLAG_TRUE;
    window_.cmdClearFont->setEnabled(true);
    return true;
}

void PrinterDiscovery::cmdFindPrinter_Click() {
    AppState& state = window_.state;
    OperationGuard operation(state);
    if (!operation) return;

    clearFacts();
    if (isTrue(state.PrinterFoundHandle)) {
        // Closed through the library, whose device layer opened it; then
        // forgotten, so the search does not close the number a second time.
        window_.library.ClosePrinterHandleVB(state.PrinterHandle);
        state.PrinterHandle = 0;
        window_.io.sleepMs(FIND_PRINTER_WAIT_MS);
        state.PrinterFoundHandle = FLAG_FALSE;
    }
    FindPrinterGetHandle();
    const bool listReady = isTrue(state.PrinterFoundHandle) && state.NextOrder > 1;
    window_.cmdSendListToPrinter->setEnabled(listReady);
    window_.cmdDeleteLastItem->setEnabled(listReady);
    window_.cmdDeleteAllItems->setEnabled(listReady);
}

void PrinterDiscovery::cmdFindNetworkPrinter_Click() {
    OperationGuard operation(window_.state);
    if (!operation) return;
    NetworkAddressDialog& dialog = window_.form1();
    dialog.exec();
    // Only a connection made in this showing of the dialog is shown, and
    // none once the program is ending (its socket is closed by then).
    if (window_.endRequested() || !dialog.connected() || !isTrue(window_.state.PrinterFound)) return;
    showNetworkPrinter();
}

void PrinterDiscovery::showNetworkPrinter() {
    AppState& state = window_.state;
    MorlixLibrary& library = window_.library;

    state.PrinterSuitable = FLAG_TRUE;
    std::int32_t portType = 0;
    std::int32_t logicBoard = 0;
    std::int32_t printerType = 0;
    std::int32_t printerModel = 0;
    library.GetPrinterDetailVB(&portType, &logicBoard, &printerType, &printerModel);
    window_.lblPrinterFound->setText(QStringLiteral("FOUND PRINTER"));
    showFact(window_.lblPortType, GetPortType(PORT_TYPE_ETHERNET), true);
    showFacts(logicBoard, printerType, printerModel, PrinterLink::Network);
    library.GetPrinterVersionVB(&state.PrinterVersion);
    judgeVersion(PrinterLink::Network);
    window_.lblFlashSpaceRemaining->setEnabled(true);

    window_.io.startCommand();
    if (isTrue(state.DemoMode)) {
        showFlash(DEMO_NETWORK_FLASH);
    } else {
        const std::optional<std::int32_t> reading = window_.io.readFlashSpaceEthernet();
        const std::optional<std::int64_t> freeFlash =
            reading ? std::optional<std::int64_t>(*reading) : std::nullopt;
        showFlash(freeFlash);
        const NetworkAddressDialog& address = window_.form1();
        window_.printerHolds().printerFound(
            ledger::PrinterKey::tcp(
                printerIdentity(logicBoard, printerType, printerModel, state.PrinterVersion),
                QStringList{address.Octet1, address.Octet2, address.Octet3, address.Octet4}.join(
                    QLatin1Char('.')),
                static_cast<quint16>(address.PortNumber.toUInt())),
            freeFlash);
        window_.markHeldRows();
    }
    state.PrinterFound = FLAG_TRUE;
    window_.cmdClearFont->setEnabled(true);
}

ConnectOutcome PrinterDiscovery::connectEthernet(const QByteArray& octet1, const QByteArray& octet2,
                                                 const QByteArray& octet3, const QByteArray& octet4,
                                                 const QByteArray& port, int timeLimitMs) {
    using CreateSocket =
        std::int32_t (*)(std::int32_t*, const char*, const char*, const char*, const char*, const char*);
    const auto createSocket = reinterpret_cast<CreateSocket>(
        window_.library.function(MorlixLibrary::Export::CreateEthernetSocketVB));
    if (createSocket == nullptr) return {ConnectOutcome::Result::LibraryMissing, 0};

    // Refused when another program drives that printer; a reconnect to the
    // printer this window holds keeps its lock.
    const QString key = PrinterLock::networkKey(QStringLiteral("%1.%2.%3.%4")
                                                    .arg(octet1.trimmed().toInt())
                                                    .arg(octet2.trimmed().toInt())
                                                    .arg(octet3.trimmed().toInt())
                                                    .arg(octet4.trimmed().toInt()),
                                                static_cast<quint16>(port.trimmed().toUInt()));
    pendingNetworkLock_.reset();
    pendingNetworkLockKey_ = key;
    if (!networkLock_ || networkLockKey_ != key) {
        PrinterLock::Attempt attempt = PrinterLock::tryAcquire(key);
        if (!attempt.lock) {
            window_.CD.message(lockRefusalText(QStringLiteral("tcp:") +
                                                   key.mid(4).replace(QLatin1Char('-'), QLatin1Char(':')),
                                               attempt.holderPid),
                               APPLICATION_TITLE);
            return {ConnectOutcome::Result::Failed, 0};
        }
        pendingNetworkLock_ = std::move(attempt.lock);
    }

    auto pending = std::make_shared<PendingConnect>();
    std::thread([pending, createSocket, octet1, octet2, octet3, octet4, port] {
        std::int32_t socket = 0;
        pending->result = createSocket(&socket, octet1.constData(), octet2.constData(), octet3.constData(),
                                       octet4.constData(), port.constData());
        pending->socket = socket;
        pending->done.store(true, std::memory_order_release);
    }).detach();

    // The window stays live while the attempt runs; the printer commands are
    // held off by the running operation.
    QElapsedTimer elapsed;
    elapsed.start();
    while (!pending->done.load(std::memory_order_acquire) && elapsed.elapsed() < timeLimitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!pending->done.load(std::memory_order_acquire)) {
        // Given up: no other library call may run until the attempt ends,
        // and the commands that would make one look it.
        abandoned_ = pending;
        window_.state.LibraryCallPending = true;
        holdCommands(true);
        abandonedTimer_.start();
        return {ConnectOutcome::Result::TimedOut, 0};
    }
    if (pending->result == 0) return {ConnectOutcome::Result::Failed, 0};
    return {ConnectOutcome::Result::Connected, pending->socket};
}

void PrinterDiscovery::checkAbandonedConnect() {
    if (!abandoned_ || !abandoned_->done.load(std::memory_order_acquire)) return;
    abandonedTimer_.stop();
    window_.state.LibraryCallPending = false;
    holdCommands(false);
    if (abandoned_->result != 0) window_.library.CloseEthernetSocketVB(abandoned_->socket);
    abandoned_.reset();
}

bool PrinterDiscovery::waitForAbandonedConnect(std::chrono::milliseconds bound) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (abandoned_ && !abandoned_->done.load(std::memory_order_acquire) &&
           elapsed.elapsed() < bound.count())
        std::this_thread::sleep_for(std::chrono::milliseconds(ABANDONED_CONNECT_POLL_MS / 10));
    if (!abandoned_) return true;
    if (!abandoned_->done.load(std::memory_order_acquire)) return false;
    checkAbandonedConnect();
    return true;
}

// Greys the controls whose commands an abandoned connect holds off (all
// that reach the library or the list); Exit stays, its shutdown waits.
void PrinterDiscovery::holdCommands(bool held) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             window_.FrameAddToList, window_.FrameDeleteFromList, window_.FrameFileOperations,
             window_.FramePrinterOperations, window_.FrameTest, window_.FrameMode, window_.cmdFindPrinter,
             window_.cmdFindNetworkPrinter, window_.CmdGetFlash, window_.CmdGetStatus})
        control->setEnabled(!held);
}

void PrinterDiscovery::adoptConnection(const ConnectOutcome& outcome) {
    AppState& state = window_.state;
    const std::int32_t heldSocket = state.Socket;
    if (outcome.result == ConnectOutcome::Result::Connected) {
        state.Socket = outcome.socket;
        state.PrinterIsEthernet = FLAG_TRUE;
        state.PrinterFoundHandle = FLAG_TRUE;
        state.PrinterFound = FLAG_TRUE;
        if (heldSocket != 0 && heldSocket != outcome.socket)
            window_.library.CloseEthernetSocketVB(heldSocket);
        if (pendingNetworkLock_) {
            networkLock_ = std::move(pendingNetworkLock_);
            networkLockKey_ = pendingNetworkLockKey_;
        }
        return;
    }
    pendingNetworkLock_.reset();
    networkLock_.reset();
    // The socket held before is replaced by none: close it rather than lose it.
    if (heldSocket != 0) window_.library.CloseEthernetSocketVB(heldSocket);
    state.Socket = 0;
    state.PrinterIsEthernet = FLAG_FALSE;
    if (state.PrinterHandle == 0) {
        // No link is left: the window must not show a printer it cannot reach.
        state.PrinterFound = FLAG_FALSE;
        state.PrinterFoundHandle = FLAG_FALSE;
        showNoPrinter();
        window_.cmdClearFont->setEnabled(false);
        window_.cmdSendListToPrinter->setEnabled(false);
    }
}

}  // namespace velquin
