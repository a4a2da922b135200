// Start-up and discovery of the real window with the real library against a
// running printer-sim: a simulated USB printer under a private device root,
// and a network printer on 127.0.0.1 typed into the address dialog.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "app_test_support.h"
#include "network_address_dialog.h"
#include "printer_discovery.h"
#include "printer_facts.h"
#include "printer_lock.h"
#include "simulator.h"

using namespace velquin;
using velquin::test::WindowHarness;

namespace {

// A loopback port that nobody listens on any more.
quint16 closedLoopbackPort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

// Each value label of the panel shows its fact: the text, and the colour
// of a judged fact.
void expectPanelShown(const MainWindow& window, const PrinterPanel& panel) {
    const std::pair<const QLabel*, const PanelFact*> shown[] = {
        {test::control<QLabel>(window, "lblPrinterFound"), &panel.printerFound},
        {test::control<QLabel>(window, "lblPortType"), &panel.portType},
        {test::control<QLabel>(window, "lblHardware"), &panel.hardware},
        {test::control<QLabel>(window, "lblPrinterType"), &panel.printerType},
        {test::control<QLabel>(window, "lblPrinterModel"), &panel.printerModel},
        {test::control<QLabel>(window, "lblVersion"), &panel.version},
        {test::control<QLabel>(window, "lblFlashSpaceRemaining"), &panel.flash}};
    for (const auto& [label, fact] : shown) {
        QCOMPARE(label->text(), fact->text);
        QVERIFY2(fact->acceptable.has_value(), qPrintable(fact->text));
        QCOMPARE(test::textColour(label), *fact->acceptable ? test::GREEN : test::RED);
    }
}

std::string identity(const char* model, const char* version) {
    return std::string("A08MFG:Ticket printer;CMD:KTL;MDL:") + model +
           ";CLS:PRINTER;DES:Ticket printer;FWV:xx" + version + " (112);";
}

}  // namespace

class DiscoveryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startupFindsTheSimulatedPrinter();
    void boardTwoIsUnsuitableLocally();
    void oldFirmwareShowsOneMessage();
    void nothingFoundOffersTheNetwork();
    void networkPrinterIsJudgedByTheNetworkRules();
    void anUnsuitablePrinterSaysWhy_data();
    void anUnsuitablePrinterSaysWhy();
    void refusedConnection();
    void aPrinterHeldByAnotherProgramIsNotTaken();
    void theFactsDiscoveryGivesAreWhatThePanelShows();
    void exitDuringAConnectGivenUpOnEndsAtOnce();
    void theCloseBoxStopsAConnectThatWaits();
    void theWindowStaysLiveDuringASearch();

private:
    void startSimulator(const std::string& identityText, bool usb);

    std::unique_ptr<test::PrivateEnvironment> environment_;
    std::unique_ptr<printersim::Simulator> simulator_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<WindowHarness> harness_;
    MainWindow* window_ = nullptr;
};

void DiscoveryTest::initTestCase() {
    environment_ = std::make_unique<test::PrivateEnvironment>();
    QLocale::setDefault(QLocale::c());
}

void DiscoveryTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    harness_ = std::make_unique<WindowHarness>(QStringLiteral(MORLIX_LIBRARY_PATH), dir_->path());
    window_ = harness_->window.get();
}

void DiscoveryTest::cleanup() {
    harness_.reset();  // shuts the window down: closes the handle and socket
    simulator_.reset();
    dir_.reset();
}

void DiscoveryTest::startSimulator(const std::string& identityText, bool usb) {
    printersim::PrinterConfig config;
    config.identity = identityText;
    simulator_ = std::make_unique<printersim::Simulator>(config);
    simulator_->listenTcp();
    if (usb) simulator_->addDevice(printersim::usbDevicePath(environment_->path("devices").toStdString(), 0));
}

void DiscoveryTest::startupFindsTheSimulatedPrinter() {
    startSimulator(printersim::DEFAULT_IDENTITY, true);
    QVERIFY(harness_->start());
    QCOMPARE(harness_->prompts.messages(), QStringList{});
    QCOMPARE(window_->state.printer.found(), true);
    QVERIFY(window_->state.printer.localHandle() >= 3);
    QCOMPARE(test::panelTexts(*window_),
             (QStringList{"FOUND PRINTER", "Port Type = USB", "Hardware = MXR PLUS", "Language = KTL",
                          "Printer type = RVA", "(V5.07)"}));
    QCOMPARE(test::panelColours(*window_), QList<QColor>(6, test::GREEN));
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")), test::GREEN);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(), QStringLiteral("8,388,608"));
    QVERIFY(test::control<QPushButton>(*window_, "cmdClearFont")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdFindNetworkPrinter")->isEnabled());
}

void DiscoveryTest::theFactsDiscoveryGivesAreWhatThePanelShows() {
    startSimulator(printersim::DEFAULT_IDENTITY, true);
    QVERIFY(harness_->start());
    const auto freeFlash = static_cast<std::int64_t>(simulator_->printer().freeFlash());

    const PrinterPanel local = window_->discovery().findPrinter();
    expectPanelShown(*window_, local);
    QCOMPARE(local.printerFound.text, QStringLiteral("FOUND PRINTER"));
    QCOMPARE(local.link, std::optional(PrinterLink::Local));
    QVERIFY(local.found && local.suitable);
    QCOMPARE(local.portTypeCode, 0);  // USB
    QCOMPARE(local.logicBoardCode, 2);
    QCOMPARE(local.freeFlash, std::optional(freeFlash));

    // The same printer over the network: its board is judged by the network
    // rule, and fails it.
    test::connectThroughDialog(*window_, simulator_->port());
    const PrinterPanel& network = window_->discovery().panel();
    expectPanelShown(*window_, network);
    QCOMPARE(network.link, std::optional(PrinterLink::Network));
    QCOMPARE(network.portType.text, QStringLiteral("Port Type = Ethernet"));
    QCOMPARE(network.hardware.acceptable, std::optional(false));
    QVERIFY(network.found && !network.suitable);
    QCOMPARE(network.freeFlash, std::optional(freeFlash));
}

void DiscoveryTest::aPrinterHeldByAnotherProgramIsNotTaken() {
    startSimulator(printersim::DEFAULT_IDENTITY, true);
    const PrinterLock::Attempt held = PrinterLock::tryAcquire(PrinterLock::localKey());
    QVERIFY(held.lock);
    QVERIFY(harness_->start());
    const QStringList messages = harness_->prompts.messages();
    QVERIFY(!messages.isEmpty());
    QCOMPARE(messages.first(),
             QStringLiteral("printer local is in use by process %1").arg(QCoreApplication::applicationPid()));
    QCOMPARE(window_->state.printer.found(), false);
    QCOMPARE(window_->state.printer.localHandle(), 0);
}

void DiscoveryTest::boardTwoIsUnsuitableLocally() {
    startSimulator(identity("RVA 300", "2.10"), true);
    QVERIFY(harness_->start());
    QCOMPARE(harness_->prompts.messages(), QStringList{});  // the board failed first: no version message
    QCOMPARE(test::control<QLabel>(*window_, "lblHardware")->text(),
             QStringLiteral("Hardware = LOGIC BD II"));
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblHardware")), test::RED);
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblVersion")), test::RED);
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblPrinterFound")), test::RED);
    QCOMPARE(window_->state.printer.suitable(), false);
    QVERIFY(!test::control<QPushButton>(*window_, "cmdClearFont")->isEnabled());
    QVERIFY(!test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->isEnabled());
}

void DiscoveryTest::oldFirmwareShowsOneMessage() {
    startSimulator(identity("RVA 300", "4.99"), true);
    QVERIFY(harness_->start());
    QCOMPARE(
        harness_->prompts.messages(),
        QStringList{"Printer version does not support True type Fonts, Please upgrade to V5.00 or greater"});
    QCOMPARE(test::control<QLabel>(*window_, "lblVersion")->text(), QStringLiteral("(V4.99)"));
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblVersion")), test::RED);
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblHardware")), test::GREEN);
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblPrinterFound")), test::RED);
}

void DiscoveryTest::nothingFoundOffersTheNetwork() {
    startSimulator(printersim::DEFAULT_IDENTITY, false);
    QVERIFY(harness_->start());
    QCOMPARE(harness_->prompts.messages(), QStringList{"Did not find printer, may be Ethernet connected"});
    QCOMPARE(test::control<QLabel>(*window_, "lblPrinterFound")->text(), QStringLiteral("PRINTER NOT FOUND"));
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblPrinterFound")), test::RED);
    QVERIFY(test::control<QPushButton>(*window_, "cmdFindNetworkPrinter")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdClearFont")->isEnabled());
    QCOMPARE(window_->state.printer.found(), false);
}

void DiscoveryTest::networkPrinterIsJudgedByTheNetworkRules() {
    startSimulator(identity("RVB 300", "2.10"), false);
    QVERIFY(harness_->start());
    harness_->prompts.clear();
    test::connectThroughDialog(*window_, simulator_->port());

    QCOMPARE(harness_->prompts.messages(), QStringList{"Connect operation may take up to 30 seconds"});
    QVERIFY(window_->state.printer.link() == SessionLink::Tcp);
    QVERIFY(window_->state.printer.socket() >= 3);
    QCOMPARE(test::panelTexts(*window_),
             (QStringList{"FOUND PRINTER", "Port Type = Ethernet", "Hardware = LOGIC BD II", "Language = KTL",
                          "Printer type = RVB", "(V2.1)"}));
    QCOMPARE(test::panelColours(*window_), QList<QColor>(6, test::GREEN));
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(),
             formatGrouped(static_cast<std::int64_t>(simulator_->printer().freeFlash())));
    QCOMPARE(simulator_->printer().requestCount(printersim::Request::FlashSpace), std::uint64_t{1});
    QVERIFY(test::control<QPushButton>(*window_, "cmdClearFont")->isEnabled());
}

void DiscoveryTest::anUnsuitablePrinterSaysWhy_data() {
    QTest::addColumn<QString>("identity");
    QTest::addColumn<bool>("local");
    QTest::addRow("local board II") << QString::fromStdString(identity("RVA 300", "2.10")) << true;
    QTest::addRow("network, old firmware") << QString::fromStdString(identity("RVC 300", "2.00")) << false;
}

// "FOUND PRINTER" in red names the facts behind the verdict, in its tooltip
// and in the diagnostics: every red fact, and only those.
void DiscoveryTest::anUnsuitablePrinterSaysWhy() {
    QFETCH(QString, identity);
    QFETCH(bool, local);
    startSimulator(identity.toStdString(), local);
    QVERIFY(harness_->start());
    if (!local) test::connectThroughDialog(*window_, simulator_->port());
    QCOMPARE(window_->state.printer.suitable(), false);
    const QStringList texts = test::panelTexts(*window_);
    const QList<QColor> colours = test::panelColours(*window_);
    QStringList red;
    for (qsizetype i = 1; i < texts.size(); ++i)
        if (colours[i] == test::RED) red << texts[i];
    QVERIFY(!red.isEmpty());
    QCOMPARE(test::control<QLabel>(*window_, "lblPrinterFound")->toolTip(),
             QStringLiteral("Not suitable for uploads:\n") + red.join('\n'));
    auto* diagnostics = test::control<QListWidget>(*window_, "lstStatus");
    for (const QString& reason : red)
        QVERIFY2(
            !diagnostics
                 ->findItems(QStringLiteral("Printer not suitable for uploads: ") + reason, Qt::MatchExactly)
                 .isEmpty(),
            qPrintable(reason));
}

void DiscoveryTest::refusedConnection() {
    startSimulator(printersim::DEFAULT_IDENTITY, false);
    QVERIFY(harness_->start());
    harness_->prompts.clear();
    test::connectThroughDialog(*window_, closedLoopbackPort());

    QCOMPARE(harness_->prompts.messages(), (QStringList{"Connect operation may take up to 30 seconds",
                                                        "Did Not Find Ethernet Connected printer"}));
    QCOMPARE(test::control<QLabel>(window_->form1(), "lblWait")->text(), QStringLiteral("Did not connect"));
    QCOMPARE(window_->state.printer.socket(), 0);
    QCOMPARE(window_->state.printer.found(), false);
    QCOMPARE(test::control<QLabel>(*window_, "lblPrinterFound")->text(), QStringLiteral("PRINTER NOT FOUND"));
}

void DiscoveryTest::exitDuringAConnectGivenUpOnEndsAtOnce() {
    test::SilentPeer peer;
    QVERIFY(harness_->start());
    window_->form1().setConnectTimeLimit(300);
    test::connectThroughDialog(*window_, peer.port());
    QCOMPARE(test::control<QLabel>(window_->form1(), "lblWait")->text(), QStringLiteral("Did not connect"));

    // The library is still inside the connect: what would call it looks disabled.
    QVERIFY(window_->state.LibraryCallPending);
    const std::pair<const char*, QWidget*> heldCommands[] = {
        {"Find Printer", test::control<QPushButton>(*window_, "cmdFindPrinter")},
        {"Find Network Printer", test::control<QPushButton>(*window_, "cmdFindNetworkPrinter")},
        {"Get Flash", test::control<QPushButton>(*window_, "CmdGetFlash")},
        {"Get Status", test::control<QPushButton>(*window_, "CmdGetStatus")},
        {"Clear Font", test::control<QPushButton>(*window_, "cmdClearFont")},
        {"Send List", test::control<QPushButton>(*window_, "cmdSendListToPrinter")},
        {"Add To List", test::control<QPushButton>(*window_, "cmdAddToList")},
        {"mode", test::control<QRadioButton>(*window_, "OptionPCX")}};
    for (const auto& [name, control] : heldCommands) QVERIFY2(!control->isEnabled(), name);
    QVERIFY(test::control<QPushButton>(*window_, "cmdExit")->isEnabled());

    // Exit ends the program at once, its mode saved; the library is not
    // called while the connect is still inside it.
    test::control<QPushButton>(*window_, "cmdExit")->click();
    QVERIFY(window_->endRequested() && window_->libraryLeftBusy());
    QCOMPARE(test::readFile(harness_->modeFile()), QByteArray("0\r\n"));
    peer.release();  // the attempt ends before the test's window goes
}

void DiscoveryTest::theCloseBoxStopsAConnectThatWaits() {
    test::SilentPeer peer;
    QVERIFY(harness_->start());
    window_->show();
    harness_->prompts.clear();
    harness_->prompts.answerYesNo(false);
    harness_->prompts.answerYesNo(true);
    bool stillConnectingAfterNo = false;
    QTimer::singleShot(0, window_, [&] {
        NetworkAddressDialog& dialog = window_->form1();
        test::typeAddress(dialog, "127", "0", "0", "1", QString::number(peer.port()));
        test::control<QPushButton>(dialog, "cmdCreateSocket")->click();
        // The attempt now waits inside the library for an answer.
        QTimer::singleShot(300, window_, [&] {
            QCloseEvent no;
            QCoreApplication::sendEvent(window_, &no);
            stillConnectingAfterNo = window_->discovery().connecting() && window_->isVisible();
            QCloseEvent yes;
            QCoreApplication::sendEvent(window_, &yes);
        });
    });
    window_->findNetworkPrinter();

    QVERIFY(stillConnectingAfterNo);
    QVERIFY(!window_->isVisible() && !window_->form1().isVisible());
    const QString question = QStringLiteral("A connection to the printer is being made: stop it and quit?");
    QCOMPARE(harness_->prompts.prompts().size(), std::size_t{3});  // the 30 seconds notice, then No and Yes
    QCOMPARE(harness_->prompts.prompts()[1].text, question);
    QCOMPARE(harness_->prompts.prompts()[2].defaultAnswer, DefaultAnswer::No);
    // Nothing is reported as a failed connect; the program ends at once with
    // its mode saved, the attempt left inside the library.
    QCOMPARE(harness_->prompts.countMessages(QStringLiteral("Did Not Find Ethernet Connected printer")), 0);
    QVERIFY(window_->endRequested() && window_->libraryLeftBusy());
    QCOMPARE(test::readFile(harness_->modeFile()), QByteArray("0\r\n"));
    QCOMPARE(window_->state.printer.socket(), 0);
    peer.release();  // the attempt ends before the test's window goes
}

void DiscoveryTest::theWindowStaysLiveDuringASearch() {
    startSimulator(printersim::DEFAULT_IDENTITY, true);
    QVERIFY(harness_->start());
    // "Find Printer" waits a second after closing the printer found: the
    // window's timers go on firing meanwhile.
    window_->io.setSleep([](int milliseconds) { QThread::msleep(static_cast<unsigned long>(milliseconds)); });
    QElapsedTimer search;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    sinceTick.start();
    ticker.start();
    search.start();
    window_->findPrinter();
    window_->waitForWork();
    ticker.stop();
    QVERIFY(search.elapsed() >= 1'000);
    QVERIFY2(longestGap < 250, qPrintable(QString::number(longestGap)));
    QCOMPARE(test::control<QLabel>(*window_, "lblPrinterFound")->text(), QStringLiteral("FOUND PRINTER"));
}

VELQUIN_QTEST_MAIN(DiscoveryTest)
#include "discovery_test.moc"
