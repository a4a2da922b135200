// What the window tells the operator when the printer does not do what was
// asked, against printer-sim on a simulated USB printer and over TCP on
// 127.0.0.1: files the printer did not store, readings that failed, runs
// that stopped, files of the wrong kind, and demo mode.
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTimer>
#include <memory>

#include "../support/loadable_files.h"
#include "app_test_support.h"
#include "file_list.h"
#include "flash_maintenance.h"
#include "network_address_dialog.h"
#include "printer_facts.h"
#include "printer_holds.h"
#include "simulator.h"

using namespace velquin;
using test::WindowHarness;

namespace {

enum class Link { Usb, Tcp };

const QString MONO = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf");  // 343,140 bytes
const QString SERIF =
    QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf");  // 356,668 bytes

}  // namespace

Q_DECLARE_METATYPE(Link)
Q_DECLARE_METATYPE(velquin::LoaderMode)

class OperatorTruthTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { dir_ = std::make_unique<QTemporaryDir>(); }
    void cleanup();

    void aFileThePrinterDidNotStoreIsNamedAtTheEnd_data();
    void aFileThePrinterDidNotStoreIsNamedAtTheEnd();
    void aFailedReadingShowsAsUnknown_data();
    void aFailedReadingShowsAsUnknown();
    void busyStatusIsShownWithDiagnosticsOff();
    void everyRunEndSaysHowItEnded_data();
    void everyRunEndSaysHowItEnded();
    void bmpListsAreNotSentAndOldRunsAreForgotten();
    void filesOfTheWrongKindAreRefused_data();
    void filesOfTheWrongKindAreRefused();
    void theCloseBoxAsksDuringAnUpload_data();
    void theCloseBoxAsksDuringAnUpload();
    void demoModeSaysItIsADemonstration();
    void aSplitStatusReplyIsReadWhole();
    void anUnansweredFlashQueryIsToldOncePerRun();
    void theRunPanelCountsTheListAndASearchClearsIt();
    void aListThePrinterHoldsIsSentAgainOnlyWhenAsked();
    void printerHoldsComparesWithAReadingTakenNow();
    void aFileChangedSinceListedIsReadAgainBeforeTheSend();

private:
    void startWindow(Link link, printersim::PrinterConfig config = fastFlash());
    static printersim::PrinterConfig fastFlash() {
        printersim::PrinterConfig config;
        config.writeBytesPerSecond = 0;
        return config;
    }
    void addFile(const QString& path) {
        harness_->prompts.answerFile(path);
        window_->addToList();
        window_->waitForWork();
    }
    void send() {
        harness_->prompts.clear();
        window_->sendList();
        window_->waitForWork();
    }
    void setFaults(const std::function<void(printersim::Faults&)>& change) {
        printersim::Faults faults;
        change(faults);
        simulator_->printer().setFaults(faults);
    }
    QStringList statusLines() const {
        QStringList lines;
        for (int i = 0; i < test::control<QListWidget>(*window_, "lstStatus")->count(); ++i)
            lines << test::control<QListWidget>(*window_, "lstStatus")->item(i)->text();
        return lines;
    }
    // scripts/screenshot-holds.sh keeps a picture of what some cases show.
    static void keepPicture(QWidget& widget) {
        const QString picture = qEnvironmentVariable("VELQUIN_SCREENSHOT");
        if (picture.isEmpty()) return;
        widget.show();
        QApplication::processEvents();
        QVERIFY(widget.grab().save(picture));
    }
    // The ledger of earlier cases (another printer at the same link) is gone.
    static void forgetLedger() {
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(ledger::Ledger::defaultFile() + QLatin1String(suffix));
    }
    QString flashLabel() const { return test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(); }
    QColor flashColour() const {
        return test::textColour(test::control<QLabel>(*window_, "lblFlashSpaceRemaining"));
    }

    std::unique_ptr<test::PrivateEnvironment> environment_;
    std::unique_ptr<printersim::Simulator> simulator_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<WindowHarness> harness_;
    MainWindow* window_ = nullptr;
};

void OperatorTruthTest::initTestCase() {
    environment_ = std::make_unique<test::PrivateEnvironment>();
    QLocale::setDefault(QLocale::c());
    for (const QString& font : {MONO, SERIF}) QVERIFY2(QFileInfo::exists(font), qPrintable(font));
}

void OperatorTruthTest::cleanup() {
    if (window_ && window_->endRequested()) {
        // A closed window asked the application to exit; let that pass.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    harness_.reset();
    window_ = nullptr;
    simulator_.reset();
    dir_.reset();
}

void OperatorTruthTest::startWindow(Link link, printersim::PrinterConfig config) {
    simulator_ = std::make_unique<printersim::Simulator>(config);
    const auto device = printersim::usbDevicePath(environment_->path("devices").toStdString(), 0);
    if (link == Link::Usb) {
        simulator_->addDevice(device);
    } else {
        simulator_->listenTcp();
        QFile::remove(device.c_str());
    }
    harness_ = std::make_unique<WindowHarness>(QStringLiteral(MORLIX_LIBRARY_PATH), dir_->path());
    window_ = harness_->window.get();
    QVERIFY(harness_->start());
    if (link == Link::Tcp) test::connectThroughDialog(*window_, simulator_->port());
    QCOMPARE(window_->state.printer.found(), true);
    harness_->prompts.clear();
}

void OperatorTruthTest::aFileThePrinterDidNotStoreIsNamedAtTheEnd_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<bool>("flashUnreadable");
    QTest::addColumn<QString>("reason");
    QTest::addRow("usb flash full") << Link::Usb << false << "(no flash used, not stored)";
    QTest::addRow("tcp flash full") << Link::Tcp << false << "(no flash used, not stored)";
    QTest::addRow("usb flash unreadable") << Link::Usb << true << "(its free flash could not be read)";
}

void OperatorTruthTest::aFileThePrinterDidNotStoreIsNamedAtTheEnd() {
    QFETCH(Link, link);
    QFETCH(bool, flashUnreadable);
    QFETCH(QString, reason);
    printersim::PrinterConfig config = fastFlash();
    config.flashSize = 400'000;  // the first font fits, the second does not
    startWindow(link, config);
    addFile(MONO);
    addFile(SERIF);
    if (flashUnreadable) setFaults([](printersim::Faults& f) { f.badFlashReplies = 1'000; });
    harness_->prompts.answerYesNo(true);  // send although the list is larger than the free flash

    send();

    // The run goes on after an unconfirmed file: both were sent.
    const auto journal = simulator_->printer().journal();
    QCOMPARE(journal.size(), std::size_t(2));
    QVERIFY(!journal.back().stored);
    const QStringList unconfirmed = flashUnreadable ? QStringList{MONO, SERIF} : QStringList{SERIF};
    const QString end = harness_->prompts.messages().constLast();
    QVERIFY2(!end.contains(QStringLiteral("Flash Upload Complete")), qPrintable(end));
    for (const QString& file : unconfirmed) {
        QVERIFY2(end.contains(file), qPrintable(end));
        QVERIFY(statusLines().contains("Not confirmed by the printer " + reason + ": " + file));
        QVERIFY(statusLines().contains("The printer did not confirm storing " + file));
    }
    if (!flashUnreadable) QVERIFY(!end.contains(MONO));
    // scripts/screenshot-unconfirmed.sh keeps a picture of this ending.
    if (const QString picture = qEnvironmentVariable("VELQUIN_SCREENSHOT");
        !picture.isEmpty() && !flashUnreadable && link == Link::Usb) {
        test::control<QRadioButton>(*window_, "OptionEnableDiags")->click();
        window_->show();
        QVERIFY(window_->grab().save(picture));
    }
    QCOMPARE(
        test::control<QLabel>(*window_, "LblProgress")->text(),
        QStringLiteral("Upload ended, %1 of 2 files not confirmed by the printer").arg(unconfirmed.size()));
}

void OperatorTruthTest::aFailedReadingShowsAsUnknown_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<bool>("stopped");  // the simulator is gone, else the printer stays busy
    QTest::addRow("usb gone") << Link::Usb << true;
    QTest::addRow("tcp gone") << Link::Tcp << true;
    QTest::addRow("usb always busy") << Link::Usb << false;
}

void OperatorTruthTest::aFailedReadingShowsAsUnknown() {
    QFETCH(Link, link);
    QFETCH(bool, stopped);
    startWindow(link);
    QCOMPARE(flashColour(), test::GREEN);
    if (stopped)
        simulator_->stop();
    else
        setFaults([](printersim::Faults& f) { f.stayBusy = true; });

    window_->getFlash();
    window_->waitForWork();
    QCOMPARE(flashLabel(), FLASH_UNKNOWN);
    QCOMPARE(flashColour(), test::RED);
    QVERIFY(statusLines().contains(QStringLiteral("Getflash space remaining = unknown")));

    window_->findPrinter();
    window_->waitForWork();
    harness_->prompts.answerYesNo(true);
    window_->setToggleWaitTimeoutMs(300);
    window_->clearFontSpace();
    window_->waitForWork();
    QVERIFY(!harness_->prompts.messages().contains(QStringLiteral("Font space cleared")));
    QVERIFY(flashLabel().isEmpty() || flashLabel() == FLASH_UNKNOWN);
    QVERIFY(!test::control<QLabel>(*window_, "LblProgress")->text().contains(QStringLiteral("Please wait")));
}

void OperatorTruthTest::busyStatusIsShownWithDiagnosticsOff() {
    startWindow(Link::Tcp);
    test::control<QRadioButton>(*window_, "OptionDisableDiags")->click();
    setFaults([](printersim::Faults& f) { f.statusBytes = std::vector<std::uint8_t>{0, 0, 0, 0, 0x22}; });
    window_->getBusyStatus();
    window_->waitForWork();
    QCOMPARE(test::control<QLabel>(*window_, "LblProgress")->text(),
             QStringLiteral("Printer busy, flash toggle = 1"));
    QVERIFY(statusLines().contains(QStringLiteral("Flash toggle = 1")));
    simulator_->stop();
    window_->getBusyStatus();
    window_->waitForWork();
    QCOMPARE(test::control<QLabel>(*window_, "LblProgress")->text(),
             QStringLiteral("Printer status unknown, the status read failed"));
}

void OperatorTruthTest::everyRunEndSaysHowItEnded_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("caption");
    QTest::addRow("time-out") << "freeze"
                              << "Upload stopped, the printer did not finish writing its flash";
    QTest::addRow("cancel") << "cancel"
                            << "Upload cancelled";
    QTest::addRow("closed mid-file") << "close"
                                     << "Upload stopped, the printer stopped taking data";
    QTest::addRow("erase time-out") << "erase"
                                    << "The printer did not report the end of the erase";
}

void OperatorTruthTest::everyRunEndSaysHowItEnded() {
    QFETCH(QString, fault);
    QFETCH(QString, caption);
    startWindow(Link::Usb);
    // A small font: the flash wait's limit grows with the file.
    addFile(test::writeFile(dir_->filePath("small.otf"), testing::trueTypeFile(2'048, 1)));
    window_->setToggleWaitTimeoutMs(1'000);
    QTimer canceller;
    if (fault == "close") {
        setFaults([](printersim::Faults& f) { f.closeMidFile = true; });
    } else {
        setFaults([](printersim::Faults& f) { f.freezeToggle = true; });
    }
    if (fault == "cancel") {
        window_->setToggleWaitTimeoutMs(60'000);
        auto* cancel = window_->findChild<QPushButton*>(QStringLiteral("cmdCancelWait"));
        connect(&canceller, &QTimer::timeout, window_, [cancel] {
            if (!cancel->isHidden()) cancel->click();
        });
        canceller.start(50);
    }

    if (fault == "erase") {
        harness_->prompts.answerYesNo(true);
        window_->clearFontSpace();
        window_->waitForWork();
    } else {
        send();
    }

    QCOMPARE(test::control<QLabel>(*window_, "LblProgress")->text(), caption);
    // The repeated wait lines are one line with a count.
    const QStringList waits = statusLines().filter(QStringLiteral("Waiting for done, toggle"));
    QVERIFY(waits.size() <= 1);
    if (fault == "freeze")
        QVERIFY2(waits.constFirst().endsWith(QStringLiteral(" times)")), qPrintable(waits.join('|')));
}

void OperatorTruthTest::bmpListsAreNotSentAndOldRunsAreForgotten() {
    startWindow(Link::Usb);
    addFile(MONO);
    send();
    QCOMPARE(test::control<QLabel>(*window_, "LblProgress")->text(), QStringLiteral("Flash Upload Complete"));

    harness_->prompts.answerYesNo(true);  // the list is emptied by the switch
    test::control<QRadioButton>(*window_, "OptionBMP")->click();
    QVERIFY(test::control<QLabel>(*window_, "LblProgress")->text().isEmpty());
    QCOMPARE(test::control<QProgressBar>(*window_, "ProgressBar1")->value(),
             test::control<QProgressBar>(*window_, "ProgressBar1")->minimum());
    const QString image = test::writeFile(dir_->filePath("a.bmp"), QByteArray("BM") + QByteArray(60, '\0'));
    addFile(image);
    QVERIFY(!test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled());
    send();
    QCOMPARE(harness_->prompts.messages().size(), 1);
    QVERIFY(harness_->prompts.messages().constFirst().contains(QStringLiteral("Nothing was sent")));
    QCOMPARE(simulator_->printer().journal().size(), std::size_t(1));
}

void OperatorTruthTest::filesOfTheWrongKindAreRefused_data() {
    QTest::addColumn<LoaderMode>("mode");
    QTest::addColumn<QByteArray>("content");  // empty: the True Type font
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::addRow("font as pcx") << LoaderMode::ModePCX << QByteArray() << "font.pcx"
                                 << "is a font, not a PCX image";
    QTest::addRow("text as ttf") << LoaderMode::ModeTTF << QByteArray("hello") << "x.ttf"
                                 << "is not a TrueType or OpenType font";
    QTest::addRow("random as sfp") << LoaderMode::ModeSF << QByteArray(300, '\x5a') << "x.sfp"
                                   << "is not a soft font the converter can load: ";
    QTest::addRow("pcx as bmp") << LoaderMode::ModeBMP << QByteArray("\x0a\x05\x01\x08", 4) << "x.bmp"
                                << "is not a BMP image";
    // What the preview cannot read either, with the preview's reason.
    QByteArray huge = testing::pcxFile(400, 1);
    huge[8] = huge[10] = static_cast<char>(59'999 & 0xFF);
    huge[9] = huge[11] = static_cast<char>(59'999 >> 8);
    QTest::addRow("huge pcx") << LoaderMode::ModePCX << huge << "huge.pcx"
                              << "cannot be loaded: The PCX picture is 60000 x 60000 dots";
    QTest::addRow("short pcx") << LoaderMode::ModePCX << testing::pcxFile(4'000, 1).left(2'000) << "short.pcx"
                               << "cannot be loaded: The PCX picture data ends early";
    QTest::addRow("cut ttf") << LoaderMode::ModeTTF << test::readFile(MONO).left(5'000) << "cut.ttf"
                             << "cannot be loaded: The font is cut short";
}

void OperatorTruthTest::filesOfTheWrongKindAreRefused() {
    QFETCH(LoaderMode, mode);
    QFETCH(QByteArray, content);
    QFETCH(QString, name);
    QFETCH(QString, reason);
    startWindow(Link::Usb);
    window_->selectMode(mode);
    const QString path =
        test::writeFile(dir_->filePath(name), content.isEmpty() ? test::readFile(MONO) : content);

    addFile(path);
    QCOMPARE(window_->fileList().count(), 0);
    QVERIFY2(harness_->prompts.messages().constLast().contains(path + ' ' + reason),
             qPrintable(harness_->prompts.messages().constLast()));

    const QString list = test::writeFile(dir_->filePath("list"), QFile::encodeName(path));
    harness_->prompts.answerFile(list);
    window_->getListFromFile();
    window_->waitForWork();
    QCOMPARE(window_->fileList().count(), 0);
    QVERIFY(harness_->prompts.messages().constLast().contains(reason));
}

void OperatorTruthTest::theCloseBoxAsksDuringAnUpload_data() {
    QTest::addColumn<bool>("quit");
    QTest::addRow("no") << false;
    QTest::addRow("yes") << true;
}

void OperatorTruthTest::theCloseBoxAsksDuringAnUpload() {
    QFETCH(bool, quit);
    printersim::PrinterConfig slowFlash;
    slowFlash.writeBytesPerSecond = 1'000'000;
    startWindow(Link::Usb, slowFlash);
    addFile(MONO);
    addFile(SERIF);
    bool asked = false;
    QTimer closer;
    connect(&closer, &QTimer::timeout, window_, [&] {
        if (asked || !statusLines().filter(QStringLiteral("Waiting for done, toggle")).size()) return;
        asked = true;
        harness_->prompts.answerYesNo(quit);
        window_->close();
    });
    closer.start(20);

    send();
    closer.stop();

    QVERIFY(asked);
    const auto& question = harness_->prompts.prompts().front();
    QCOMPARE(question.text, QStringLiteral("An upload is running: stop it and quit?"));
    QCOMPARE(question.defaultAnswer, DefaultAnswer::No);
    QCOMPARE(window_->endRequested(), quit);
    QCOMPARE(simulator_->printer().journal().size(), std::size_t(quit ? 1 : 2));
    QVERIFY(harness_->prompts.messages().constLast().startsWith(
        quit ? "Upload cancelled while the printer was writing " + MONO
             : QStringLiteral("Flash Upload Complete")));
}

// "File being sent" follows the list as a whole and names what went at the
// end; a later search or run starts from a clean panel.
void OperatorTruthTest::theRunPanelCountsTheListAndASearchClearsIt() {
    startWindow(Link::Usb);
    addFile(MONO);
    addFile(SERIF);
    auto text = [this](const char* name) { return test::control<QLabel>(*window_, name)->text(); };
    QStringList seenDuring;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, window_, [&] { seenDuring << text("lblRunProgress"); });
    watcher.start(5);
    send();
    watcher.stop();
    QVERIFY2(
        !seenDuring.filter(QRegularExpression(QStringLiteral("^File [12] of 2, \\d+ s elapsed"))).isEmpty(),
        qPrintable(seenDuring.join('|')));
    // Both fonts and their headers ("<ttf343140>", "<ttf356668>").
    QVERIFY2(text("lblRunProgress").startsWith(QStringLiteral("Sent 2 of 2 files, 699,830 bytes, in ")),
             qPrintable(text("lblRunProgress")));
    QVERIFY(text("lblRunProgress").endsWith(QStringLiteral("; 2 stored")));

    setFaults([](printersim::Faults& f) { f.stayBusy = true; });
    harness_->prompts.answerYesNo(true);  // the printer holds the list: send it again
    window_->sendList();
    window_->waitForWork();
    QCOMPARE(text("LblProgress"), QStringLiteral("Upload not started, the printer is busy"));
    QVERIFY(text("lblFileTransfer").isEmpty());
    QCOMPARE(text("lblRunProgress"), QStringLiteral("Sent 0 of 2 files, 0 bytes, in 0 s"));

    setFaults([](printersim::Faults&) {});
    window_->findPrinter();
    window_->waitForWork();
    QCOMPARE(window_->state.printer.found(), true);
    for (const char* name : {"LblProgress", "lblFileTransfer", "lblRunProgress"})
        QVERIFY2(text(name).isEmpty(), name);
}

void OperatorTruthTest::demoModeSaysItIsADemonstration() {
    harness_ = std::make_unique<WindowHarness>(QStringLiteral(MORLIX_LIBRARY_PATH), dir_->path());
    window_ = harness_->window.get();
    test::writeFile(harness_->demoMarker(), "demo");
    QVERIFY(harness_->start());
    QVERIFY(window_->windowTitle().endsWith(DEMO_TITLE_SUFFIX));
    QCOMPARE(flashLabel(), QStringLiteral("5,000,000 (demo)"));
    addFile(MONO);
    send();
    QVERIFY(harness_->prompts.messages().constLast().startsWith(
        QStringLiteral("Flash Upload Complete\n\nDemonstration")));

    harness_->prompts.clear();
    harness_->prompts.answerYesNo(true);
    window_->clearFontSpace();
    window_->waitForWork();
    window_->printTest1();
    window_->waitForWork();
    QCOMPARE(harness_->prompts.messages(), QStringList({DEMO_NOTHING_SENT, DEMO_NOTHING_SENT}));
    window_->getBusyStatus();
    window_->waitForWork();
    QVERIFY(test::control<QLabel>(*window_, "LblProgress")->text().contains(QStringLiteral("demonstration")));
}

// A reply that arrives in pieces is read to its length: the busy bit in its
// last byte is seen, and nothing is left for the next exchange.
void OperatorTruthTest::aSplitStatusReplyIsReadWhole() {
    startWindow(Link::Tcp);
    setFaults([](printersim::Faults& f) {
        f.statusBytes = std::vector<std::uint8_t>{0, 0, 0, 0, 0x22};
        f.replyPieceSize = 2;
    });
    for (int round = 0; round < 2; ++round) {
        window_->getBusyStatus();
        window_->waitForWork();
        QCOMPARE(test::control<QLabel>(*window_, "LblProgress")->text(),
                 QStringLiteral("Printer busy, flash toggle = 1"));
    }
    setFaults([](printersim::Faults& f) { f.replyPieceSize = 4; });
    window_->getFlash();
    window_->waitForWork();
    QCOMPARE(flashLabel(), formatGrouped(static_cast<std::int64_t>(simulator_->printer().freeFlash())));
}

void OperatorTruthTest::anUnansweredFlashQueryIsToldOncePerRun() {
    startWindow(Link::Tcp);
    addFile(MONO);
    addFile(SERIF);
    setFaults([](printersim::Faults& f) { f.badFlashReplies = 1'000'000; });
    send();
    QCOMPARE(harness_->prompts.countMessages(QStringLiteral("Can't read flash remaining")), 1);
    QCOMPARE(simulator_->printer().journal().size(), std::size_t(2));
}

// One Enter after the end's message does not send the list again, and a
// list the printer verifiably holds is sent again only when asked (No by
// default).
void OperatorTruthTest::aListThePrinterHoldsIsSentAgainOnlyWhenAsked() {
    forgetLedger();
    startWindow(Link::Usb);
    window_->show();
    QApplication::setActiveWindow(window_);  // also with no window manager
    QVERIFY(QTest::qWaitForWindowActive(window_));
    addFile(MONO);
    auto* sendButton = test::control<QPushButton>(*window_, "cmdSendListToPrinter");
    sendButton->setFocus();
    send();
    QCOMPARE(simulator_->printer().journal().size(), std::size_t(1));
    QVERIFY(QApplication::focusWidget() != nullptr && QApplication::focusWidget() != sendButton);
    QVERIFY(window_->fileList().index(1, PATH_COLUMN).data(FileList::HeldRole).toBool());
    keepPicture(*window_);

    for (const bool again : {false, true}) {
        harness_->prompts.answerYesNo(again);
        send();
        const auto& asked = harness_->prompts.prompts().front();
        QCOMPARE(asked.kind, ScriptedOperatorPrompts::Kind::YesNo);
        QVERIFY2(asked.text.contains(QStringLiteral("already holds every file")), qPrintable(asked.text));
        QCOMPARE(asked.defaultAnswer, DefaultAnswer::No);
        QCOMPARE(simulator_->printer().journal().size(), std::size_t(again ? 2 : 1));
    }
}

// After the window's own load the record agrees with the printer; once the
// printer lost what it held, Printer Holds says so and the marks go.
void OperatorTruthTest::printerHoldsComparesWithAReadingTakenNow() {
    forgetLedger();
    startWindow(Link::Tcp);
    addFile(MONO);
    send();
    const auto holds = [this] {
        window_->readHoldsNow();
        window_->waitForWork();
        return window_->printerHolds().holdsText();
    };
    const auto held = [this] {
        return window_->fileList().index(1, PATH_COLUMN).data(FileList::HeldRole).toBool();
    };
    QString text = holds();
    QVERIFY2(text.contains(QStringLiteral("as last seen")), qPrintable(text));
    QVERIFY(held());
    keepPicture(*window_->printerHolds().holdsDialog());

    simulator_->printer().eraseReceived("restart");
    QVERIFY(simulator_->printer().waitUntilIdle(std::chrono::seconds(5)));
    text = holds();
    QVERIFY2(text.contains(QStringLiteral("changed since last seen: the printer reports 8388608 bytes free")),
             qPrintable(text));
    QCOMPARE(flashLabel(), QStringLiteral("8,388,608"));
    QVERIFY(!held());
}

// A PCX replaced after Add: its new size goes into the grid, "Flash
// Needed" and the flash check, and the operator is told; a file that can
// no longer be read stops the send before any byte goes out.
void OperatorTruthTest::aFileChangedSinceListedIsReadAgainBeforeTheSend() {
    printersim::PrinterConfig config = fastFlash();
    config.flashSize = 3'000;
    startWindow(Link::Usb, config);
    window_->selectMode(LoaderMode::ModePCX);
    const QString path = test::writeFile(dir_->filePath("logo.pcx"), testing::pcxFile(1'108, 1));
    addFile(path);
    test::writeFile(path, testing::pcxFile(4'774, 2));

    harness_->prompts.answerYesNo(false);
    send();
    QCOMPARE(window_->fileList().index(1, SIZE_COLUMN).data().toString(), QStringLiteral("4774"));
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), QStringLiteral("4,774"));
    QVERIFY(
        harness_->prompts.messages().constFirst().contains(path + ": 1,108 bytes when listed, 4,774 now"));
    QVERIFY(harness_->prompts.prompts().back().text.startsWith(QStringLiteral("The list needs 4,774 bytes")));

    test::writeFile(path, testing::pcxFile(4'774, 2).left(2'000));
    send();
    QVERIFY2(harness_->prompts.messages().constLast().startsWith(
                 "File " + path + " cannot be loaded: The PCX picture data ends early"),
             qPrintable(harness_->prompts.messages().constLast()));
    QVERIFY(simulator_->printer().journal().empty());
}

VELQUIN_QTEST_MAIN(OperatorTruthTest)
#include "operator_truth_test.moc"
