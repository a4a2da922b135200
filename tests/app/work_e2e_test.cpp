// The work commands of the real window against printer-sim, over a simulated
// USB printer and over TCP on 127.0.0.1, with real fonts and images: what the
// printer stores, what the operator is shown, and the ways a run can fail.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <memory>

#include "../support/loadable_files.h"
#include "app_test_support.h"
#include "file_list.h"
#include "image_conversion_dialog.h"
#include "network_address_dialog.h"
#include "pcx.h"
#include "preview_panel.h"
#include "printer_facts.h"
#include "printer_holds.h"
#include "program_settings.h"
#include "simulator.h"

using namespace velquin;
using test::WindowHarness;

namespace {

enum class Link { Usb, Tcp };

QByteArray sha256Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Makes a PCX image with ImageMagick.
QString makePcx(const QString& path, const QString& size, const QString& drawing) {
    QProcess convert;
    convert.start(QStringLiteral("convert"), {QStringLiteral("-size"), size, drawing, path});
    if (!convert.waitForFinished(30'000) || convert.exitCode() != 0 || !QFileInfo::exists(path))
        qFatal("ImageMagick could not make %s: %s", qPrintable(path),
               convert.readAllStandardError().constData());
    return path;
}

// One row per link: the simulated USB printer and TCP.
void linkRows() {
    QTest::addColumn<Link>("link");
    QTest::addRow("usb") << Link::Usb;
    QTest::addRow("tcp") << Link::Tcp;
}

QString copyInto(const QString& source, const QDir& folder) {
    const QString target = folder.filePath(QFileInfo(source).fileName());
    QFile::remove(target);
    if (!QFile::copy(source, target)) qFatal("cannot copy %s", qPrintable(source));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

}  // namespace

Q_DECLARE_METATYPE(Link)
Q_DECLARE_METATYPE(velquin::LoaderMode)

class WorkEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void uploadStoresEveryFileByteExact_data();
    void uploadStoresEveryFileByteExact();
    void anImageAddedInPcxModeIsConvertedAndStoredByteExact();
    void busyAtEntrySendsNothing_data();
    void busyAtEntrySendsNothing();
    void busyBeforeALaterFileEndsTheRun();
    void aListLargerThanTheFreeFlashIsSentOnlyIfAgreed();
    void aSoftFontThatFailsToConvertReachesNothing();
    void aToggleThatNeverChangesTimesOut_data();
    void aToggleThatNeverChangesTimesOut();
    void theOperatorCancelsAToggleWait();
    void aConnectionClosedMidFileStopsTheRun_data();
    void aConnectionClosedMidFileStopsTheRun();
    void aListedFileThatVanishedStopsBeforeItsHeader();
    void demoModeTouchesNoPrinter_data();
    void demoModeTouchesNoPrinter();
    void commandsCannotNestInsideAnUpload();
    void everyClickDuringAnUploadLeavesItUnharmed();
    void aRefusedTestClickLeavesADemoRunAlone();
    void closingTheWindowEndsAnUploadQuietly_data();
    void closingTheWindowEndsAnUploadQuietly();
    void listFilesRoundTrip();
    void listFileLinesThatNameNoFileAreReported();
    void theListHoldsOneHundredFiles();
    void flashNeededFormats();
    void modeSwitchEmptiesTheList();
    void listEditingAndTheExitQuestion();
    void previewFollowsTheSelectedRowUntilHidden();
    void fontIdCell();
    void eraseAnsweredNoOrYes_data();
    void eraseAnsweredNoOrYes();
    void flashAndStatusQueries_data();
    void flashAndStatusQueries();
    void testTicketsPerMode_data();
    void testTicketsPerMode();

private:
    // Starts the simulator (fast flash unless told), then the window, and
    // links them: a USB device found at start-up, or TCP through the dialog.
    void startWindow(Link link, printersim::PrinterConfig config = fastFlash());
    static printersim::PrinterConfig fastFlash() {
        printersim::PrinterConfig config;
        config.writeBytesPerSecond = 0;
        return config;
    }
    void selectMode(LoaderMode mode) { window_->selectMode(mode); }
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
    QStringList statusLines() const {
        QStringList lines;
        for (int i = 0; i < test::control<QListWidget>(*window_, "lstStatus")->count(); ++i)
            lines << test::control<QListWidget>(*window_, "lstStatus")->item(i)->text();
        return lines;
    }
    QString cell(int row, int column) const {
        return test::control<QTableView>(*window_, "grdInfo")->model()->index(row, column).data().toString();
    }
    std::vector<printersim::JournalEntry> journal() const { return simulator_->printer().journal(); }
    // Every button, frame and option that starts a command is enabled again.
    void verifyControlsReleased() const;
    // The ledger's newest load of the printer found: `path`, confirmed, with
    // the free flash read after it.
    void verifyNewestLoadConfirmed(const QString& path) {
        PrinterHolds& holds = window_->printerHolds();
        QVERIFY(holds.printer());
        const std::vector<ledger::LoadRecord> loads = holds.ledger().loads(*holds.printer());
        QVERIFY(!loads.empty());
        QCOMPARE(loads.front().path, path);
        QCOMPARE(loads.front().outcome, ledger::Outcome::Confirmed);
        QVERIFY(loads.front().freeAfter.has_value());
    }

    std::unique_ptr<test::PrivateEnvironment> environment_;
    std::unique_ptr<QTemporaryDir> files_;
    QStringList trueTypeFonts_;
    QStringList pcxImages_;
    QStringList softFonts_;
    std::unique_ptr<printersim::Simulator> simulator_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<WindowHarness> harness_;
    MainWindow* window_ = nullptr;
};

void WorkEndToEndTest::initTestCase() {
    environment_ = std::make_unique<test::PrivateEnvironment>();
    QLocale::setDefault(QLocale::c());
    files_ = std::make_unique<QTemporaryDir>();
    const QDir folder(files_->path());
    trueTypeFonts_ = {QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"),
                      QStringLiteral("/usr/share/fonts/opentype/urw-base35/NimbusMonoPS-Bold.otf"),
                      QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf")};
    for (const QString& font : trueTypeFonts_) QVERIFY2(QFileInfo::exists(font), qPrintable(font));
    pcxImages_ = {makePcx(folder.filePath("gradient.pcx"), "320x200", "gradient:blue-yellow"),
                  makePcx(folder.filePath("Logo.PCX"), "64x48", "pattern:checkerboard"),
                  makePcx(folder.filePath("plasma.pcx"), "200x150", "plasma:fractal")};
    // The converter writes beside its input: work on copies.
    for (const char* name : {"courier10.sfp", "terminus16.SFP", "times-bold24.sfp"})
        softFonts_ << copyInto(QStringLiteral(VELQUIN_SAMPLE_FONTS "/") + QLatin1String(name), folder);
}

void WorkEndToEndTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
}

void WorkEndToEndTest::cleanup() {
    if (window_ && window_->endRequested()) {
        // A closed window asked the application to exit, which makes every
        // later dialog return at once; running the application's loop for a
        // moment clears that for the next test.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    harness_.reset();
    window_ = nullptr;
    simulator_.reset();
    dir_.reset();
}

void WorkEndToEndTest::startWindow(Link link, printersim::PrinterConfig config) {
    simulator_ = std::make_unique<printersim::Simulator>(config);
    if (link == Link::Usb) {
        simulator_->addDevice(printersim::usbDevicePath(environment_->path("devices").toStdString(), 0));
    } else {
        simulator_->listenTcp();
        QFile::remove(printersim::usbDevicePath(environment_->path("devices").toStdString(), 0).c_str());
    }
    harness_ = std::make_unique<WindowHarness>(QStringLiteral(MORLIX_LIBRARY_PATH), dir_->path());
    window_ = harness_->window.get();
    QVERIFY(harness_->start());
    if (link == Link::Tcp) {
        const QString port = QString::number(simulator_->port());
        QTimer::singleShot(0, window_, [this, port] {
            NetworkAddressDialog& dialog = window_->form1();
            test::typeAddress(dialog, "127", "0", "0", "1", port);
            test::control<QPushButton>(dialog, "cmdCreateSocket")->click();
        });
        window_->findNetworkPrinter();
        window_->waitForWork();
        QVERIFY(window_->state.printer.link() == SessionLink::Tcp);
    }
    QCOMPARE(window_->state.printer.found(), true);
    harness_->prompts.clear();
}

void WorkEndToEndTest::verifyControlsReleased() const {
    for (QWidget* control : std::initializer_list<QWidget*>{
             test::control<QGroupBox>(*window_, "FrameAddToList"),
             test::control<QGroupBox>(*window_, "FrameDeleteFromList"),
             test::control<QGroupBox>(*window_, "FrameFileOperations"),
             test::control<QGroupBox>(*window_, "FramePrinterOperations"),
             test::control<QGroupBox>(*window_, "FrameTest"), test::control<QGroupBox>(*window_, "FrameMode"),
             test::control<QPushButton>(*window_, "CmdGetFlash"),
             test::control<QPushButton>(*window_, "CmdGetStatus"),
             test::control<QPushButton>(*window_, "cmdExit"),
             test::control<QPushButton>(*window_, "cmdSendListToPrinter")})
        QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));
    QVERIFY(!window_->state.OperationRunning);
}

void WorkEndToEndTest::uploadStoresEveryFileByteExact_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<LoaderMode>("mode");
    for (const auto& [link, linkName] : {std::pair{Link::Usb, "usb"}, std::pair{Link::Tcp, "tcp"}}) {
        QTest::addRow("%s true type", linkName) << link << LoaderMode::ModeTTF;
        QTest::addRow("%s soft font", linkName) << link << LoaderMode::ModeSF;
        QTest::addRow("%s pcx", linkName) << link << LoaderMode::ModePCX;
    }
}

void WorkEndToEndTest::uploadStoresEveryFileByteExact() {
    QFETCH(Link, link);
    QFETCH(LoaderMode, mode);
    startWindow(link);
    selectMode(mode);
    const QStringList& files = mode == LoaderMode::ModeTTF   ? trueTypeFonts_
                               : mode == LoaderMode::ModePCX ? pcxImages_
                                                             : softFonts_;
    for (const QString& file : files) addFile(file);
    QCOMPARE(window_->fileList().count(), 3);
    QVERIFY(test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled());

    send();
    // The last file's transfer stays shown: all its bytes went out.
    const QString lastFile = test::control<QLabel>(*window_, "lblFileTransfer")->text();
    QVERIFY2(lastFile.contains(QStringLiteral(" bytes")), qPrintable(lastFile));

    // What the printer stores: each file in list order, byte for byte (a
    // soft font as its converted file, header included).
    const auto entries = journal();
    QCOMPARE(entries.size(), std::size_t(3));
    const printersim::EntryKind kind = mode == LoaderMode::ModeTTF   ? printersim::EntryKind::TrueType
                                       : mode == LoaderMode::ModePCX ? printersim::EntryKind::Pcx
                                                                     : printersim::EntryKind::SoftFont;
    std::int64_t convertedTotal = 0;
    for (int i = 0; i < 3; ++i) {
        const QString stored = mode == LoaderMode::ModeSF ? ConvertFileName(files[i]) : files[i];
        const QByteArray bytes = test::readFile(stored);
        const printersim::JournalEntry& entry = entries[static_cast<std::size_t>(i)];
        QVERIFY2(entry.kind == kind && entry.stored && !entry.error, printersim::describe(entry).c_str());
        QCOMPARE(entry.size, static_cast<std::uint64_t>(bytes.size()));
        QCOMPARE(QByteArray::fromStdString(entry.sha256), sha256Hex(bytes));
        convertedTotal += bytes.size();
        if (mode != LoaderMode::ModeSF)
            QCOMPARE(
                statusLines().count(QStringLiteral("Flash space used = ") + QString::number(bytes.size())),
                1);
    }

    // What the operator sees agrees with the printer's own count.
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(),
             formatGrouped(static_cast<std::int64_t>(simulator_->printer().freeFlash())));
    QCOMPARE(test::control<QProgressBar>(*window_, "ProgressBar1")->value(),
             test::control<QProgressBar>(*window_, "ProgressBar1")->maximum());
    QCOMPARE(test::control<QProgressBar>(*window_, "ProgressBar1")->maximum(),
             mode == LoaderMode::ModeSF ? 6 : 3);
    QCOMPARE(test::control<QLabel>(*window_, "LblProgress")->text(), QStringLiteral("Flash Upload Complete"));
    const auto& prompts = harness_->prompts.prompts();
    QVERIFY(!prompts.empty());
    QCOMPARE(prompts.back().text, QStringLiteral("Flash Upload Complete"));
    QCOMPARE(prompts.back().title, mode == LoaderMode::ModeTTF   ? QStringLiteral("True Type Fonts")
                                   : mode == LoaderMode::ModePCX ? QStringLiteral("PCX image")
                                                                 : QStringLiteral("Zara Rida Davezo"));
    if (mode == LoaderMode::ModeSF) {
        QCOMPARE(harness_->prompts.messages(),
                 QStringList({QStringLiteral("Soft Font Mode"), QStringLiteral("Flash Upload Complete")}));
        QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), QString::number(convertedTotal));
    } else {
        QCOMPARE(harness_->prompts.messages(), QStringList({QStringLiteral("Flash Upload Complete")}));
    }
    QCOMPARE(statusLines().count(QStringLiteral("Waiting for done, found toggle change")), 3);
    verifyControlsReleased();
}

// "Add To List" in PCX mode with an SVG logo: the conversion dialog, OK, the
// PCX beside the logo in the list and in the printer, byte for byte.
void WorkEndToEndTest::anImageAddedInPcxModeIsConvertedAndStoredByteExact() {
    startWindow(Link::Usb);
    selectMode(LoaderMode::ModePCX);
    const QString logo = dir_->filePath(QStringLiteral("logo.v2.svg"));
    QFile svg(logo);
    QVERIFY(svg.open(QIODevice::WriteOnly));
    svg.write(
        "<svg xmlns='http://www.w3.org/2000/svg' width='60' height='30'>"
        "<circle cx='15' cy='15' r='12'/><rect x='32' y='4' width='24' height='22'/></svg>");
    svg.close();

    bool dialogSeen = false;
    QTimer::singleShot(0, window_, [&] {
        auto* dialog = qobject_cast<ImageConversionDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        dialogSeen = true;
        dialog->widthDots->setValue(240);
        dialog->accept();
    });
    addFile(logo);
    QVERIFY(dialogSeen);

    const QString pcx = dir_->filePath(QStringLiteral("logo.v2.pcx"));
    QCOMPARE(cell(1, PATH_COLUMN), pcx);
    const QByteArray bytes = test::readFile(pcx);
    QCOMPARE(cell(1, SIZE_COLUMN), QString::number(bytes.size()));
    const image::PcxReadResult read = image::readPcx(bytes);
    QVERIFY(read.ok());
    QCOMPARE(read.image.size(), QSize(240, 120));

    send();
    const auto entries = journal();
    QCOMPARE(entries.size(), std::size_t(1));
    QVERIFY2(entries[0].kind == printersim::EntryKind::Pcx && entries[0].stored,
             printersim::describe(entries[0]).c_str());
    QCOMPARE(entries[0].size, static_cast<std::uint64_t>(bytes.size()));
    QCOMPARE(QByteArray::fromStdString(entries[0].sha256), sha256Hex(bytes));
}

void WorkEndToEndTest::busyAtEntrySendsNothing_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<LoaderMode>("mode");
    QTest::addColumn<QString>("message");
    QTest::addRow("usb true type") << Link::Usb << LoaderMode::ModeTTF
                                   << "Can not send files to printer because printer is not ready entry";
    QTest::addRow("tcp pcx") << Link::Tcp << LoaderMode::ModePCX
                             << "Can not send files to printer because printer is not ready entry";
    QTest::addRow("tcp soft font") << Link::Tcp << LoaderMode::ModeSF
                                   << "Can not send files to printer because printer is not ready running";
}

void WorkEndToEndTest::busyAtEntrySendsNothing() {
    QFETCH(Link, link);
    QFETCH(LoaderMode, mode);
    QFETCH(QString, message);
    startWindow(link);
    selectMode(mode);
    addFile(mode == LoaderMode::ModeTTF   ? trueTypeFonts_[0]
            : mode == LoaderMode::ModePCX ? pcxImages_[0]
                                          : softFonts_[0]);
    printersim::Faults faults;
    faults.stayBusy = true;
    simulator_->printer().setFaults(faults);

    send();

    QVERIFY(journal().empty());
    QCOMPARE(harness_->prompts.messages().constLast(), message);
    QVERIFY(statusLines().contains(QStringLiteral("0 0 0 0 20")));
    verifyControlsReleased();
}

void WorkEndToEndTest::busyBeforeALaterFileEndsTheRun() {
    startWindow(Link::Tcp);
    addFile(trueTypeFonts_[0]);
    addFile(trueTypeFonts_[1]);
    printersim::PrinterModel& printer = simulator_->printer();
    printer.setJournalListener([&printer](const printersim::JournalEntry&) {
        printersim::Faults faults;
        faults.stayBusy = true;
        printer.setFaults(faults);
    });

    send();

    QCOMPARE(journal().size(), std::size_t(1));
    QCOMPARE(harness_->prompts.messages().size(), 1);
    QVERIFY(harness_->prompts.messages().constFirst().startsWith(
        QStringLiteral("Can not send files to printer because printer is not ready running")));
    QVERIFY(statusLines().contains(QStringLiteral("TTF Busy after flash update")));
    QCOMPARE(test::control<QProgressBar>(*window_, "ProgressBar1")->value(), 1);
}

void WorkEndToEndTest::aListLargerThanTheFreeFlashIsSentOnlyIfAgreed() {
    printersim::PrinterConfig smallFlash = fastFlash();
    smallFlash.flashSize = 500'000;
    startWindow(Link::Usb, smallFlash);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(), QStringLiteral("500,000"));
    addFile(trueTypeFonts_[0]);
    addFile(trueTypeFonts_[2]);

    harness_->prompts.answerYesNo(false);
    send();
    QVERIFY(journal().empty());
    QCOMPARE(harness_->prompts.prompts().size(), std::size_t(1));
    QCOMPARE(harness_->prompts.prompts().front().kind, ScriptedOperatorPrompts::Kind::YesNo);
    QVERIFY(harness_->prompts.prompts().front().text.contains(QStringLiteral("500,000")));

    // Agreed: the printer takes what fits and reports the rest as not stored.
    harness_->prompts.answerYesNo(true);
    send();
    QCOMPARE(journal().size(), std::size_t(2));
    QVERIFY(journal().front().stored);
    QVERIFY(!journal().back().stored);
    QVERIFY(harness_->prompts.messages().constLast().contains(trueTypeFonts_[2]));
}

void WorkEndToEndTest::aSoftFontThatFailsToConvertReachesNothing() {
    startWindow(Link::Usb);
    selectMode(LoaderMode::ModeSF);
    // A TrueType font is no PCL soft font.
    // Listed while it was one, replaced before the send.
    const QString renamed = dir_->filePath("fake.sfp");
    QVERIFY(QFile::copy(softFonts_[2], renamed));
    addFile(softFonts_[0]);
    addFile(renamed);
    addFile(softFonts_[1]);
    QVERIFY(QFile::remove(renamed));
    QVERIFY(QFile::copy(trueTypeFonts_[0], renamed));
    const std::uint64_t statusRequestsBefore = simulator_->printer().bytesReceived();

    send();

    const QString failure = "File " + renamed + " did not convert properly";
    QCOMPARE(harness_->prompts.messages(),
             QStringList({QStringLiteral("Soft Font Mode"),
                          failure + ": Soft font file not found (no soft font header in the file)"}));
    QVERIFY(journal().empty());
    QCOMPARE(simulator_->printer().bytesReceived(), statusRequestsBefore);
    QCOMPARE(statusLines().constLast(), QStringLiteral("Send List to printer complete .. aborted"));
    QVERIFY(statusLines().contains("File " + softFonts_[0] + " converted properly"));
    QVERIFY(!statusLines().contains("File " + softFonts_[1] + " converted properly"));
}

void WorkEndToEndTest::aToggleThatNeverChangesTimesOut_data() {
    linkRows();
}

void WorkEndToEndTest::aToggleThatNeverChangesTimesOut() {
    QFETCH(Link, link);
    startWindow(link);
    selectMode(LoaderMode::ModePCX);
    addFile(pcxImages_[0]);
    addFile(pcxImages_[1]);
    printersim::Faults faults;
    faults.freezeToggle = true;
    simulator_->printer().setFaults(faults);
    window_->setToggleWaitTimeoutMs(1'500);

    send();

    // The printer stored the file although its toggle never told: said, and recorded.
    QCOMPARE(harness_->prompts.messages().size(), 1);
    QVERIFY(harness_->prompts.messages()[0].startsWith("The printer did not finish writing " + pcxImages_[0] +
                                                       " to flash, upload stopped\n\nThe printer stored " +
                                                       pcxImages_[0] + " all the same"));
    verifyNewestLoadConfirmed(pcxImages_[0]);
    QVERIFY(statusLines().contains("Upload stopped, the printer did not finish writing " + pcxImages_[0]));
    QCOMPARE(statusLines().filter(QStringLiteral("Waiting for done, toggle has not changed")).size(), 1);
    QCOMPARE(journal().size(), std::size_t(1));
    QVERIFY(!window_->findChild<QPushButton*>(QStringLiteral("cmdCancelWait"))->isVisible());
    verifyControlsReleased();
}

void WorkEndToEndTest::theOperatorCancelsAToggleWait() {
    startWindow(Link::Tcp);
    addFile(trueTypeFonts_[0]);
    printersim::Faults faults;
    faults.freezeToggle = true;
    simulator_->printer().setFaults(faults);
    QPushButton* cancel = window_->findChild<QPushButton*>(QStringLiteral("cmdCancelWait"));
    QVERIFY(cancel);
    bool offered = false;
    QTimer clicker;
    connect(&clicker, &QTimer::timeout, window_, [&] {
        if (!cancel->isHidden()) {
            offered = true;
            QTest::mouseClick(cancel, Qt::LeftButton);
        }
    });
    clicker.start(50);

    send();

    QVERIFY(offered);
    QCOMPARE(harness_->prompts.messages().size(), 1);
    QVERIFY(harness_->prompts.messages()[0].startsWith("Upload cancelled while the printer was writing " +
                                                       trueTypeFonts_[0] + "\n\nThe printer stored " +
                                                       trueTypeFonts_[0] + " all the same"));
    verifyNewestLoadConfirmed(trueTypeFonts_[0]);
    QVERIFY(statusLines().contains(QStringLiteral("Waiting for done, cancelled")));
    QVERIFY(cancel->isHidden());
}

void WorkEndToEndTest::aConnectionClosedMidFileStopsTheRun_data() {
    linkRows();
}

void WorkEndToEndTest::aConnectionClosedMidFileStopsTheRun() {
    QFETCH(Link, link);
    startWindow(link);
    addFile(trueTypeFonts_[0]);
    addFile(trueTypeFonts_[1]);
    printersim::Faults faults;
    faults.closeMidFile = true;
    simulator_->printer().setFaults(faults);

    send();

    QCOMPARE(harness_->prompts.messages().size(), 1);
    QVERIFY2(harness_->prompts.messages().constFirst().contains(trueTypeFonts_[0]),
             qPrintable(harness_->prompts.messages().constFirst()));
    QVERIFY(!statusLines().contains("Sending true type font to printer " + trueTypeFonts_[1]));
    for (const auto& entry : journal()) QVERIFY(!entry.stored);
    verifyControlsReleased();
}

void WorkEndToEndTest::aListedFileThatVanishedStopsBeforeItsHeader() {
    startWindow(Link::Usb);
    const QString doomed = copyInto(trueTypeFonts_[1], QDir(dir_->path()));
    addFile(trueTypeFonts_[0]);
    addFile(doomed);
    QVERIFY(QFile::remove(doomed));

    send();

    QCOMPARE(journal().size(), std::size_t(1));
    QCOMPARE(harness_->prompts.messages().size(), 1);
    QVERIFY(harness_->prompts.messages().constFirst().startsWith("File " + doomed +
                                                                 " can not be opened, upload stopped"));
}

void WorkEndToEndTest::demoModeTouchesNoPrinter_data() {
    QTest::addColumn<LoaderMode>("mode");
    QTest::addColumn<QString>("demoLine");
    QTest::addRow("true type") << LoaderMode::ModeTTF << "Demo mode - Sending true type font to printer ";
    QTest::addRow("soft font") << LoaderMode::ModeSF << "Demo mode - Sending converted file to printer ";
    QTest::addRow("pcx") << LoaderMode::ModePCX << "Demo mode - Sending PCX image to printer ";
}

void WorkEndToEndTest::demoModeTouchesNoPrinter() {
    QFETCH(LoaderMode, mode);
    QFETCH(QString, demoLine);
    simulator_ = std::make_unique<printersim::Simulator>(fastFlash());
    simulator_->addDevice(printersim::usbDevicePath(environment_->path("devices").toStdString(), 0));
    harness_ = std::make_unique<WindowHarness>(QStringLiteral(MORLIX_LIBRARY_PATH), dir_->path());
    window_ = harness_->window.get();
    test::writeFile(harness_->demoMarker(), "demo");
    QVERIFY(harness_->start());
    QCOMPARE(window_->state.DemoMode, true);
    selectMode(mode);
    const QStringList& files = mode == LoaderMode::ModeTTF   ? trueTypeFonts_
                               : mode == LoaderMode::ModePCX ? pcxImages_
                                                             : softFonts_;
    addFile(files[0]);
    addFile(files[1]);

    send();
    QCOMPARE(statusLines().count(demoLine), 2);
    QVERIFY(!statusLines().contains(QStringLiteral("Writing file ")));
    QCOMPARE(test::control<QProgressBar>(*window_, "ProgressBar1")->value(),
             test::control<QProgressBar>(*window_, "ProgressBar1")->maximum());
    QVERIFY(harness_->prompts.messages().constLast().startsWith(QStringLiteral("Flash Upload Complete")));
    harness_->prompts.answerYesNo(true);
    window_->clearFontSpace();
    window_->waitForWork();
    window_->getFlash();
    window_->waitForWork();
    window_->getBusyStatus();
    window_->waitForWork();
    window_->printTest1();
    window_->waitForWork();
    window_->printTestsOneToFive();
    window_->waitForWork();

    QCOMPARE(simulator_->printer().connectionsAccepted(), std::uint64_t(0));
    QVERIFY(journal().empty());
}

void WorkEndToEndTest::commandsCannotNestInsideAnUpload() {
    printersim::PrinterConfig slowFlash;
    slowFlash.writeBytesPerSecond = 400'000;  // about a second per font
    startWindow(Link::Tcp, slowFlash);
    addFile(trueTypeFonts_[0]);
    int nestedAttempts = 0;
    QTimer intruder;
    connect(&intruder, &QTimer::timeout, window_, [&] {
        if (!window_->state.OperationRunning) return;
        ++nestedAttempts;
        QVERIFY(!test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled() ||
                !test::control<QGroupBox>(*window_, "FramePrinterOperations")->isEnabled());
        QVERIFY(!test::control<QGroupBox>(*window_, "FrameMode")->isEnabled());
        window_->sendList();
        window_->clearFontSpace();
        window_->getFlash();
        window_->printTest1();
        window_->deleteAllItems();
        test::control<QRadioButton>(*window_, "OptionPCX")->setChecked(true);
    });
    intruder.start(100);

    send();
    intruder.stop();

    QVERIFY(nestedAttempts > 0);
    QCOMPARE(journal().size(), std::size_t(1));
    QCOMPARE(harness_->prompts.messages(), QStringList({QStringLiteral("Flash Upload Complete")}));
    QCOMPARE(window_->fileList().count(), 1);
    QVERIFY(test::control<QRadioButton>(*window_, "OptionTTF")->isChecked());
    verifyControlsReleased();
}

// The operator clicks every control that is enabled, and the close box
// (answering No), all through an upload: the run goes on undisturbed, the
// printer stores each file once byte for byte, and the window ends truthful.
void WorkEndToEndTest::everyClickDuringAnUploadLeavesItUnharmed() {
    printersim::PrinterConfig slowFlash;
    slowFlash.writeBytesPerSecond = 400'000;
    startWindow(Link::Tcp, slowFlash);
    addFile(trueTypeFonts_[0]);
    addFile(trueTypeFonts_[1]);
    int rounds = 0;
    QTimer intruder;
    connect(&intruder, &QTimer::timeout, window_, [&] {
        if (!window_->uploadRunning()) return;
        ++rounds;
        for (QAbstractButton* control : window_->findChildren<QAbstractButton*>()) {
            // Cancel is the one control meant to change the run.
            if (control->objectName() == QStringLiteral("cmdCancelWait")) continue;
            if (control->isEnabled() && control->isVisible()) control->click();
        }
        harness_->prompts.answerYesNo(false);
        window_->close();
    });
    intruder.start(50);

    send();
    intruder.stop();

    QVERIFY(rounds > 0);
    QVERIFY(!window_->endRequested());
    QCOMPARE(harness_->prompts.messages(), QStringList({QStringLiteral("Flash Upload Complete")}));
    const auto entries = journal();
    QCOMPARE(entries.size(), std::size_t(2));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const QByteArray bytes = test::readFile(trueTypeFonts_[static_cast<qsizetype>(i)]);
        QVERIFY2(entries[i].stored && !entries[i].error, printersim::describe(entries[i]).c_str());
        QCOMPARE(QByteArray::fromStdString(entries[i].sha256), sha256Hex(bytes));
    }
    QCOMPARE(test::control<QLabel>(*window_, "LblProgress")->text(), QStringLiteral("Flash Upload Complete"));
    QCOMPARE(test::control<QProgressBar>(*window_, "ProgressBar1")->value(), 2);
    QCOMPARE(cell(2, 1), trueTypeFonts_[1]);
    verifyControlsReleased();
}

// A test click refused during a demo run must not touch the demo printer
// the run is talking to: the run still sees each flash write end at once.
void WorkEndToEndTest::aRefusedTestClickLeavesADemoRunAlone() {
    harness_ = std::make_unique<WindowHarness>(QStringLiteral(MORLIX_LIBRARY_PATH), dir_->path());
    window_ = harness_->window.get();
    test::writeFile(harness_->demoMarker(), "demo");
    QVERIFY(harness_->start());
    QCOMPARE(window_->state.DemoMode, true);
    window_->setToggleWaitTimeoutMs(2'000);
    addFile(trueTypeFonts_[0]);
    addFile(trueTypeFonts_[1]);
    int nestedAttempts = 0;
    QTimer intruder;
    connect(&intruder, &QTimer::timeout, window_, [&] {
        if (!window_->state.OperationRunning) return;
        ++nestedAttempts;
        window_->printTest1();
    });
    intruder.start(0);

    send();
    intruder.stop();

    QVERIFY(nestedAttempts > 0);
    QVERIFY(statusLines().filter(QStringLiteral("Waiting for done, toggle has not changed")).isEmpty());
    QCOMPARE(statusLines().count(QStringLiteral("Waiting for done, found toggle change")), 2);
    QCOMPARE(harness_->prompts.messages().size(), 1);
    QVERIFY(harness_->prompts.messages().constFirst().startsWith(QStringLiteral("Flash Upload Complete")));
}

void WorkEndToEndTest::closingTheWindowEndsAnUploadQuietly_data() {
    linkRows();
}

void WorkEndToEndTest::closingTheWindowEndsAnUploadQuietly() {
    QFETCH(Link, link);
    printersim::PrinterConfig slowFlash;
    slowFlash.writeBytesPerSecond = 400'000;
    startWindow(link, slowFlash);
    addFile(trueTypeFonts_[0]);
    addFile(trueTypeFonts_[1]);
    QTimer closer;
    connect(&closer, &QTimer::timeout, window_, [&] {
        if (!statusLines().filter(QStringLiteral("Waiting for done, toggle has not changed")).isEmpty())
            window_->endProgram(0);
    });
    closer.start(20);

    send();
    closer.stop();

    QVERIFY(window_->endRequested());
    QVERIFY(harness_->prompts.messages().isEmpty());
    QCOMPARE(journal().size(), std::size_t(1));
    QVERIFY(!statusLines().contains("Sending true type font to printer " + trueTypeFonts_[1]));
}

void WorkEndToEndTest::listFilesRoundTrip() {
    startWindow(Link::Usb);
    for (const QString& font : trueTypeFonts_) addFile(font);
    const QString list = dir_->filePath("fonts.TFL");
    harness_->prompts.answerFile(list);
    window_->saveListToFile();
    QCOMPARE(test::readFile(list), QFile::encodeName(trueTypeFonts_.join("\r\n") + "\r\n"));
    const auto& saveDialog = harness_->prompts.prompts().back();
    QCOMPARE(saveDialog.text, QStringLiteral("Save True Type Font File List"));
    QCOMPARE(saveDialog.title, QStringLiteral("TRUE TYPE FONT FILE LIST *.TFL | *.TFL"));
    QCOMPARE(saveDialog.defaultExtension, QStringLiteral("TFL"));

    // Loading replaces the whole list, font IDs included.
    window_->fileList().setFontId(1, QStringLiteral("7"));
    addFile(pcxImages_[0]);
    harness_->prompts.answerFile(list);
    window_->getListFromFile();
    window_->waitForWork();
    QCOMPARE(window_->fileList().count(), 3);
    std::int64_t total = 0;
    for (int row = 1; row <= 3; ++row) {
        QCOMPARE(cell(row, ORDER_COLUMN), " " + QString::number(row));
        QCOMPARE(cell(row, PATH_COLUMN), trueTypeFonts_[row - 1]);
        QCOMPARE(cell(row, SIZE_COLUMN), QString::number(QFileInfo(trueTypeFonts_[row - 1]).size()));
        QCOMPARE(cell(row, FONT_ID_COLUMN), QString());
        total += QFileInfo(trueTypeFonts_[row - 1]).size();
    }
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), formatGrouped(total));
    QCOMPARE(harness_->prompts.prompts().back().text,
             QStringLiteral("Select the True Type Font printer file list"));

    // An empty list makes an empty file, and reading it leaves the list empty.
    window_->deleteAllItems();
    const QString empty = dir_->filePath("empty.TFL");
    harness_->prompts.answerFile(empty);
    window_->saveListToFile();
    QCOMPARE(test::readFile(empty), QByteArray());
    QVERIFY(QFileInfo::exists(empty));
    addFile(trueTypeFonts_[0]);
    harness_->prompts.answerFile(empty);
    window_->getListFromFile();
    window_->waitForWork();
    QCOMPARE(window_->fileList().count(), 0);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), QStringLiteral("0"));
    QVERIFY(!test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdDeleteLastItem")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdDeleteAllItems")->isEnabled());

    // Cancel keeps the list as it is; a list file that cannot be written is reported.
    addFile(trueTypeFonts_[0]);
    const QString shown = test::control<QLabel>(*window_, "lblFlashNeeded")->text();
    harness_->prompts.answerFile(std::nullopt);
    window_->getListFromFile();
    window_->waitForWork();
    QCOMPARE(window_->fileList().count(), 1);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), shown);
    const QString unwritable = dir_->filePath("no/such/folder/list.TFL");
    harness_->prompts.answerFile(unwritable);
    window_->saveListToFile();
    QCOMPARE(harness_->prompts.messages().constLast(), "An error occured while saving file " + unwritable);
}

void WorkEndToEndTest::listFileLinesThatNameNoFileAreReported() {
    startWindow(Link::Usb);
    selectMode(LoaderMode::ModePCX);
    const QString missing = dir_->filePath("missing.pcx");
    const QString list =
        test::writeFile(dir_->filePath("images.PFL"),
                        QFile::encodeName(pcxImages_[0] + "\r\n\r\n" + missing + "\r\n" + pcxImages_[1]));
    harness_->prompts.answerFile(list);
    window_->getListFromFile();
    window_->waitForWork();

    QCOMPARE(window_->fileList().count(), 2);
    QCOMPARE(cell(2, PATH_COLUMN), pcxImages_[1]);
    QCOMPARE(harness_->prompts.messages().size(), 1);
    const QString message = harness_->prompts.messages().constFirst();
    QVERIFY2(message.contains("line 2: empty") && message.contains("line 3: " + missing),
             qPrintable(message));
    QVERIFY(statusLines().contains("List file line 3: " + missing + " can not be opened, not added"));
    QVERIFY(test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled());
}

void WorkEndToEndTest::theListHoldsOneHundredFiles() {
    startWindow(Link::Usb);
    selectMode(LoaderMode::ModeBMP);
    const QString image = test::writeFile(dir_->filePath("tiny.bmp"), "BM" + QByteArray(8, 'b'));
    for (int i = 0; i < 100; ++i) addFile(image);
    QCOMPARE(window_->fileList().count(), 100);
    QCOMPARE(cell(100, ORDER_COLUMN), QStringLiteral(" 100"));
    harness_->prompts.clear();
    window_->addToList();
    window_->waitForWork();
    QCOMPARE(harness_->prompts.messages(),
             QStringList({QStringLiteral("The list holds 100 files, no more can be added")}));
    QCOMPARE(window_->fileList().count(), 100);

    // BMP mode has no upload.
    QVERIFY(!test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled());
    send();
    QCOMPARE(harness_->prompts.messages().size(), 1);
    QVERIFY(journal().empty());
}

void WorkEndToEndTest::flashNeededFormats() {
    startWindow(Link::Usb);
    const QString font = test::writeFile(dir_->filePath("k.ttf"), testing::trueTypeFile(1024, 1));
    addFile(font);
    QCOMPARE(cell(1, ORDER_COLUMN), QStringLiteral(" 1"));
    QCOMPARE(cell(1, PATH_COLUMN), font);
    QCOMPARE(cell(1, SIZE_COLUMN), QStringLiteral("1024"));
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), QStringLiteral("1,024"));
    QVERIFY(test::control<QPushButton>(*window_, "cmdDeleteLastItem")->isEnabled() &&
            test::control<QPushButton>(*window_, "cmdDeleteAllItems")->isEnabled());
    addFile(font);
    addFile(font);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), QStringLiteral("3,072"));
    window_->deleteLastItem();
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), QStringLiteral("2048"));
    window_->deleteLastItem();
    window_->deleteLastItem();
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), QStringLiteral("0"));
    QVERIFY(!test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdDeleteLastItem")->isEnabled());

    // A file that is gone by the time it is sized is not listed.
    harness_->prompts.answerFile(dir_->filePath("gone.ttf"));
    window_->addToList();
    window_->waitForWork();
    QCOMPARE(window_->fileList().count(), 0);
    QCOMPARE(harness_->prompts.messages().constLast(),
             "File " + dir_->filePath("gone.ttf") + " can not be opened");
}

void WorkEndToEndTest::modeSwitchEmptiesTheList() {
    startWindow(Link::Usb);
    addFile(trueTypeFonts_[0]);
    addFile(trueTypeFonts_[1]);
    // The operator is asked first; the default keeps the list and the mode.
    test::control<QRadioButton>(*window_, "OptionPCX")->click();
    QCOMPARE(harness_->prompts.prompts().back().kind, ScriptedOperatorPrompts::Kind::YesNo);
    QCOMPARE(harness_->prompts.prompts().back().defaultAnswer, DefaultAnswer::No);
    QVERIFY(test::control<QRadioButton>(*window_, "OptionTTF")->isChecked());
    QCOMPARE(window_->fileList().count(), 2);
    harness_->prompts.answerYesNo(true);
    test::control<QRadioButton>(*window_, "OptionPCX")->click();
    QCOMPARE(window_->fileList().count(), 0);
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->rowCount(), 1);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(), QStringLiteral("0"));
    QVERIFY(!test::control<QPushButton>(*window_, "cmdSendListToPrinter")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdDeleteLastItem")->isEnabled());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdDeleteAllItems")->isEnabled());
    QVERIFY(window_->windowTitle().endsWith(QStringLiteral("(PCX Mode)")));
    QCOMPARE(cell(0, PATH_COLUMN), QStringLiteral("PCX image File"));

    addFile(pcxImages_[0]);
    QCOMPARE(harness_->prompts.prompts().back().text, QStringLiteral("Select the PCX image File"));
    QVERIFY(
        harness_->prompts.prompts().back().title.startsWith(QStringLiteral("PCX IMAGE FILE *.PCX | *.PCX|")));
    QCOMPARE(cell(1, PATH_COLUMN), pcxImages_[0]);
}

void WorkEndToEndTest::listEditingAndTheExitQuestion() {
    startWindow(Link::Usb);
    for (int i = 0; i < 3; ++i) addFile(trueTypeFonts_[i]);
    const auto listed = [this] {
        QStringList rows;
        for (int row = 1; row < test::control<QTableView>(*window_, "grdInfo")->model()->rowCount(); ++row)
            rows << cell(row, ORDER_COLUMN) + QLatin1Char(':') +
                        QString::number(trueTypeFonts_.indexOf(cell(row, PATH_COLUMN)));
        return rows.join(QLatin1Char(' '));
    };
    window_->showListRow(2);
    test::control<QPushButton>(*window_, "cmdDeleteSelectedItem")->click();
    QCOMPARE(listed(), QStringLiteral(" 1:0  2:2"));
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeeded")->text(),
             formatGrouped(QFileInfo(trueTypeFonts_[0]).size() + QFileInfo(trueTypeFonts_[2]).size()));
    test::control<QPushButton>(*window_, "cmdMoveItemUp")
        ->click();  // the row after the deleted one stays selected
    QCOMPARE(listed(), QStringLiteral(" 1:2  2:0"));
    QVERIFY(!test::control<QPushButton>(*window_, "cmdMoveItemUp")->isEnabled() &&
            test::control<QPushButton>(*window_, "cmdMoveItemDown")->isEnabled());

    // A changed list is not dropped by Exit without asking; the default keeps it.
    test::control<QPushButton>(*window_, "cmdExit")->click();
    QCOMPARE(harness_->prompts.prompts().back().kind, ScriptedOperatorPrompts::Kind::YesNo);
    QCOMPARE(harness_->prompts.prompts().back().defaultAnswer, DefaultAnswer::No);
    QVERIFY(!window_->endRequested());
}

void WorkEndToEndTest::previewFollowsTheSelectedRowUntilHidden() {
    startWindow(Link::Usb);
    harness_->prompts.answerYesNo(true);
    test::control<QRadioButton>(*window_, "OptionSF")->click();
    addFile(softFonts_[0]);
    addFile(softFonts_[1]);
    auto* heading = window_->findChild<QLabel*>(QStringLiteral("PreviewHeading"));
    QVERIFY(heading);
    for (int row : {2, 1}) {
        window_->showListRow(row);
        QTRY_VERIFY2(heading->text().contains(QFileInfo(softFonts_[row - 1]).fileName()),
                     qPrintable(heading->text()));
    }
    // Hidden, it stays hidden in the next run.
    test::control<QCheckBox>(*window_, "chkShowPreview")->setChecked(false);
    QVERIFY(test::control<PreviewPanel>(*window_, "previewPanel")->isHidden());
    QVERIFY(!ProgramSettings().previewShown());
}

void WorkEndToEndTest::fontIdCell() {
    startWindow(Link::Usb);
    addFile(trueTypeFonts_[0]);
    harness_->prompts.answerInput(QStringLiteral("12"));
    window_->enterFontId(1, FONT_ID_COLUMN);
    QCOMPARE(cell(1, FONT_ID_COLUMN), QStringLiteral("12"));
    const auto& asked = harness_->prompts.prompts().back();
    QCOMPARE(asked.text, QStringLiteral("Enter True Type Font ID:"));
    QCOMPARE(asked.title, QStringLiteral("Input test"));

    harness_->prompts.answerInput(std::nullopt);
    window_->enterFontId(1, FONT_ID_COLUMN);
    QCOMPARE(cell(1, FONT_ID_COLUMN), QStringLiteral("12"));

    harness_->prompts.answerInput(QStringLiteral("7"));
    window_->enterFontId(1, PATH_COLUMN);
    QCOMPARE(cell(1, PATH_COLUMN), trueTypeFonts_[0]);
    QCOMPARE(cell(1, FONT_ID_COLUMN), QStringLiteral("7"));

    // Only what the printer takes is noted; anything else is refused, saying why.
    for (const char* refused : {"abc", "0", "256", "-3", "1 2", "99999999999"}) {
        harness_->prompts.clear();
        harness_->prompts.answerInput(QString::fromLatin1(refused));
        window_->enterFontId(1, FONT_ID_COLUMN);
        QCOMPARE(cell(1, FONT_ID_COLUMN), QStringLiteral("7"));
        QCOMPARE(harness_->prompts.messages().size(), 1);
        QVERIFY(harness_->prompts.messages()[0].contains(QStringLiteral("whole number from 1 to 255")));
    }
    harness_->prompts.answerInput(QStringLiteral(" 255 "));
    window_->enterFontId(1, FONT_ID_COLUMN);
    QCOMPARE(cell(1, FONT_ID_COLUMN), QStringLiteral("255"));

    // The ledger keeps it with the load.
    send();
    PrinterHolds& holds = window_->printerHolds();
    QVERIFY(holds.printer());
    const std::vector<ledger::LoadRecord> loads = holds.ledger().loads(*holds.printer());
    QCOMPARE(loads.size(), std::size_t(1));
    QCOMPARE(loads[0].fontId, std::optional<qint64>(255));

    // Only True Type rows take a font ID.
    harness_->prompts.answerYesNo(true);
    test::control<QRadioButton>(*window_, "OptionSF")->click();
    addFile(softFonts_[0]);
    const std::size_t promptsBefore = harness_->prompts.prompts().size();
    window_->enterFontId(1, FONT_ID_COLUMN);
    QCOMPARE(harness_->prompts.prompts().size(), promptsBefore);
}

void WorkEndToEndTest::eraseAnsweredNoOrYes_data() {
    linkRows();
}

void WorkEndToEndTest::eraseAnsweredNoOrYes() {
    QFETCH(Link, link);
    startWindow(link);
    addFile(trueTypeFonts_[2]);
    send();
    QVERIFY(simulator_->printer().freeFlash() < simulator_->printer().config().flashSize);
    window_->addStatusLine(QStringLiteral("kept"));

    harness_->prompts.clear();
    harness_->prompts.answerYesNo(false);
    window_->clearFontSpace();
    window_->waitForWork();
    QCOMPARE(statusLines().constLast(), QStringLiteral("kept"));
    QCOMPARE(journal().size(), std::size_t(1));
    QCOMPARE(harness_->prompts.prompts().front().text,
             QStringLiteral("Are you sure you want to clear Font space?"));
    QCOMPARE(harness_->prompts.prompts().front().title, QStringLiteral("Clear Flash"));
    QCOMPARE(harness_->prompts.prompts().front().defaultAnswer, DefaultAnswer::No);

    harness_->prompts.answerYesNo(true);
    window_->clearFontSpace();
    window_->waitForWork();
    QCOMPARE(journal().size(), std::size_t(2));
    QVERIFY(journal().back().kind == printersim::EntryKind::Erase);
    QCOMPARE(statusLines().constFirst(), QStringLiteral("Clearing flash memory"));
    QVERIFY(statusLines().contains(QStringLiteral("Waiting for done, found toggle change")));
    QCOMPARE(statusLines().constLast(), QStringLiteral("Flash space erased"));
    QCOMPARE(test::control<QLabel>(*window_, "LblProgress")->text(), QStringLiteral("Flash space erased"));
    QCOMPARE(simulator_->printer().freeFlash(), simulator_->printer().config().flashSize);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(),
             formatGrouped(static_cast<std::int64_t>(simulator_->printer().config().flashSize)));
    QCOMPARE(harness_->prompts.messages(), QStringList({QStringLiteral("Font space cleared")}));
    verifyControlsReleased();
}

void WorkEndToEndTest::flashAndStatusQueries_data() {
    linkRows();
}

void WorkEndToEndTest::flashAndStatusQueries() {
    QFETCH(Link, link);
    startWindow(link);
    test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->clear();
    window_->getFlash();
    window_->waitForWork();
    const QString free = QString::number(simulator_->printer().freeFlash());
    QStringList expected = {QStringLiteral("Getflash space remaining start")};
    if (link == Link::Usb)
        expected << QStringLiteral("Getflash space remaining, standard") << QStringLiteral("Return code = 0");
    expected << "Getflash space remaining = " + free;
    QCOMPARE(statusLines(), expected);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemaining")->text(),
             formatGrouped(free.toLongLong()));

    // A command started from the keyboard leaves the focus where it was.
    window_->show();
    QApplication::setActiveWindow(window_);
    QVERIFY(QTest::qWaitForWindowActive(window_));
    auto* getStatus = test::control<QPushButton>(*window_, "CmdGetStatus");
    getStatus->setFocus();
    const bool toggle = simulator_->printer().flashToggle();
    QTest::keyClick(getStatus, Qt::Key_Return);
    QTRY_VERIFY(!statusLines().isEmpty() &&
                statusLines().constFirst().startsWith(QStringLiteral("Flash toggle")));
    QCOMPARE(QApplication::focusWidget(), getStatus);
    QCOMPARE(statusLines().constFirst(), QStringLiteral("Flash toggle = ") + (toggle ? "1" : "0"));
    printersim::Faults faults;
    faults.statusBytes = std::vector<std::uint8_t>{0, 0, 0, 0, 0x22};
    simulator_->printer().setFaults(faults);
    window_->getBusyStatus();
    window_->waitForWork();
    QCOMPARE(statusLines(), QStringList({QStringLiteral("Flash toggle = 1"),
                                         QStringLiteral("Printer busy, flash toggle = 1")}));
}

void WorkEndToEndTest::testTicketsPerMode_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<LoaderMode>("mode");
    QTest::addColumn<QStringList>("tickets");
    const QStringList trueType = {
        "<RC100,000><TTF3,30>True type Font Number 3<p>",
        "<RC100,000><TTF1,20>True type Font Number 1<RC200,000><TTF2,20>True type Font Number 2"
        "<RC300,000><TTF3,20>True type Font Number 3<RC400,000><TTF4,20>True type Font Number 4"
        "<RC500,000><TTF5,20>True type Font Number 5<p>",
        "<RC100,000><RTF1,20>Resident True type Font Number 1<RC200,000><RTF2,20>Resident True type Font "
        "Number 2"
        "<RC300,000><RTF3,20>Resident True type Font Number 3<RC400,000><RTF4,20>Resident True type Font "
        "Number 4"
        "<RC500,000><RTF5,20>Resident True type Font Number Five 5<p>"};
    const QStringList soft = {"<RC100,000><SF3,30>Soft Font Number 3<p>",
                              "<RC100,000><SF1,20>Soft Font Number 1<RC200,000><SF2,20>Soft Font Number 2"
                              "<RC300,000><SF3,20>Soft Font Number 3<RC400,000><SF4,20>Soft Font Number 4"
                              "<RC500,000><SF5,20>Soft Font Number 5<p>"};
    const QStringList pcx = {"<NR><SP100,000><LD3><RR><SP100,300><LD3><RC100,500><F3><NR>PCX 3<p>"};
    QTest::addRow("usb true type") << Link::Usb << LoaderMode::ModeTTF << trueType;
    QTest::addRow("tcp true type") << Link::Tcp << LoaderMode::ModeTTF << trueType;
    QTest::addRow("usb soft font") << Link::Usb << LoaderMode::ModeSF << soft;
    QTest::addRow("tcp pcx") << Link::Tcp << LoaderMode::ModePCX << pcx;
    // In BMP mode a numbered button prints nothing, and the all-tests button
    // left shown by True Type mode prints the soft font lines.
    QTest::addRow("usb bmp") << Link::Usb << LoaderMode::ModeBMP << QStringList({soft[1]});
}

void WorkEndToEndTest::testTicketsPerMode() {
    QFETCH(Link, link);
    QFETCH(LoaderMode, mode);
    QFETCH(QStringList, tickets);
    startWindow(link);
    selectMode(mode);
    // Every button the mode shows.
    for (QPushButton* button : {test::control<QPushButton>(*window_, "CmdTestTTF3"),
                                test::control<QPushButton>(*window_, "CmdTestTTFAll"),
                                test::control<QPushButton>(*window_, "CmdTestResidentFonts")})
        if (!button->isHidden()) {
            button->click();
            window_->waitForWork();
        }

    QVERIFY(simulator_->printer().waitForJournal(static_cast<std::size_t>(tickets.size()),
                                                 std::chrono::seconds(5)));
    QTest::qWait(100);
    QStringList printed;
    for (const auto& entry : journal()) {
        QVERIFY2(entry.kind == printersim::EntryKind::Ticket && !entry.error,
                 printersim::describe(entry).c_str());
        printed << QString::fromStdString(entry.text);
    }
    QCOMPARE(printed, tickets);
    QVERIFY(harness_->prompts.prompts().empty());
}

VELQUIN_QTEST_MAIN(WorkEndToEndTest)
#include "work_e2e_test.moc"
