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
    return window.grdInfo->model()->index(0, column).data().toString();
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
    QCOMPARE(window_->specifiedArea()->size(), QSize(965, 715));

    const QList<QPair<QAbstractButton*, QString>> buttons = {
        {window_->cmdAddToList, "Add To List"},
        {window_->cmdDeleteLastItem, "Delete Last Item"},
        {window_->cmdDeleteAllItems, "Delete All Items"},
        {window_->cmdSaveToFile, "Save List To File"},
        {window_->cmdGetList, "Get List From File"},
        {window_->cmdClearFont, "Clear Font Space"},
        {window_->cmdSendListToPrinter, "Send List To Printer"},
        {window_->cmdFindPrinter, "Find Printer"},
        {window_->cmdFindNetworkPrinter, "Find Network Printer"},
        {window_->CmdTestResidentFonts, "Test Resident TTFs"},
        {window_->OptionTTF, "True Type"},
        {window_->OptionSF, "Soft Font"},
        {window_->OptionPCX, "PCX"},
        {window_->OptionBMP, "BMP"},
        {window_->OptionEnableDiags, "On"},
        {window_->OptionDisableDiags, "Off"},
        {window_->CmdGetFlash, "GetFlash"},
        {window_->CmdGetStatus, "Get Busy Status"},
        {window_->cmdClearDiags, "Clear diags"},
        {window_->cmdExit, "Exit"},
    };
    for (const auto& [button, caption] : buttons) QCOMPARE(button->text(), caption);

    const QList<QPair<QGroupBox*, QString>> frames = {
        {window_->FrameFileOperations, "File Operations"},
        {window_->FramePrinterOperations, "Printer Operations"},
        {window_->FramePrinterInfo, "Printer Info"},
        {window_->FrameTest, "Test"},
        {window_->FrameMode, "Mode"},
        {window_->FrameEnableDiags, "Enable Diagnostics"},
        {window_->FrameProgress, ""},
    };
    for (const auto& [frame, caption] : frames) QCOMPARE(frame->title(), caption);
    QCOMPARE(window_->lblFlashSpaceRemainingCaption->text(), QStringLiteral("Flash Space Remaining"));
    QCOMPARE(window_->lblFlashNeededCaption->text(), QStringLiteral("Flash Needed"));

    // Frames hold their controls.
    QCOMPARE(window_->cmdAddToList->parentWidget(), window_->FrameAddToList);
    QCOMPARE(window_->cmdDeleteAllItems->parentWidget(), window_->FrameDeleteFromList);
    QCOMPARE(window_->lblVersion->parentWidget(), window_->FramePrinterInfo);
    QCOMPARE(window_->cmdFindNetworkPrinter->parentWidget(), window_->FramePrinterInfo);
    QCOMPARE(window_->ProgressBar1->parentWidget(), window_->FrameProgress);
    QCOMPARE(window_->CmdTestResidentFonts->parentWidget(), window_->FrameTest);
    QCOMPARE(window_->OptionBMP->parentWidget(), window_->FrameMode);
    // Test buttons and mode options top to bottom.
    QVERIFY(window_->cmdTestTTF1->y() < window_->CmdTestTTF5->y());
    QVERIFY(window_->CmdTestTTFAll->y() < window_->CmdTestResidentFonts->y());
    QVERIFY(window_->OptionTTF->y() < window_->OptionSF->y() &&
            window_->OptionPCX->y() < window_->OptionBMP->y());

    QVERIFY(window_->cmdClearDiags->isHidden());
    QVERIFY(!window_->OptionEnableDiags->isChecked() && !window_->OptionDisableDiags->isChecked());
    QVERIFY(!window_->modeSelected());
    QCOMPARE(window_->grdInfo->model()->columnCount(), 4);
    // Every flag starts False, the buffers empty.
    QCOMPARE(window_->state.PrinterFound, FLAG_FALSE);
    QCOMPARE(window_->state.PrinterHandle, 0);
    QCOMPARE(window_->state.SendBuffer.size(), std::size_t{65'539});
    QCOMPARE(window_->state.ReceiveBuffer.size(), std::size_t{65'539});
}

void WindowTest::aSmallScreenScrollsToEveryControl() {
    // The test platform's screen is smaller than the window's content.
    const QSize room = window_->screen()->availableGeometry().size();
    const QSize content = window_->specifiedArea()->size();
    QVERIFY(room.width() < content.width());
    window_->show();
    QVERIFY(window_->width() <= room.width() && window_->height() <= room.height());
    auto* scroller = window_->findChild<QScrollArea*>();
    QVERIFY(scroller);
    for (QWidget* control :
         {static_cast<QWidget*>(window_->cmdExit), static_cast<QWidget*>(window_->cmdFindPrinter),
          static_cast<QWidget*>(window_->grdInfo)}) {
        scroller->ensureWidgetVisible(control, 0, 0);
        const QRect shown(control->mapTo(scroller->viewport(), QPoint(0, 0)), control->size());
        QVERIFY2(scroller->viewport()->rect().intersects(shown), qPrintable(control->objectName()));
    }
}

void WindowTest::tabLeavesTheGridAndEnterPressesTheFocusedButton() {
    window_->show();
    QApplication::setActiveWindow(window_);
    QVERIFY(QTest::qWaitForWindowActive(window_));
    window_->grdInfo->setFocus();
    QTest::keyClick(window_->grdInfo, Qt::Key_Tab);
    QVERIFY(window_->focusWidget() != nullptr && window_->focusWidget() != window_->grdInfo);

    QSignalSpy clicked(window_->cmdAddToList, &QPushButton::clicked);
    window_->cmdAddToList->setFocus();
    QTest::keyClick(window_->cmdAddToList, Qt::Key_Return);
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
    QCOMPARE(window_->FrameAddToList->title(), addFrame);
    QCOMPARE(window_->FrameDeleteFromList->title(), deleteFrame);
    const QList<QPushButton*> tests = {window_->cmdTestTTF1, window_->CmdTestTTF2, window_->CmdTestTTF3,
                                       window_->CmdTestTTF4, window_->CmdTestTTF5};
    for (int i = 0; i < tests.size(); ++i) QCOMPARE(tests[i]->text(), testPrefix + QString::number(i + 1));
    QCOMPARE(!window_->CmdTestTTFAll->isHidden(), allTestsShown);
    QCOMPARE(window_->CmdTestTTFAll->isEnabled(), allTestsShown);
    QCOMPARE(window_->CmdTestTTFAll->text(), allTests);
    QCOMPARE(!window_->CmdTestResidentFonts->isHidden(), residentShown);
    QCOMPARE(window_->CmdTestResidentFonts->isEnabled(), residentShown);
    QCOMPARE(heading(*window_, 1), fileHeading);
    QCOMPARE(heading(*window_, 3), column3Heading);
}

void WindowTest::allTestsButtonInBmpModeKeepsItsState() {
    window_->selectMode(LoaderMode::ModeTTF);
    window_->SetCaptions();
    window_->selectMode(LoaderMode::ModeBMP);
    window_->SetCaptions();
    QVERIFY(!window_->CmdTestTTFAll->isHidden());
    QVERIFY(window_->CmdTestTTFAll->isEnabled());
    QCOMPARE(window_->CmdTestTTFAll->text(), QStringLiteral("Test BMP1-5"));
    QCOMPARE(window_->CmdTestTTF3->text(), QStringLiteral("Test BMP3"));
    QVERIFY(window_->CmdTestResidentFonts->isHidden());
    QVERIFY(window_->windowTitle().endsWith(QStringLiteral("(BMP Mode)")));
    QCOMPARE(heading(*window_, 1), QStringLiteral("BMP image File"));

    window_->selectMode(LoaderMode::ModePCX);
    window_->SetCaptions();
    window_->selectMode(LoaderMode::ModeBMP);
    window_->SetCaptions();
    QVERIFY(window_->CmdTestTTFAll->isHidden());
    QVERIFY(!window_->CmdTestTTFAll->isEnabled());
    QCOMPARE(window_->CmdTestTTFAll->text(), QStringLiteral("Test BMP1-5"));
}

void WindowTest::diagnosticsListShowsHidesAndClears() {
    window_->show();
    window_->OptionDisableDiags->click();
    QVERIFY(!window_->lstStatus->isVisible());
    QVERIFY(!window_->cmdClearDiags->isVisible());
    window_->addStatusLine(QStringLiteral("first"));
    window_->addStatusLine(QStringLiteral("second"));
    window_->SelectLastStatusLine();

    window_->OptionEnableDiags->click();
    QVERIFY(window_->lstStatus->isVisible());
    QVERIFY(window_->cmdClearDiags->isVisible());
    QCOMPARE(window_->lstStatus->count(), 2);
    QCOMPARE(window_->lstStatus->currentRow(), 1);
    QCOMPARE(window_->lstStatus->item(1)->text(), QStringLiteral("second"));

    window_->cmdClearDiags->click();
    QCOMPARE(window_->lstStatus->count(), 0);
    QVERIFY(window_->lstStatus->isVisible());
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
