#include "printer_discovery.h"

#include <QStringList>
#include <atomic>
#include <mutex>

#include "app_state.h"
#include "engine_thread.h"
#include "morlix/printer_codes.h"
#include "morlix_library.h"
#include "operator_prompts.h"
#include "printer_io.h"
#include "printer_lock.h"

namespace velquin {

namespace {

constexpr char PRODUCT_TITLE[] = "Zara Rida Davezo";
constexpr std::int64_t DEMO_LOCAL_FLASH = 5'000'000;
constexpr std::int64_t DEMO_NETWORK_FLASH = 8'000'000;
constexpr float DEMO_VERSION = 5.03f;
constexpr int FIND_PRINTER_WAIT_MS = 1'000;

}  // namespace

// One connection attempt, shared by its job and the front end: the job owns
// a share of it, so it outlives an attempt that the front end gave up on.
struct PrinterDiscovery::PendingConnect {
    std::mutex mutex;
    // The library's call has returned; whoever gave up before this owns
    // nothing of the result (the job closes its socket).
    bool returned = false;
    bool abandoned = false;
    std::optional<std::int32_t> socket;
    // The connection held before the attempt, given up with it: the job
    // closes it once the library is free.
    std::int32_t heldSocket = 0;
    // The job makes no more library calls.
    std::atomic<bool> leftLibrary{false};
};

PrinterDiscovery::PrinterDiscovery(AppState& state, MorlixLibrary& library, OperatorPrompts& prompts,
                                   PrinterIo& io, DiscoveryView& view)
    : state_(state),
      session_(state.printer),
      library_(library),
      prompts_(prompts),
      io_(io),
      view_(view),
      finder_(library) {
    connectTimer_.setSingleShot(true);
    QObject::connect(&connectTimer_, &QTimer::timeout,
                     [this] { abandonConnect(ConnectOutcome::Result::TimedOut); });
}

PrinterDiscovery::~PrinterDiscovery() = default;

void PrinterDiscovery::publish() {
    panel_.found = session_.found();
    panel_.suitable = session_.suitable();
    view_.showPanel(panel_);
}

PrinterPanel PrinterDiscovery::finish() {
    panel_.found = session_.found();
    panel_.suitable = session_.suitable();
    return panel_;
}

void PrinterDiscovery::setFact(PanelFact& fact, const QString& text, bool acceptable) {
    fact = {text, acceptable};
    if (!acceptable) session_.setSuitable(false);
    publish();
}

void PrinterDiscovery::showFacts(const PrinterFacts& facts) {
    session_.setFacts(facts);
    panel_.logicBoardCode = facts.logicBoard;
    panel_.printerTypeCode = facts.printerType;
    panel_.printerModelCode = facts.printerModel;
    panel_.reasons = facts.unsuitability();
    setFact(panel_.hardware, GetLogicBoardType(facts.logicBoard),
            logicBoardAcceptable(facts.logicBoard, facts.link));
    setFact(panel_.printerType, GetPrinterType(facts.printerType), printerTypeAcceptable(facts.printerType));
    setFact(panel_.printerModel, GetPrinterModel(facts.printerModel),
            printerModelAcceptable(facts.printerModel));
}

// Shows PrinterVersion and judges it; the upgrade message only when no
// earlier fact failed. Then colours the found label by the verdict.
void PrinterDiscovery::judgeVersion(const PrinterFacts& facts) {
    const PrinterLink link = facts.link;
    const bool acceptable = firmwareVersionAcceptable(facts.version, link);
    panel_.firmwareVersion = facts.version;
    panel_.version = {versionCaption(facts.version), acceptable};
    publish();
    if (!acceptable) {
        if (session_.suitable())
            prompts_.message(
                link == PrinterLink::Local
                    ? QStringLiteral("Printer version does not support True type Fonts, Please "
                                     "upgrade to V5.00 or greater")
                    : QStringLiteral("Printer version does not support Soft Fonts, Please upgrade "
                                     "to V2.05 or greater"),
                APPLICATION_TITLE);
        session_.setSuitable(false);
    }
    panel_.printerFound.acceptable = session_.suitable();
    publish();
    // The verdict's reasons, also where the panel's tooltip cannot be seen.
    for (const QString& reason : unsuitabilityReasons(panel_))
        io_.addStatusLine(QStringLiteral("Printer not suitable for uploads: ") + reason);
}

void PrinterDiscovery::showFlash(std::optional<std::int64_t> freeFlash) {
    session_.setFreeFlash(freeFlash);
    panel_.freeFlash = freeFlash;
    panel_.flash = freeFlashFact(freeFlash, state_.DemoMode);
    view_.showFlash(panel_.flash, panel_.freeFlash);
}

// No printer is reachable: nothing of the last one stays on screen.
void PrinterDiscovery::showNoPrinter() {
    clearFacts();
    panel_.link.reset();
    panel_.printerFound = {QStringLiteral("PRINTER NOT FOUND"), false};
    publish();
    session_.setFreeFlash(std::nullopt);
    panel_.freeFlash.reset();
    panel_.flash = {};
    view_.showFlash(panel_.flash, panel_.freeFlash);
}

// Empties the five fact labels; each keeps its colour, and the found label
// its text.
void PrinterDiscovery::clearFacts() {
    view_.printerLost();
    for (PanelFact* fact :
         {&panel_.portType, &panel_.printerType, &panel_.hardware, &panel_.printerModel, &panel_.version})
        *fact = {QString(), std::nullopt};
    publish();
}

PrinterPanel PrinterDiscovery::FindPrinterGetHandle() {
    session_.setLinkHeld(false);
    if (!FindPrinterShowInfo()) return finish();
    view_.setCommandAvailable(DiscoveryCommand::Sending, false);
    view_.setCommandAvailable(DiscoveryCommand::ListEditing, false);
    // "Clear Font Space" and the flash label follow the judgement.
    const bool suitable = session_.suitable();
    if (!suitable) view_.setCommandAvailable(DiscoveryCommand::Erasing, false);
    view_.setCommandAvailable(DiscoveryCommand::FreeFlashShown, suitable);
    return finish();
}

bool PrinterDiscovery::FindPrinterShowInfo() {
    const bool demo = state_.DemoMode;

    // The window may have closed while events ran (the close box during
    // "Find Printer"'s wait): the shutdown has put the spooler ports back,
    // and nothing would put them back again.
    if (view_.endRequested()) return false;
    session_.setLinkHeld(false);
    // Another program driving the local printer keeps it: the search then
    // finds none, and the spooler ports are left to that program.
    bool lockRefused = false;
    if (!demo) {
        if (const std::optional<PrinterLock::Attempt> refusal = finder_.claim(PrinterLock::localKey())) {
            lockRefused = true;
            prompts_.message(lockRefusalText(QStringLiteral("local"), *refusal), APPLICATION_TITLE);
        }
    }
    if (!demo && !lockRefused) {
        const bool redirected = finder_.redirectSpooler();
        if (library_.failed()) return false;  // reported; the program is ending
        if (!redirected) {
            // The spooler's own reason came in the library's message before this one.
            prompts_.message(
                QStringLiteral(
                    "Error exiting\n\nThe print queues of this machine's USB and parallel printers "
                    "could not be moved off their ports, so the program cannot use the printer "
                    "without disturbing them, and ends. Most often this account may not administer "
                    "printers: ask an administrator to allow it (on most systems, membership of the "
                    "lpadmin group), then start the program again. The message before this one gives "
                    "the print system's own reason."),
                APPLICATION_TITLE);
            view_.endProgram(1);
            return false;
        }
    }

    session_.closeLocal(library_);
    session_.setLink(SessionLink::None);

    bool found = demo;
    if (!demo && !lockRefused) {
        const std::optional<std::int32_t> handle = finder_.openLocal();
        if (library_.failed()) return false;
        found = handle.has_value();
        if (found) session_.holdLocal(*handle, SessionLink::Local);
    }
    if (!found) {
        finder_.release(PrinterLock::localKey());
        showNoPrinter();
        prompts_.message(QStringLiteral("Did not find printer, may be Ethernet connected"),
                         QLatin1String(PRODUCT_TITLE));
        view_.setCommandAvailable(DiscoveryCommand::NetworkSearch, true);
        view_.setCommandAvailable(DiscoveryCommand::Erasing, false);
        session_.setFound(false);
        return true;
    }

    session_.setLinkHeld(true);
    session_.setLink(demo ? SessionLink::Demo : SessionLink::Local);
    session_.setSuitable(true);
    PrinterFacts facts{PrinterLink::Local,       morlix::PORT_TYPE_USB,     morlix::LOGIC_BD_MXR_PLUS,
                       morlix::PRINTER_TYPE_KTL, morlix::PRINTER_MODEL_RVA, DEMO_VERSION};
    panel_.link = PrinterLink::Local;
    if (demo) {
        panel_.printerFound.text = QStringLiteral("FOUND PRINTER Demo");
    } else {
        facts = finder_.readFacts(PrinterLink::Local);
        if (library_.failed()) return false;
        panel_.printerFound.text = QStringLiteral("FOUND PRINTER");
    }
    publish();
    panel_.portTypeCode = facts.portType;
    setFact(panel_.portType, GetPortType(facts.portType),
            portTypeAcceptable(facts.portType, PrinterLink::Local));
    showFacts(facts);
    judgeVersion(facts);

    if (demo) {
        showFlash(DEMO_LOCAL_FLASH);
    } else {
        // The query gives 0 when no good answer came.
        std::int32_t freeFlash = 0;
        const bool flashRead = library_.GetFlashSpaceRemainingVB(&freeFlash) == 0 && freeFlash > 0;
        showFlash(flashRead ? std::optional<std::int64_t>(freeFlash) : std::nullopt);
        view_.printerFound(ledger::PrinterKey::local(facts.identity()),
                           flashRead ? std::optional<qint64>(freeFlash) : std::nullopt);
    }
    session_.setFound(true);
    view_.setCommandAvailable(DiscoveryCommand::Erasing, true);
    return true;
}

PrinterPanel PrinterDiscovery::findPrinter() {
    OperationGuard operation(state_);
    if (!operation) return finish();
    return searchAgain();
}

PrinterPanel PrinterDiscovery::searchAgain() {
    clearFacts();
    if (session_.linkHeld()) {
        // Forgotten once closed, so the search does not close the number a
        // second time.
        session_.closeLocal(library_);
        io_.sleepMs(FIND_PRINTER_WAIT_MS);
        session_.setLinkHeld(false);
    }
    FindPrinterGetHandle();
    const bool listReady = session_.linkHeld() && view_.listHasFiles();
    view_.setCommandAvailable(DiscoveryCommand::Sending, listReady);
    view_.setCommandAvailable(DiscoveryCommand::ListEditing, listReady);
    return finish();
}

PrinterPanel PrinterDiscovery::showNetworkPrinter(const NetworkAddress& address) {
    session_.setSuitable(true);
    const PrinterFacts facts = finder_.readFacts(PrinterLink::Network);
    panel_.link = PrinterLink::Network;
    panel_.printerFound.text = QStringLiteral("FOUND PRINTER");
    publish();
    // The port type reported is not used: the link is the network.
    panel_.portTypeCode = morlix::PORT_TYPE_ETHERNET;
    setFact(panel_.portType, GetPortType(morlix::PORT_TYPE_ETHERNET), true);
    showFacts(facts);
    judgeVersion(facts);
    view_.setCommandAvailable(DiscoveryCommand::FreeFlashShown, true);

    io_.startCommand();
    if (state_.DemoMode) {
        showFlash(DEMO_NETWORK_FLASH);
    } else {
        const std::optional<std::int32_t> reading = io_.readFlashSpaceEthernet();
        const std::optional<std::int64_t> freeFlash =
            reading ? std::optional<std::int64_t>(*reading) : std::nullopt;
        showFlash(freeFlash);
        view_.printerFound(ledger::PrinterKey::tcp(facts.identity(), address.host(),
                                                   static_cast<quint16>(address.port.toUInt())),
                           freeFlash);
    }
    session_.setFound(true);
    view_.setCommandAvailable(DiscoveryCommand::Erasing, true);
    return finish();
}

void PrinterDiscovery::startConnect(EngineThread& engine, const NetworkAddress& address, int timeLimitMs,
                                    QObject& context, std::function<void(const ConnectOutcome&)> ended) {
    if (library_.typedFunction<MorlixLibrary::Export::CreateEthernetSocketVB>() == nullptr) {
        ended({ConnectOutcome::Result::LibraryMissing, 0});
        return;
    }

    // Refused when another program drives that printer; a reconnect to the
    // printer this window holds keeps its lock. Keyed by the address the
    // library will connect to (its octets as typed).
    const QString key =
        PrinterLock::networkKey(address.host(), static_cast<quint16>(address.port.trimmed().toUInt()));
    pendingNetworkKey_ = key;
    if (const std::optional<PrinterLock::Attempt> refusal = finder_.claim(key)) {
        prompts_.message(
            lockRefusalText(QStringLiteral("tcp:") + key.mid(4).replace(QLatin1Char('-'), QLatin1Char(':')),
                            *refusal),
            APPLICATION_TITLE);
        // As after a failed attempt, the printer connected before is let go.
        if (!engine.start([this] { linkAfterConnect(std::nullopt); }, &context,
                          [ended] {
                              ended({ConnectOutcome::Result::Failed, 0});
                          }))
            ended({ConnectOutcome::Result::Failed, 0});
        return;
    }

    auto attempt = std::make_shared<PendingConnect>();
    const bool started = engine.start(
        [this, attempt, address] {
            const std::optional<std::int32_t> socket = finder_.connect(address);
            bool abandoned = false;
            std::int32_t givenUp = 0;
            {
                const std::lock_guard lock(attempt->mutex);
                attempt->returned = true;
                attempt->socket = socket;
                abandoned = attempt->abandoned;
                givenUp = attempt->heldSocket;
            }
            if (abandoned) {
                if (givenUp != 0) library_.CloseEthernetSocketVB(givenUp);
                // Nobody takes a connection given up on.
                if (socket) library_.CloseEthernetSocketVB(*socket);
            } else {
                linkAfterConnect(socket);
            }
            attempt->leftLibrary.store(true, std::memory_order_release);
        },
        &context, [this, attempt] { connectJobEnded(attempt); });
    if (!started) {
        // Another job holds the library: no attempt was made.
        ended({ConnectOutcome::Result::Failed, 0});
        return;
    }
    connect_ = attempt;
    connectEnded_ = std::move(ended);
    connectTimer_.start(timeLimitMs);
}

void PrinterDiscovery::stopConnect() {
    abandonConnect(ConnectOutcome::Result::Stopped);
}

void PrinterDiscovery::abandonConnect(ConnectOutcome::Result result) {
    if (!connect_) return;
    {
        const std::lock_guard lock(connect_->mutex);
        // Already back from the library: its own result is on the way.
        if (connect_->returned) return;
        connect_->abandoned = true;
        connect_->heldSocket = session_.takeSocket();
    }
    forgetNetworkPrinter();
    connectTimer_.stop();
    // Given up: no other library call may run until the attempt ends, and
    // the commands that would make one look it.
    abandoned_ = std::exchange(connect_, nullptr);
    state_.LibraryCallPending = true;
    view_.holdCommands(true);
    std::exchange(connectEnded_, nullptr)({result, 0});
}

void PrinterDiscovery::connectJobEnded(const std::shared_ptr<PendingConnect>& attempt) {
    if (attempt == abandoned_) {
        releaseAbandoned();
        return;
    }
    if (attempt != connect_) return;
    connectTimer_.stop();
    connect_.reset();
    const ConnectOutcome outcome = attempt->socket
                                       ? ConnectOutcome{ConnectOutcome::Result::Connected, *attempt->socket}
                                       : ConnectOutcome{ConnectOutcome::Result::Failed, 0};
    std::exchange(connectEnded_, nullptr)(outcome);
}

void PrinterDiscovery::releaseAbandoned() {
    abandoned_.reset();
    state_.LibraryCallPending = false;
    view_.holdCommands(false);
}

bool PrinterDiscovery::libraryFree() {
    if (!abandoned_) return true;
    if (!abandoned_->leftLibrary.load(std::memory_order_acquire)) return false;
    releaseAbandoned();
    return true;
}

void PrinterDiscovery::linkAfterConnect(std::optional<std::int32_t> socket) {
    if (!socket) {
        // The socket held before is replaced by none: close it rather than lose it.
        if (const std::int32_t held = session_.takeSocket(); held != 0) library_.CloseEthernetSocketVB(held);
        forgetNetworkPrinter();
        return;
    }
    session_.holdSocket(library_, *socket);
    session_.setLinkHeld(true);
    session_.setFound(true);
    // The lock of the printer connected before goes with its socket.
    if (networkKey_ && networkKey_ != pendingNetworkKey_) finder_.release(*networkKey_);
    networkKey_ = pendingNetworkKey_;
}

void PrinterDiscovery::forgetNetworkPrinter() {
    finder_.release(pendingNetworkKey_);
    if (networkKey_) finder_.release(*std::exchange(networkKey_, std::nullopt));
    // The local printer's handle, when one is held, is the link left.
    if (session_.localHandle() == 0) {
        session_.setFound(false);
        session_.setLinkHeld(false);
    }
}

void PrinterDiscovery::adoptConnection(const ConnectOutcome& outcome) {
    if (outcome.result == ConnectOutcome::Result::Connected || session_.found()) return;
    // No link is left: the window must not show a printer it cannot reach.
    showNoPrinter();
    view_.setCommandAvailable(DiscoveryCommand::Erasing, false);
    view_.setCommandAvailable(DiscoveryCommand::Sending, false);
}

}  // namespace velquin
