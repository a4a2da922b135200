// Start-up, shutdown, discovery and the network dialog against the recording
// stand-in library: the order of the library calls, what the window shows,
// the prompts, and the sound behaviour around handles, sockets and nesting.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>

#include "app_test_support.h"
#include "file_list.h"
#include "network_address_dialog.h"
#include "printer_discovery.h"

using namespace velquin;
using velquin::test::FakeMorlix;
using velquin::test::WindowHarness;

namespace {

using test::GREEN;
using test::RED;

QStringList startupCalls() {
    return {"CreateSingleInstance",   "IsAnotherInstanceRunning", "SetPortsToFile",
            "ClosePrinterHandleVB 0", "GetPrinterHandleVB",       "GetPrinterDetailVB",
            "GetPrinterVersionVB",    "GetFlashSpaceRemainingVB"};
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startupFindsThePrinterBeforeShowing();
    void shutdownReleasesLinksThenTheGuard();
    void demoModeAtStartAndExit();
    void secondInstanceIsRefused();
    void portRedirectionFailureEndsTheProgram();
    void modeFileAtStartup_data();
    void modeFileAtStartup();
    void softFontModeSurvivesARestart();
    void missingLibraryEndsTheProgram();
    void missingExportEndsTheProgram();
    void libraryMessagesBecomeMessageBoxes();
    void localJudgement_data();
    void localJudgement();
    void flashQueryFailureShowsUnknown();
    void noPrinterFound();
    void findPrinterClosesTheHandleOnce();
    void findPrinterEnablesListButtonsOnlyWithFiles();
    void networkPrinterThroughTheDialog();
    void failedConnectionForgetsThePrinter();
    void failedConnectionClosesTheEarlierSocket();
    void connectAttemptIsBoundedInTime();
    void printerCommandsCannotNest();
    void exitButtonRunsTheShutdown();
    void closingDuringFindPrinterLeavesThePortsRestored();
    void startUpAndShutdownCallTheLibraryFromTheEngineThread_data();
    void startUpAndShutdownCallTheLibraryFromTheEngineThread();
    void listSearchAndConnectCallTheLibraryFromTheEngineThread();

private:
    void connectThroughDialog(quint16 port = 9100) { test::connectThroughDialog(*window_, port); }

    std::unique_ptr<FakeMorlix> fake_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<WindowHarness> harness_;
    MainWindow* window_ = nullptr;
};

void StartupTest::initTestCase() {
    static test::PrivateEnvironment environment;
    QLocale::setDefault(QLocale::c());
    fake_ = std::make_unique<FakeMorlix>(QStringLiteral(FAKE_MORLIX_PATH));
}

void StartupTest::init() {
    fake_->reset();
    dir_ = std::make_unique<QTemporaryDir>();
    harness_ = std::make_unique<WindowHarness>(QStringLiteral(FAKE_MORLIX_PATH), dir_->path());
    window_ = harness_->window.get();
}

void StartupTest::cleanup() {
    harness_.reset();
    dir_.reset();
}

void StartupTest::startupFindsThePrinterBeforeShowing() {
    QVERIFY(harness_->start());
    QCOMPARE(fake_->calls(), startupCalls());
    QVERIFY(!window_->isVisible());
    QVERIFY(harness_->prompts.prompts().empty());

    const AppState& state = window_->state;
    QCOMPARE(state.FormLoading, false);
    QCOMPARE(state.DemoMode, false);
    QCOMPARE(state.printer.found(), true);
    QCOMPARE(state.printer.linkHeld(), true);
    QCOMPARE(state.printer.suitable(), true);
    QCOMPARE(state.printer.localHandle(), 7);
    QCOMPARE(window_->fileList().count(), 0);
    QCOMPARE(window_->fileList().flashNeeded(), 0);

    QCOMPARE(test::panelTexts(*window_),
             (QStringList{"FOUND PRINTER", "Port Type = USB", "Hardware = MXR PLUS", "Language = KTL",
                          "Printer type = RVA", "(V5.07)"}));
    QCOMPARE(test::panelColours(*window_), QList<QColor>(6, GREEN));
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")), GREEN);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(), QStringLiteral("2,097,152"));
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), QStringLiteral("0"));

    QVERIFY(test::control<QRadioButton>(*window_, "OptionTTF")->isChecked());
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->rowCount(), 1);
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->index(0, 0).data().toString(),
             QStringLiteral("Order"));
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->index(0, 1).data().toString(),
             QStringLiteral("True Type Font File"));
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->index(0, 2).data().toString(),
             QStringLiteral("File Size"));
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->index(0, 3).data().toString(),
             QStringLiteral("Font ID"));
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->columnWidth(0), 40);
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->columnWidth(1), 703);
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->columnWidth(2), 106);

    QVERIFY(test::control<QListWidget>(*window_, "lstStatus")->isHidden());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdFindNetworkPrinter")->isEnabled());
    QVERIFY(test::control<QPushButton>(*window_, "cmdClearFont")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdDeleteLastItem")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdDeleteAllItems")->isEnabled());
}

void StartupTest::shutdownReleasesLinksThenTheGuard() {
    QVERIFY(harness_->start());
    fake_->reset();
    // The library's own word during the shutdown still reaches the operator.
    fake_->setMessage("RestorePortsToOriginal", "SetPortToFile - SetPrinter failed ticket_usb");
    window_->Form_Unload();
    QCOMPARE(fake_->calls(), (QStringList{"ClosePrinterHandleVB 7", "RestorePortsToOriginal",
                                          "CloseEthernetSocketVB 0", "ClearInstanceMutex"}));
    QCOMPARE(harness_->prompts.messages(), QStringList{"SetPortToFile - SetPrinter failed ticket_usb"});
    QCOMPARE(test::readFile(harness_->modeFile()), QByteArray("0\r\n"));
    window_->Form_Unload();  // the window closing later runs nothing twice
    QCOMPARE(fake_->calls().size(), 4);
}

void StartupTest::demoModeAtStartAndExit() {
    test::writeFile(harness_->demoMarker(), QByteArray());
    QVERIFY(harness_->start());
    QCOMPARE(harness_->prompts.messages(), QStringList{"Running in Demo Mode"});
    // No spooler redirection and no search: only the guard and the close of no handle.
    QCOMPARE(fake_->calls(),
             (QStringList{"CreateSingleInstance", "IsAnotherInstanceRunning", "ClosePrinterHandleVB 0"}));
    QCOMPARE(window_->state.DemoMode, true);
    QCOMPARE(test::panelTexts(*window_),
             (QStringList{"FOUND PRINTER Demo", "Port Type = USB", "Hardware = MXR PLUS", "Language = KTL",
                          "Printer type = RVA", "(V5.03)"}));
    QCOMPARE(test::panelColours(*window_), QList<QColor>(6, GREEN));
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(),
             QStringLiteral("5,000,000 (demo)"));

    fake_->reset();
    test::control<QPushButton>(*window_, "cmdExit")->click();
    QCOMPARE(harness_->prompts.messages().last(), QStringLiteral("Exit - Demo mode"));
    QCOMPARE(fake_->calls(), QStringList{"ClearInstanceMutex"});
    QVERIFY(window_->endRequested());
}

void StartupTest::secondInstanceIsRefused() {
    test::writeFile(harness_->modeFile(), "2\r\n");
    fake_->setResult("IsAnotherInstanceRunning", 1);
    QVERIFY(!harness_->start());
    QCOMPARE(harness_->prompts.messages(),
             QStringList{"Another instance of ZE VEVIR is currently running, please try latter"});
    QCOMPARE(harness_->prompts.prompts().front().title, QStringLiteral("Zara Rida Davezo"));
    // The running copy's mode file and spooler redirection are left alone.
    QCOMPARE(fake_->calls(),
             (QStringList{"CreateSingleInstance", "IsAnotherInstanceRunning", "ClearInstanceMutex"}));
    QCOMPARE(test::readFile(harness_->modeFile()), QByteArray("2\r\n"));
    QVERIFY(window_->endRequested());
    QVERIFY(!window_->isVisible());
}

void StartupTest::portRedirectionFailureEndsTheProgram() {
    fake_->setResult("SetPortsToFile", 2);
    QVERIFY(!harness_->start());
    QCOMPARE(harness_->prompts.messages().size(), 1);
    QVERIFY(harness_->prompts.messages().constFirst().startsWith("Error exiting\n\n"));
    QVERIFY(harness_->prompts.messages().constFirst().contains("may not administer printers"));
    QCOMPARE(window_->exitCode(), 1);
    QVERIFY(!fake_->callNames().contains("GetPrinterHandleVB"));
    // Whatever was redirected is put back on the way out.
    QVERIFY(fake_->callNames().contains("RestorePortsToOriginal"));
    QCOMPARE(fake_->callNames().last(), QStringLiteral("ClearInstanceMutex"));
}

void StartupTest::modeFileAtStartup_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("fileHeading");
    QTest::addColumn<QString>("column3Heading");
    QTest::newRow("2 is PCX") << QByteArray("2\r\n") << 2 << "PCX image File"
                              << "";
    QTest::newRow("3 is BMP") << QByteArray("3\r\n") << 3 << "BMP image File"
                              << "";
    QTest::newRow("7 is True Type") << QByteArray("7\r\n") << 0 << "True Type Font File"
                                    << "Font ID";
    QTest::newRow("garbage is True Type") << QByteArray("\x01garbage") << 0 << "True Type Font File"
                                          << "Font ID";
}

void StartupTest::modeFileAtStartup() {
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QFETCH(QString, fileHeading);
    QFETCH(QString, column3Heading);
    test::writeFile(harness_->modeFile(), content);
    QVERIFY(harness_->start());
    QCOMPARE(static_cast<int>(window_->selectedMode()), mode);
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->rowCount(), 1);
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->index(0, 0).data().toString(),
             QStringLiteral("Order"));
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->index(0, 1).data().toString(),
             fileHeading);
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->index(0, 2).data().toString(),
             QStringLiteral("File Size"));
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->index(0, 3).data().toString(),
             column3Heading);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), QStringLiteral("0"));
    QVERIFY(harness_->prompts.prompts().empty());
}

void StartupTest::softFontModeSurvivesARestart() {
    QVERIFY(harness_->start());
    test::control<QRadioButton>(*window_, "OptionSF")->click();
    test::control<QPushButton>(*window_, "cmdExit")->click();
    QCOMPARE(test::readFile(harness_->modeFile()), QByteArray("1\r\n"));

    WindowHarness second(QStringLiteral(FAKE_MORLIX_PATH), dir_->path());
    QVERIFY(second.start());
    QVERIFY(test::control<QRadioButton>(*second.window, "OptionSF")->isChecked());
    QVERIFY(second.window->windowTitle().endsWith(QStringLiteral("(Soft Font Mode)")));
}

void StartupTest::missingLibraryEndsTheProgram() {
    const QString path = dir_->filePath(QStringLiteral("libmorlix.so"));
    WindowHarness missing(path, dir_->path());
    QVERIFY(!missing.start());
    QVERIFY(missing.window->endRequested());
    QCOMPARE(missing.window->exitCode(), 1);
    const QStringList messages = missing.prompts.messages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(path) && messages[0].contains(QStringLiteral("could not be loaded")),
             qPrintable(messages[0]));
    // No mode had been selected: the mode file is not written empty.
    QVERIFY(!QFile::exists(missing.modeFile()));
}

void StartupTest::missingExportEndsTheProgram() {
    WindowHarness partial(QStringLiteral(FAKE_MORLIX_PARTIAL_PATH), dir_->path());
    QVERIFY(!partial.start());
    const QStringList messages = partial.prompts.messages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(QStringLiteral("has no function GetPrinterHandleVB")),
             qPrintable(messages[0]));
    QCOMPARE(partial.window->exitCode(), 1);
}

void StartupTest::libraryMessagesBecomeMessageBoxes() {
    fake_->setMessage("GetPrinterHandleVB", "GetCommTimeouts failed");
    QVERIFY(harness_->start());
    QCOMPARE(harness_->prompts.messages(), QStringList{"GetCommTimeouts failed"});
}

void StartupTest::localJudgement_data() {
    QTest::addColumn<int>("logicBoard");
    QTest::addColumn<int>("printerModel");
    QTest::addColumn<float>("version");
    QTest::addColumn<bool>("suitable");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("redLabels");
    const QString versionMessage = QStringLiteral(
        "Printer version does not support True type Fonts, Please upgrade to V5.00 or greater");
    QTest::newRow("board II, old version: no version message")
        << 1 << 0 << 2.10f << false << QStringList{} << QStringList{"lblHardware", "lblVersion"};
    QTest::newRow("version 4.99") << 2 << 0 << 4.99f << false << QStringList{versionMessage}
                                  << QStringList{"lblVersion"};
    QTest::newRow("version 5.0 exactly") << 2 << 0 << 5.0f << true << QStringList{} << QStringList{};
    QTest::newRow("unknown model") << 2 << 3 << 5.07f << false << QStringList{}
                                   << QStringList{"lblPrinterModel"};
}

void StartupTest::localJudgement() {
    QFETCH(int, logicBoard);
    QFETCH(int, printerModel);
    QFETCH(float, version);
    QFETCH(bool, suitable);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, redLabels);
    fake_->setPrinter(0, logicBoard, 1, printerModel, version, 1'000);
    QVERIFY(harness_->start());
    QCOMPARE(harness_->prompts.messages(), messages);
    QCOMPARE(window_->state.printer.suitable(), suitable);
    QCOMPARE(window_->state.printer.found(), true);
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblPrinterFound")), suitable ? GREEN : RED);
    const QList<QPair<QString, QLabel*>> labels = {
        {"lblHardware", test::control<QLabel>(*window_, "lblHardware")},
        {"lblVersion", test::control<QLabel>(*window_, "lblVersion")},
        {"lblPrinterModel", test::control<QLabel>(*window_, "lblPrinterModel")},
        {"lblPortType", test::control<QLabel>(*window_, "lblPortType")},
        {"lblPrinterType", test::control<QLabel>(*window_, "lblPrinterType")}};
    for (const auto& [name, label] : labels)
        QCOMPARE(test::textColour(label), redLabels.contains(name) ? RED : GREEN);
    QCOMPARE(test::control<QPushButton>(*window_, "cmdClearFont")->isEnabled(), suitable);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->isEnabled(), suitable);
}

void StartupTest::flashQueryFailureShowsUnknown() {
    fake_->setResult("GetFlashSpaceRemainingVB", 1);
    QVERIFY(harness_->start());
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(), QStringLiteral("unknown"));
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")), RED);
}

void StartupTest::noPrinterFound() {
    fake_->setResult("GetPrinterHandleVB", 1);
    QVERIFY(harness_->start());
    QCOMPARE(harness_->prompts.messages(), QStringList{"Did not find printer, may be Ethernet connected"});
    QCOMPARE(harness_->prompts.prompts().front().title, QStringLiteral("Zara Rida Davezo"));
    QCOMPARE(test::control<QLabel>(*window_, "lblPrinterFound")->text(), QStringLiteral("PRINTER NOT FOUND"));
    QCOMPARE(test::textColour(test::control<QLabel>(*window_, "lblPrinterFound")), RED);
    QVERIFY(test::control<QPushButton>(*window_, "cmdFindNetworkPrinter")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdClearFont")->isEnabled());
    QCOMPARE(window_->state.printer.found(), false);
    QCOMPARE(window_->state.printer.localHandle(), 0);
    QCOMPARE(fake_->callNames().mid(4), QStringList{"GetPrinterHandleVB"});
}

void StartupTest::findPrinterClosesTheHandleOnce() {
    QVERIFY(harness_->start());
    fake_->reset();
    fake_->setLinks(11, 9, 0);
    test::control<QPushButton>(*window_, "cmdFindPrinter")->click();
    window_->waitForWork();
    // Closed once through the library, then forgotten: the search closes no handle.
    QCOMPARE(fake_->calls().mid(0, 3),
             (QStringList{"ClosePrinterHandleVB 7", "SetPortsToFile", "ClosePrinterHandleVB 0"}));
    QCOMPARE(harness_->sleeps, QList<int>{1000});
    QCOMPARE(window_->state.printer.localHandle(), 11);
    QCOMPARE(test::control<QLabel>(*window_, "lblPortType")->text(), QStringLiteral("Port Type = USB"));

    // A search that finds nothing keeps no stale handle either.
    fake_->reset();
    fake_->setResult("GetPrinterHandleVB", 1);
    test::control<QPushButton>(*window_, "cmdFindPrinter")->click();
    window_->waitForWork();
    QCOMPARE(fake_->calls().mid(0, 3),
             (QStringList{"ClosePrinterHandleVB 11", "SetPortsToFile", "ClosePrinterHandleVB 0"}));
    QCOMPARE(window_->state.printer.localHandle(), 0);
    QVERIFY(test::control<QLabel>(*window_, "lblPortType")->text().isEmpty());
    QVERIFY(test::control<QLabel>(*window_, "lblVersion")->text().isEmpty());
}

void StartupTest::findPrinterEnablesListButtonsOnlyWithFiles() {
    QVERIFY(harness_->start());
    test::control<QPushButton>(*window_, "cmdFindPrinter")->click();
    window_->waitForWork();
    QVERIFY(!test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdDeleteAllItems")->isEnabled());
    window_->fileList().append(QStringLiteral("a.ttf"), 1);
    window_->fileList().append(QStringLiteral("b.ttf"), 1);
    test::control<QPushButton>(*window_, "cmdFindPrinter")->click();
    window_->waitForWork();
    QVERIFY(test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled());
    QVERIFY(test::control<QPushButton>(*window_, "cmdDeleteLastItem")->isEnabled());
    QVERIFY(test::control<QPushButton>(*window_, "cmdDeleteAllItems")->isEnabled());
}

void StartupTest::networkPrinterThroughTheDialog() {
    fake_->setResult("GetPrinterHandleVB", 1);
    QVERIFY(harness_->start());
    harness_->prompts.clear();
    fake_->reset();
    fake_->setPrinter(3, 1, 1, 1, 2.10f, 0);
    fake_->setReadReply("A070800123456");
    connectThroughDialog(9100);

    QCOMPARE(fake_->calls().first(), QStringLiteral("CreateEthernetSocketVB 127.0.0.1:9100"));
    QCOMPARE(harness_->prompts.messages(), QStringList{"Connect operation may take up to 30 seconds"});
    QCOMPARE(harness_->prompts.prompts().front().title, QStringLiteral("Connect to Ethernet Printer"));
    const NetworkAddressDialog& dialog = window_->form1();
    QVERIFY(dialog.isHidden());
    QCOMPARE(test::control<QLabel>(dialog, "lblWait")->text(), QStringLiteral("Please wait connecting....."));

    const AppState& state = window_->state;
    QCOMPARE(state.printer.socket(), 9);
    QVERIFY(state.printer.link() == SessionLink::Tcp);
    QCOMPARE(state.printer.linkHeld(), true);
    QCOMPARE(state.printer.found(), true);
    QCOMPARE(state.printer.suitable(), true);
    // Board II, version 2.10 and model RVB are all right on the network.
    QCOMPARE(test::panelTexts(*window_),
             (QStringList{"FOUND PRINTER", "Port Type = Ethernet", "Hardware = LOGIC BD II", "Language = KTL",
                          "Printer type = RVB", "(V2.1)"}));
    QCOMPARE(test::panelColours(*window_), QList<QColor>(6, GREEN));
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(), QStringLiteral("123,456"));
    QVERIFY(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->isEnabled());
    QVERIFY(test::control<QPushButton>(*window_, "cmdClearFont")->isEnabled());
    QVERIFY(fake_->calls().contains(QStringLiteral("WriteDataEthernetVB 9 <SA07>")));

    // The hidden dialog does not keep the program alive: the close box ends it.
    window_->show();
    window_->close();
    QVERIFY(window_->endRequested());
    QCOMPARE(fake_->calls().mid(fake_->calls().size() - 2),
             (QStringList{"CloseEthernetSocketVB 9", "ClearInstanceMutex"}));
}

void StartupTest::failedConnectionForgetsThePrinter() {
    fake_->setResult("GetPrinterHandleVB", 1);
    QVERIFY(harness_->start());
    harness_->prompts.clear();
    fake_->reset();
    fake_->setResult("CreateEthernetSocketVB", 0);
    connectThroughDialog(4321);

    QCOMPARE(harness_->prompts.messages(), (QStringList{"Connect operation may take up to 30 seconds",
                                                        "Did Not Find Ethernet Connected printer"}));
    QCOMPARE(test::control<QLabel>(window_->form1(), "lblWait")->text(), QStringLiteral("Did not connect"));
    QCOMPARE(window_->state.printer.socket(), 0);
    QCOMPARE(window_->state.printer.found(), false);
    QVERIFY(window_->state.printer.link() == SessionLink::None);
    QCOMPARE(fake_->callNames(), QStringList{"CreateEthernetSocketVB"});
    QCOMPARE(test::control<QLabel>(*window_, "lblPrinterFound")->text(), QStringLiteral("PRINTER NOT FOUND"));

    // The dialog keeps what was typed.
    QTimer::singleShot(0, window_, [this] {
        NetworkAddressDialog& dialog = window_->form1();
        QCOMPARE(test::control<QLineEdit>(dialog, "txtOctet1")->text(), QStringLiteral("127"));
        QCOMPARE(test::control<QLineEdit>(dialog, "txtOctet4")->text(), QStringLiteral("1"));
        QCOMPARE(test::control<QLineEdit>(dialog, "txtPort")->text(), QStringLiteral("4321"));
        QCOMPARE(dialog.PortNumber, QStringLiteral("4321"));
        dialog.reject();
    });
    window_->findNetworkPrinter();
    QCOMPARE(fake_->callNames(), QStringList{"CreateEthernetSocketVB"});
}

void StartupTest::failedConnectionClosesTheEarlierSocket() {
    fake_->setResult("GetPrinterHandleVB", 1);
    QVERIFY(harness_->start());
    fake_->setReadReply("A070800000100");
    connectThroughDialog();
    QCOMPARE(window_->state.printer.socket(), 9);
    fake_->reset();
    fake_->setResult("CreateEthernetSocketVB", 0);
    connectThroughDialog();
    QCOMPARE(fake_->calls(),
             (QStringList{"CreateEthernetSocketVB 127.0.0.1:9100", "CloseEthernetSocketVB 9"}));
    QCOMPARE(window_->state.printer.socket(), 0);
    QCOMPARE(window_->state.printer.found(), false);
}

void StartupTest::connectAttemptIsBoundedInTime() {
    fake_->setResult("GetPrinterHandleVB", 1);
    QVERIFY(harness_->start());
    fake_->reset();
    fake_->setLinks(7, 12, 3'000);
    window_->form1().setConnectTimeLimit(200);
    QElapsedTimer elapsed;
    elapsed.start();
    connectThroughDialog();
    QVERIFY2(elapsed.elapsed() < 2'000, "the window waited for the whole attempt");
    QCOMPARE(test::control<QLabel>(window_->form1(), "lblWait")->text(), QStringLiteral("Did not connect"));
    QCOMPARE(window_->state.printer.socket(), 0);
    QVERIFY(window_->state.LibraryCallPending);

    // While the abandoned attempt runs, no printer command calls the library.
    test::control<QPushButton>(*window_, "cmdFindPrinter")->click();
    window_->waitForWork();
    QCOMPARE(fake_->callNames(), QStringList{"CreateEthernetSocketVB"});

    // When it ends, its socket is closed and the commands are free again.
    QTRY_VERIFY_WITH_TIMEOUT(!window_->state.LibraryCallPending, 10'000);
    QCOMPARE(fake_->calls().last(), QStringLiteral("CloseEthernetSocketVB 12"));
    test::control<QPushButton>(*window_, "cmdFindPrinter")->click();
    window_->waitForWork();
    QVERIFY(fake_->callNames().contains(QStringLiteral("GetPrinterHandleVB")));
}

void StartupTest::printerCommandsCannotNest() {
    fake_->setResult("GetPrinterHandleVB", 1);
    QVERIFY(harness_->start());
    fake_->reset();
    fake_->setLinks(7, 9, 400);
    fake_->setReadReply("A070800000100");
    // A click on "Find Printer" while the connection is being made.
    QTimer::singleShot(150, window_, [this] { window_->findPrinter(); });
    connectThroughDialog();
    QCOMPARE(window_->state.printer.socket(), 9);
    QVERIFY(!fake_->callNames().contains(QStringLiteral("SetPortsToFile")));
}

void StartupTest::exitButtonRunsTheShutdown() {
    QVERIFY(harness_->start());
    window_->show();
    test::control<QRadioButton>(*window_, "OptionPCX")->click();
    fake_->reset();
    test::control<QPushButton>(*window_, "cmdExit")->click();
    QVERIFY(!window_->isVisible());
    QVERIFY(window_->endRequested());
    QCOMPARE(window_->exitCode(), 0);
    QCOMPARE(fake_->callNames().last(), QStringLiteral("ClearInstanceMutex"));
    QCOMPARE(test::readFile(harness_->modeFile()), QByteArray("2\r\n"));
}

void StartupTest::closingDuringFindPrinterLeavesThePortsRestored() {
    QVERIFY(harness_->start());
    window_->show();
    fake_->reset();
    // The close box clicked while "Find Printer" waits its second: the
    // search, a job, then ends before it redirects.
    QMetaObject::invokeMethod(window_, "close", Qt::QueuedConnection);
    test::control<QPushButton>(*window_, "cmdFindPrinter")->click();
    QTRY_VERIFY(window_->endRequested());
    const QStringList calls = fake_->callNames();
    QVERIFY2(!calls.contains(QStringLiteral("SetPortsToFile")), qPrintable(calls.join(", ")));
    QVERIFY2(!calls.contains(QStringLiteral("GetPrinterHandleVB")), qPrintable(calls.join(", ")));
    QCOMPARE(calls.last(), QStringLiteral("ClearInstanceMutex"));
}

// The start-up and the shutdown call the library from the engine thread
// only, however the start-up ends.
void StartupTest::startUpAndShutdownCallTheLibraryFromTheEngineThread_data() {
    QTest::addColumn<QByteArray>("scriptedCall");
    QTest::addColumn<int>("result");
    QTest::newRow("printer found") << QByteArray() << 0;
    QTest::newRow("no printer found") << QByteArray("GetPrinterHandleVB") << 1;
    QTest::newRow("another instance runs") << QByteArray("IsAnotherInstanceRunning") << 1;
    QTest::newRow("spooler refuses") << QByteArray("SetPortsToFile") << 2;
}

void StartupTest::startUpAndShutdownCallTheLibraryFromTheEngineThread() {
    QFETCH(QByteArray, scriptedCall);
    QFETCH(int, result);
    if (!scriptedCall.isEmpty()) fake_->setResult(scriptedCall.constData(), result);
    harness_->start();
    window_->Form_Unload();
    QCOMPARE(fake_->callNames().last(), QStringLiteral("ClearInstanceMutex"));
    QCOMPARE(fake_->mainThreadCalls(), QStringList());
}

void StartupTest::listSearchAndConnectCallTheLibraryFromTheEngineThread() {
    QVERIFY(harness_->start());
    fake_->reset();
    fake_->setReadReply("A070800000100");
    const QString font = test::writeFile(dir_->filePath("a.sfp"), QByteArray("\x1b)s64W", 7));
    window_->selectMode(LoaderMode::ModeSF);
    harness_->prompts.answerFile(font);
    window_->addToList();
    window_->waitForWork();
    test::control<QPushButton>(*window_, "cmdFindPrinter")->click();
    window_->waitForWork();
    connectThroughDialog();
    const QStringList names = fake_->callNames();
    for (const char* call : {"qkSoftFontFileName", "GetPrinterHandleVB", "CreateEthernetSocketVB"})
        QVERIFY2(names.contains(QLatin1String(call)), call);
    QCOMPARE(fake_->mainThreadCalls(), QStringList());
}

VELQUIN_QTEST_MAIN(StartupTest)
#include "startup_test.moc"
