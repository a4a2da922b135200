// The main window without a printer: its controls and their first states,
// the four modes' captions, the diagnostics list and the mode file.
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include "app_test_support.h"
#include "install_layout.h"
#include "velquin/build_info.h"

using namespace velquin;
using velquin::test::WindowHarness;

namespace {

QString heading(const MainWindow& window, int column) {
    return test::control<QTableView>(window, "grdInfo")->model()->index(0, column).data().toString();
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void controlsAndFirstStates();
    void aSmallScreenScrollsToEveryControl();
    void tabLeavesTheGridAndEnterPressesTheFocusedButton();
    void captionsOfEachMode_data();
    void captionsOfEachMode();
    void allTestsButtonInBmpModeKeepsItsState();
    void diagnosticsListShowsHidesAndClears();
    void loadMode_data();
    void loadMode();
    void saveModeWritesTheDigitAndCrLf_data();
    void saveModeWritesTheDigitAndCrLf();
    void saveModeFailureIsReported();
    void modeFileLivesBesideTheProgramWhenWritable();
    void installedProgramUsesTheConfigFolderAndItsLibraryFolder();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<WindowHarness> harness_;
    MainWindow* window_ = nullptr;
};

void WindowTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    harness_ = std::make_unique<WindowHarness>(QStringLiteral(FAKE_MORLIX_PATH), dir_->path());
    window_ = harness_->window.get();
}

void WindowTest::cleanup() {
    harness_.reset();
    dir_.reset();
}

void WindowTest::controlsAndFirstStates() {
    QCOMPARE(window_->classicArea()->size(), QSize(965, 715));

    const QList<QPair<QAbstractButton*, QString>> buttons = {
        {test::control<QPushButton>(*window_, "cmdAddToList"), "Add To List"},
        {test::control<QPushButton>(*window_, "cmdDeleteLastItem"), "Delete Last Item"},
        {test::control<QPushButton>(*window_, "cmdDeleteAllItems"), "Delete All Items"},
        {test::control<QPushButton>(*window_, "cmdSaveToFile"), "Save List To File"},
        {test::control<QPushButton>(*window_, "cmdGetList"), "Get List From File"},
        {test::control<QPushButton>(*window_, "cmdClearFont"), "Clear Font Space"},
        {test::control<QPushButton>(*window_, "cmdSendListToPrinter"), "Send List To Printer"},
        {test::control<QPushButton>(*window_, "cmdFindPrinter"), "Find Printer"},
        {test::control<QPushButton>(*window_, "cmdFindNetworkPrinter"), "Find Network Printer"},
        {test::control<QPushButton>(*window_, "CmdTestResidentFonts"), "Test Resident TTFs"},
        {test::control<QRadioButton>(*window_, "OptionTTF"), "True Type"},
        {test::control<QRadioButton>(*window_, "OptionSF"), "Soft Font"},
        {test::control<QRadioButton>(*window_, "OptionPCX"), "PCX"},
        {test::control<QRadioButton>(*window_, "OptionBMP"), "BMP"},
        {test::control<QRadioButton>(*window_, "OptionEnableDiags"), "On"},
        {test::control<QRadioButton>(*window_, "OptionDisableDiags"), "Off"},
        {test::control<QPushButton>(*window_, "CmdGetFlash"), "GetFlash"},
        {test::control<QPushButton>(*window_, "CmdGetStatus"), "Get Busy Status"},
        {test::control<QPushButton>(*window_, "cmdClearDiags"), "Clear diags"},
        {test::control<QPushButton>(*window_, "cmdExit"), "Exit"},
    };
    for (const auto& [button, caption] : buttons) QCOMPARE(button->text(), caption);

    const QList<QPair<QGroupBox*, QString>> frames = {
        {test::control<QGroupBox>(*window_, "FrameFileOperations"), "File Operations"},
        {test::control<QGroupBox>(*window_, "FramePrinterOperations"), "Printer Operations"},
        {test::control<QGroupBox>(*window_, "FramePrinterInfo"), "Printer Info"},
        {test::control<QGroupBox>(*window_, "FrameTest"), "Test"},
        {test::control<QGroupBox>(*window_, "FrameMode"), "Mode"},
        {test::control<QGroupBox>(*window_, "FrameEnableDiags"), "Enable Diagnostics"},
        {test::control<QGroupBox>(*window_, "FrameProgress"), ""},
    };
    for (const auto& [frame, caption] : frames) QCOMPARE(frame->title(), caption);
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashSpaceRemainingCaption")->text(),
             QStringLiteral("Flash Space Remaining"));
    QCOMPARE(test::control<QLabel>(*window_, "lblFlashNeededCaption")->text(),
             QStringLiteral("Flash Needed"));

    // Frames hold their controls.
    const std::pair<const char*, const char*> framed[] = {
        {"cmdAddToList", "FrameAddToList"}, {"cmdDeleteAllItems", "FrameDeleteFromList"},
        {"lblVersion", "FramePrinterInfo"}, {"cmdFindNetworkPrinter", "FramePrinterInfo"},
        {"ProgressBar1", "FrameProgress"},  {"CmdTestResidentFonts", "FrameTest"},
        {"OptionBMP", "FrameMode"},
    };
    for (const auto& [control, frame] : framed)
        QCOMPARE(test::control<QWidget>(*window_, control)->parentWidget(),
                 test::control<QGroupBox>(*window_, frame));
    // Test buttons and mode options top to bottom.
    QVERIFY(test::control<QPushButton>(*window_, "cmdTestTTF1")->y() <
            test::control<QPushButton>(*window_, "CmdTestTTF5")->y());
    QVERIFY(test::control<QPushButton>(*window_, "CmdTestTTFAll")->y() <
            test::control<QPushButton>(*window_, "CmdTestResidentFonts")->y());
    QVERIFY(test::control<QRadioButton>(*window_, "OptionTTF")->y() <
                test::control<QRadioButton>(*window_, "OptionSF")->y() &&
            test::control<QRadioButton>(*window_, "OptionPCX")->y() <
                test::control<QRadioButton>(*window_, "OptionBMP")->y());

    QVERIFY(test::control<QPushButton>(*window_, "cmdClearDiags")->isHidden());
    QVERIFY(!test::control<QRadioButton>(*window_, "OptionEnableDiags")->isChecked() &&
            !test::control<QRadioButton>(*window_, "OptionDisableDiags")->isChecked());
    QVERIFY(!window_->modeSelected());
    QCOMPARE(test::control<QTableView>(*window_, "grdInfo")->model()->columnCount(), 4);
    // Every flag starts False.
    QCOMPARE(window_->state.printer.found(), false);
    QCOMPARE(window_->state.printer.localHandle(), 0);
}

void WindowTest::aSmallScreenScrollsToEveryControl() {
    // The test platform's screen is smaller than the window's content.
    const QSize room = window_->screen()->availableGeometry().size();
    const QSize content = window_->classicArea()->size();
    QVERIFY(room.width() < content.width());
    window_->show();
    QVERIFY(window_->width() <= room.width() && window_->height() <= room.height());
    auto* scroller = window_->findChild<QScrollArea*>();
    QVERIFY(scroller);
    for (QWidget* control : {static_cast<QWidget*>(test::control<QPushButton>(*window_, "cmdExit")),
                             static_cast<QWidget*>(test::control<QPushButton>(*window_, "cmdFindPrinter")),
                             static_cast<QWidget*>(test::control<QTableView>(*window_, "grdInfo"))}) {
        scroller->ensureWidgetVisible(control, 0, 0);
        const QRect shown(control->mapTo(scroller->viewport(), QPoint(0, 0)), control->size());
        QVERIFY2(scroller->viewport()->rect().intersects(shown), qPrintable(control->objectName()));
    }
}

void WindowTest::tabLeavesTheGridAndEnterPressesTheFocusedButton() {
    window_->show();
    QApplication::setActiveWindow(window_);
    QVERIFY(QTest::qWaitForWindowActive(window_));
    test::control<QTableView>(*window_, "grdInfo")->setFocus();
    QTest::keyClick(test::control<QTableView>(*window_, "grdInfo"), Qt::Key_Tab);
    QVERIFY(window_->focusWidget() != nullptr &&
            window_->focusWidget() != test::control<QTableView>(*window_, "grdInfo"));

    QSignalSpy clicked(test::control<QPushButton>(*window_, "cmdAddToList"), &QPushButton::clicked);
    test::control<QPushButton>(*window_, "cmdAddToList")->setFocus();
    QTest::keyClick(test::control<QPushButton>(*window_, "cmdAddToList"), Qt::Key_Return);
    QTRY_COMPARE(clicked.count(), 1);
}

void WindowTest::captionsOfEachMode_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("addFrame");
    QTest::addColumn<QString>("deleteFrame");
    QTest::addColumn<QString>("testPrefix");
    QTest::addColumn<bool>("allTestsShown");
    QTest::addColumn<QString>("allTests");
    QTest::addColumn<bool>("residentShown");
    QTest::addColumn<QString>("fileHeading");
    QTest::addColumn<QString>("column3Heading");
    QTest::newRow("True Type") << 0 << "(True Type Font Mode)"
                               << "Add TT Font to List"
                               << "Deleted TT Font from List"
                               << "Test TTF" << true << "Test TTF1-TTF5" << true << "True Type Font File"
                               << "Font ID";
    QTest::newRow("Soft Font") << 1 << "(Soft Font Mode)"
                               << "Add Soft Font to List"
                               << "Delete Soft Font from List"
                               << "Test SF" << true << "Test SF1-S5" << false << "Soft Font File"
                               << "";
    QTest::newRow("PCX") << 2 << "(PCX Mode)"
                         << "Add PCX image to List"
                         << "Delete PCX image from List"
                         << "Test PCX" << false << "Test TTF1-TTF5" << false << "PCX image File"
                         << "";
}

void WindowTest::captionsOfEachMode() {
    QFETCH(int, mode);
    QFETCH(QString, suffix);
    QFETCH(QString, addFrame);
    QFETCH(QString, deleteFrame);
    QFETCH(QString, testPrefix);
    QFETCH(bool, allTestsShown);
    QFETCH(QString, allTests);
    QFETCH(bool, residentShown);
    QFETCH(QString, fileHeading);
    QFETCH(QString, column3Heading);

    window_->selectMode(static_cast<LoaderMode>(mode));
    window_->SetCaptions();
    QCOMPARE(window_->windowTitle(),
             QStringLiteral("Quenrik Font\\Image Loader V2.16_1 03/29/2016 ") + suffix);
    QCOMPARE(test::control<QGroupBox>(*window_, "FrameAddToList")->title(), addFrame);
    QCOMPARE(test::control<QGroupBox>(*window_, "FrameDeleteFromList")->title(), deleteFrame);
    const QList<QPushButton*> tests = {test::control<QPushButton>(*window_, "cmdTestTTF1"),
                                       test::control<QPushButton>(*window_, "CmdTestTTF2"),
                                       test::control<QPushButton>(*window_, "CmdTestTTF3"),
                                       test::control<QPushButton>(*window_, "CmdTestTTF4"),
                                       test::control<QPushButton>(*window_, "CmdTestTTF5")};
    for (int i = 0; i < tests.size(); ++i) QCOMPARE(tests[i]->text(), testPrefix + QString::number(i + 1));
    QCOMPARE(!test::control<QPushButton>(*window_, "CmdTestTTFAll")->isHidden(), allTestsShown);
    QCOMPARE(test::control<QPushButton>(*window_, "CmdTestTTFAll")->isEnabled(), allTestsShown);
    QCOMPARE(test::control<QPushButton>(*window_, "CmdTestTTFAll")->text(), allTests);
    QCOMPARE(!test::control<QPushButton>(*window_, "CmdTestResidentFonts")->isHidden(), residentShown);
    QCOMPARE(test::control<QPushButton>(*window_, "CmdTestResidentFonts")->isEnabled(), residentShown);
    QCOMPARE(heading(*window_, 1), fileHeading);
    QCOMPARE(heading(*window_, 3), column3Heading);
}

void WindowTest::allTestsButtonInBmpModeKeepsItsState() {
    window_->selectMode(LoaderMode::ModeTTF);
    window_->SetCaptions();
    window_->selectMode(LoaderMode::ModeBMP);
    window_->SetCaptions();
    QVERIFY(!test::control<QPushButton>(*window_, "CmdTestTTFAll")->isHidden());
    QVERIFY(test::control<QPushButton>(*window_, "CmdTestTTFAll")->isEnabled());
    QCOMPARE(test::control<QPushButton>(*window_, "CmdTestTTFAll")->text(), QStringLiteral("Test BMP1-5"));
    QCOMPARE(test::control<QPushButton>(*window_, "CmdTestTTF3")->text(), QStringLiteral("Test BMP3"));
    QVERIFY(test::control<QPushButton>(*window_, "CmdTestResidentFonts")->isHidden());
    QVERIFY(window_->windowTitle().endsWith(QStringLiteral("(BMP Mode)")));
    QCOMPARE(heading(*window_, 1), QStringLiteral("BMP image File"));
    auto* send = test::control<QPushButton>(*window_, "cmdSendListToPrinter");
    QVERIFY(send->toolTip().contains(QStringLiteral("never sent")));

    window_->selectMode(LoaderMode::ModePCX);
    window_->SetCaptions();
    QVERIFY(send->toolTip().isEmpty());
    window_->selectMode(LoaderMode::ModeBMP);
    window_->SetCaptions();
    QVERIFY(test::control<QPushButton>(*window_, "CmdTestTTFAll")->isHidden());
    QVERIFY(!test::control<QPushButton>(*window_, "CmdTestTTFAll")->isEnabled());
    QCOMPARE(test::control<QPushButton>(*window_, "CmdTestTTFAll")->text(), QStringLiteral("Test BMP1-5"));
}

void WindowTest::diagnosticsListShowsHidesAndClears() {
    window_->show();
    test::control<QRadioButton>(*window_, "OptionDisableDiags")->click();
    QVERIFY(!test::control<QListWidget>(*window_, "lstStatus")->isVisible());
    QVERIFY(!test::control<QPushButton>(*window_, "cmdClearDiags")->isVisible());
    window_->addStatusLine(QStringLiteral("first"));
    window_->addStatusLine(QStringLiteral("second"));
    window_->SelectLastStatusLine();

    test::control<QRadioButton>(*window_, "OptionEnableDiags")->click();
    QVERIFY(test::control<QListWidget>(*window_, "lstStatus")->isVisible());
    QVERIFY(test::control<QPushButton>(*window_, "cmdClearDiags")->isVisible());
    QCOMPARE(test::control<QListWidget>(*window_, "lstStatus")->count(), 2);
    QCOMPARE(test::control<QListWidget>(*window_, "lstStatus")->currentRow(), 1);
    QCOMPARE(test::control<QListWidget>(*window_, "lstStatus")->item(1)->text(), QStringLiteral("second"));

    test::control<QPushButton>(*window_, "cmdClearDiags")->click();
    QCOMPARE(test::control<QListWidget>(*window_, "lstStatus")->count(), 0);
    QVERIFY(test::control<QListWidget>(*window_, "lstStatus")->isVisible());
    window_->hide();
}

void WindowTest::loadMode_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<int>("mode");  // -1: the mode stays as it was (Soft Font)
    QTest::newRow("0") << QByteArray("0\r\n") << true << 0;
    QTest::newRow("1") << QByteArray("1\r\n") << true << 1;
    QTest::newRow("2") << QByteArray("2\r\n") << true << 2;
    QTest::newRow("3 without line end") << QByteArray("3") << true << 3;
    QTest::newRow("leading blanks and a comma") << QByteArray("  2,1\r\n") << true << 2;
    QTest::newRow("7 is True Type") << QByteArray("7\r\n") << true << 0;
    QTest::newRow("-1 is True Type") << QByteArray("-1\r\n") << true << 0;
    QTest::newRow("a word") << QByteArray("PCX\r\n") << true << -1;
    QTest::newRow("digit then letters") << QByteArray("2x\r\n") << true << -1;
    QTest::newRow("beyond 16 bits") << QByteArray("70000\r\n") << true << -1;
    QTest::newRow("empty") << QByteArray() << true << -1;
    QTest::newRow("missing") << QByteArray() << false << -1;
}

void WindowTest::loadMode() {
    QFETCH(QByteArray, content);
    QFETCH(bool, fileExists);
    QFETCH(int, mode);
    const QString path = dir_->filePath(QStringLiteral("avrbl.txt"));
    if (fileExists) test::writeFile(path, content);
    window_->selectMode(LoaderMode::ModeSF);
    window_->LoadMode(path);
    QCOMPARE(static_cast<int>(window_->selectedMode()), mode < 0 ? 1 : mode);
    QVERIFY(harness_->prompts.prompts().empty());
}

void WindowTest::saveModeWritesTheDigitAndCrLf_data() {
    QTest::addColumn<int>("mode");
    for (int mode = 0; mode < 4; ++mode) QTest::addRow("mode %d", mode) << mode;
}

void WindowTest::saveModeWritesTheDigitAndCrLf() {
    QFETCH(int, mode);
    const QString path =
        test::writeFile(dir_->filePath(QStringLiteral("avrbl.txt")), "an older and longer content");
    window_->selectMode(static_cast<LoaderMode>(mode));
    window_->SaveMode(path);
    QCOMPARE(test::readFile(path), QByteArray::number(mode) + "\r\n");
}

void WindowTest::saveModeFailureIsReported() {
    // A folder stands where the file should go.
    const QString path = dir_->filePath(QStringLiteral("taken"));
    QDir(dir_->path()).mkpath(QStringLiteral("taken"));
    window_->selectMode(LoaderMode::ModePCX);
    window_->SaveMode(path);
    QCOMPARE(harness_->prompts.messages(),
             QStringList{QStringLiteral("An error occured while saving file ") + path});
    QCOMPARE(harness_->prompts.prompts().front().icon, MessageIcon::Exclamation);
}

void WindowTest::modeFileLivesBesideTheProgramWhenWritable() {
    QCOMPARE(StartupPaths::modeFileLocation(dir_->path(), QStringLiteral("/config")),
             dir_->filePath(QStringLiteral("avrbl.txt")));
    QCOMPARE(
        StartupPaths::modeFileLocation(dir_->filePath(QStringLiteral("gone")), QStringLiteral("/config")),
        QStringLiteral("/config/velquin/avrbl.txt"));
    QCOMPARE(StartupPaths::modeFileLocation(dir_->filePath(QStringLiteral("gone")), QString()),
             QDir::home().filePath(QStringLiteral(".config/velquin/avrbl.txt")));
}

// An installed program (libmorlix.so in the private library folder, none
// beside it) keeps its mode file in the config folder though its own folder
// is writable; a library beside the program makes it a copy of its own again.
void WindowTest::installedProgramUsesTheConfigFolderAndItsLibraryFolder() {
    const QString bin = dir_->filePath(QStringLiteral("usr/bin"));
    const QString libraryFolder = QDir::cleanPath(bin + QStringLiteral("/" VELQUIN_LIBRARY_FROM_PROGRAM));
    QVERIFY(QDir().mkpath(bin) && QDir().mkpath(libraryFolder));
    const auto touch = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    };
    QVERIFY(touch(libraryFolder + QStringLiteral("/libmorlix.so")));
    QVERIFY(InstallLayout::isInstalled(bin));
    QCOMPARE(InstallLayout::libraryPath(bin), libraryFolder + QStringLiteral("/libmorlix.so"));
    QCOMPARE(StartupPaths::modeFileLocation(bin, QStringLiteral("/config")),
             QStringLiteral("/config/velquin/avrbl.txt"));

    QVERIFY(touch(bin + QStringLiteral("/libmorlix.so")));
    QVERIFY(!InstallLayout::isInstalled(bin));
    QCOMPARE(InstallLayout::libraryPath(bin), bin + QStringLiteral("/libmorlix.so"));
    QCOMPARE(StartupPaths::modeFileLocation(bin, QStringLiteral("/config")),
             bin + QStringLiteral("/avrbl.txt"));
}

VELQUIN_QTEST_MAIN(WindowTest)
#include "window_test.moc"
