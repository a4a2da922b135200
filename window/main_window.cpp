#include "main_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>
#include <array>
#include <charconv>

#include "caption_fit.h"
#include "file_list.h"
#include "install_layout.h"
#include "list_grid.h"
#include "morlix_library.h"
#include "network_address_dialog.h"
#include "operator_prompts.h"
#include "preview_panel.h"
#include "printer_discovery.h"
#include "printer_facts.h"
#include "printer_holds.h"
#include "printer_panel_view.h"
#include "program_settings.h"

namespace velquin {

namespace {

constexpr char MODE_FILE_NAME[] = "avrbl.txt";
constexpr char DEMO_MARKER_NAME[] = "DemoMode.txt";
constexpr char PRODUCT_TITLE[] = "Zara Rida Davezo";

// Grid column widths in twips (column 3 keeps the grid's default).
constexpr int ORDER_COLUMN_TWIPS = 600;
constexpr int FILE_COLUMN_TWIPS = 10'550;
constexpr int SIZE_COLUMN_TWIPS = 1'600;
constexpr int DEFAULT_COLUMN_TWIPS = 960;  // a grid column nobody sized
constexpr int GRID_ROW_HEIGHT = 20;

// The all-tests button's captions in True Type, soft font and BMP mode.
constexpr char ALL_TESTS_TTF[] = "Test TTF1-TTF5";
constexpr char ALL_TESTS_SF[] = "Test SF1-S5";
constexpr char ALL_TESTS_BMP[] = "Test BMP1-5";

struct ModeCaptions {
    const char* titleSuffix;
    const char* addFrame;
    const char* deleteFrame;
    const char* testPrefix;  // "Test TTF" and so on; the button number follows
    const char* fileHeading;
    const char* column3Heading;
};

constexpr std::array<ModeCaptions, 4> MODE_CAPTIONS = {{
    {"(True Type Font Mode)", "Add TT Font to List", "Deleted TT Font from List", "Test TTF",
     "True Type Font File", "Font ID"},
    {"(Soft Font Mode)", "Add Soft Font to List", "Delete Soft Font from List", "Test SF", "Soft Font File",
     ""},
    {"(PCX Mode)", "Add PCX image to List", "Delete PCX image from List", "Test PCX", "PCX image File", ""},
    {"(BMP Mode)", "Add BMP image to List", "Delete BMP image from List", "Test BMP", "BMP image File", ""},
}};

// A captioned control owned by `parent` at a fixed place (the window does
// not lay out: every control keeps its position and size).
template <typename Control>
Control* place(const QString& caption, QWidget* parent, int x, int y, int width, int height) {
    auto* control = new Control(caption, parent);
    control->setGeometry(x, y, width, height);
    return control;
}

QPushButton* makeButton(const QString& caption, QWidget* parent, int x, int y, int width, int height) {
    return place<QPushButton>(caption, parent, x, y, width, height);
}

QGroupBox* makeFrame(const QString& caption, QWidget* parent, int x, int y, int width, int height) {
    return place<QGroupBox>(caption, parent, x, y, width, height);
}

QLabel* makeLabel(const QString& caption, QWidget* parent, int x, int y, int width, int height) {
    return place<QLabel>(caption, parent, x, y, width, height);
}

QRadioButton* makeOption(const QString& caption, QWidget* parent, int x, int y, int width, int height) {
    return place<QRadioButton>(caption, parent, x, y, width, height);
}

// A value label of the printer panel: dark, so green and red text read well.
QLabel* makeValueLabel(QWidget* parent, int x, int y, int width) {
    QLabel* label = makeLabel(QString(), parent, x, y, width, 17);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setIndent(4);
    return label;
}

// Reads the first item of a line as a 16-bit signed integer: leading blanks
// skipped, ended by a comma, blank or the line end.
std::optional<std::int16_t> firstInteger(const QByteArray& content) {
    qsizetype start = 0;
    while (start < content.size() && (content[start] == ' ' || content[start] == '\t')) ++start;
    qsizetype end = start;
    while (end < content.size() && content[end] != ',' && content[end] != ' ' && content[end] != '\t' &&
           content[end] != '\r' && content[end] != '\n')
        ++end;
    const char* first = content.constData() + start;
    const char* last = content.constData() + end;
    if (first != last && *first == '+') ++first;
    std::int16_t value = 0;
    const auto [stop, error] = std::from_chars(first, last, value);
    if (first == last || error != std::errc() || stop != last) return std::nullopt;
    return value;
}

}  // namespace

QString StartupPaths::defaultModeFile() {
    return modeFileLocation(QCoreApplication::applicationDirPath(), qEnvironmentVariable("XDG_CONFIG_HOME"));
}

QString StartupPaths::modeFileLocation(const QString& programFolder, const QString& configHome) {
    const QFileInfo folder(programFolder);
    if (folder.isDir() && folder.isWritable() && !InstallLayout::isInstalled(programFolder))
        return QDir(programFolder).filePath(QLatin1String(MODE_FILE_NAME));
    const QString configFolder =
        configHome.isEmpty() ? QDir::home().filePath(QStringLiteral(".config")) : configHome;
    return QDir(configFolder).filePath(QStringLiteral("velquin/") + QLatin1String(MODE_FILE_NAME));
}

QString StartupPaths::defaultDemoMarker() {
    return QDir::current().filePath(QLatin1String(DEMO_MARKER_NAME));
}

MainWindow::MainWindow(MorlixLibrary& library, OperatorPrompts& prompts, StartupPaths paths, QWidget* parent)
    : QWidget(parent),
      lstStatus(new QListWidget(this)),
      library(library),
      CD(prompts),
      statusLog(*lstStatus),
      hop(*this),
      crossThreadLog(statusLog, hop),
      crossThreadPrompts(prompts, hop),
      io(state, library, crossThreadPrompts, crossThreadLog),
      paths_(std::move(paths)),
      fileList_(std::make_unique<FileList>()),
      settings_(std::make_unique<ProgramSettings>()) {
    setObjectName(QStringLiteral("cmdResearch"));
    // The library reports from whichever thread calls it.
    library.setPrompts(&crossThreadPrompts);
    createControls();
    connectControls();
    panelView_ = std::make_unique<PrinterPanelView>(*this);
    discoveryView_ = std::make_unique<HoppingDiscoveryView>(*panelView_, hop, crossThreadLog);
    discovery_ = std::make_unique<PrinterDiscovery>(state, library, crossThreadPrompts, io, *discoveryView_);
    // Below the two classic buttons of its frame.
    holds_ = std::make_unique<PrinterHolds>(*FramePrinterOperations, CD);
    holds_->button()->setGeometry(10, 112, 130, 34);
    connect(holds_->button(), &QPushButton::clicked, this,
            [this] { readHoldsNow([this] { printerHolds().showHolds(); }); });
    createWorkParts();
    createListEditing();
    createSidePanel();
    enableKeyboardAccess();
    nameControls();
    fitCaptionsToFont();
    fitToScreen();
}

MainWindow::~MainWindow() {
    library.setPrompts(&CD);
}

void ListStatusLog::clearStatus() {
    list_.clear();
}

void ListStatusLog::addStatusLine(const QString& line) {
    list_.addItem(line);
}

void ListStatusLog::selectLastStatusLine() {
    const int last = list_.count() - 1;
    if (last < 0) return;
    list_.setCurrentRow(last);
    list_.scrollToItem(list_.item(last));
}

void MainWindow::createControls() {
    setWindowTitle(WINDOW_TITLE_PREFIX);
    area_ = new QWidget;
    area_->setObjectName(QStringLiteral("ClassicArea"));
    area_->setFixedSize(twipsToPixels(MAIN_CLIENT_WIDTH_TWIPS), twipsToPixels(MAIN_CLIENT_HEIGHT_TWIPS));
    lstStatus->setParent(area_);

    grdInfo = new QTableView(area_);
    listPresentation_ = new ListPresentation(grdInfo);
    listPresentation_->setSourceModel(fileList_.get());
    grdInfo->setModel(listPresentation_);
    grdInfo->setGeometry(8, 8, 949, 228);
    grdInfo->horizontalHeader()->hide();
    grdInfo->verticalHeader()->hide();
    grdInfo->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdInfo->setSelectionMode(QAbstractItemView::SingleSelection);
    grdInfo->setTextElideMode(Qt::ElideNone);
    // A long path keeps its start and its file name; the tooltip has it whole.
    grdInfo->setItemDelegateForColumn(PATH_COLUMN, new PathColumnDelegate(grdInfo));
    grdInfo->setWordWrap(false);
    grdInfo->horizontalHeader()->setDefaultSectionSize(twipsToPixels(DEFAULT_COLUMN_TWIPS));
    grdInfo->verticalHeader()->setDefaultSectionSize(GRID_ROW_HEIGHT);

    // The add, delete, file, printer-operation and printer-information
    // frames side by side below the grid.
    constexpr int frameTop = 244;
    constexpr int frameHeight = 222;
    FrameAddToList = makeFrame(QString(), area_, 8, frameTop, 150, frameHeight);
    cmdAddToList = makeButton(QStringLiteral("Add To List"), FrameAddToList, 10, 28, 130, 34);

    FrameDeleteFromList = makeFrame(QString(), area_, 164, frameTop, 176, frameHeight);
    cmdDeleteLastItem = makeButton(QStringLiteral("Delete Last Item"), FrameDeleteFromList, 10, 28, 156, 34);
    cmdDeleteAllItems = makeButton(QStringLiteral("Delete All Items"), FrameDeleteFromList, 10, 70, 156, 34);

    FrameFileOperations =
        makeFrame(QStringLiteral("File Operations"), area_, 346, frameTop, 150, frameHeight);
    cmdSaveToFile = makeButton(QStringLiteral("Save List To File"), FrameFileOperations, 10, 28, 130, 34);
    cmdGetList = makeButton(QStringLiteral("Get List From File"), FrameFileOperations, 10, 70, 130, 34);

    FramePrinterOperations =
        makeFrame(QStringLiteral("Printer Operations"), area_, 502, frameTop, 150, frameHeight);
    cmdClearFont = makeButton(QStringLiteral("Clear Font Space"), FramePrinterOperations, 10, 28, 130, 34);
    cmdSendListToPrinter =
        makeButton(QStringLiteral("Send List To Printer"), FramePrinterOperations, 10, 70, 130, 34);

    FramePrinterInfo = makeFrame(QStringLiteral("Printer Info"), area_, 658, frameTop, 299, frameHeight);
    lblPrinterFound = makeValueLabel(FramePrinterInfo, 8, 22, 283);
    lblPortType = makeValueLabel(FramePrinterInfo, 8, 41, 283);
    lblHardware = makeValueLabel(FramePrinterInfo, 8, 60, 283);
    lblPrinterType = makeValueLabel(FramePrinterInfo, 8, 79, 283);
    lblPrinterModel = makeValueLabel(FramePrinterInfo, 8, 98, 283);
    lblVersion = makeValueLabel(FramePrinterInfo, 8, 117, 283);
    lblFlashSpaceRemainingCaption =
        makeLabel(QStringLiteral("Flash Space Remaining"), FramePrinterInfo, 8, 140, 150, 17);
    lblFlashSpaceRemaining = makeValueLabel(FramePrinterInfo, 160, 140, 131);
    lblFlashNeededCaption = makeLabel(QStringLiteral("Flash Needed"), FramePrinterInfo, 8, 160, 150, 17);
    lblFlashNeeded = makeValueLabel(FramePrinterInfo, 160, 160, 131);
    cmdFindPrinter = makeButton(QStringLiteral("Find Printer"), FramePrinterInfo, 8, 184, 137, 30);
    cmdFindNetworkPrinter =
        makeButton(QStringLiteral("Find Network Printer"), FramePrinterInfo, 152, 184, 139, 30);

    // Progress and diagnostics in the lower left, tests in the lower middle,
    // mode, queries, diagnostics options and "Exit" along the bottom right.
    FrameProgress = makeFrame(QString(), area_, 8, 474, 470, 62);
    LblProgress = makeLabel(QString(), FrameProgress, 10, 8, 450, 18);
    ProgressBar1 = new QProgressBar(FrameProgress);
    ProgressBar1->setGeometry(10, 30, 450, 22);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    lstStatus->setGeometry(8, 542, 470, 165);

    FrameTest = makeFrame(QStringLiteral("Test"), area_, 486, 474, 196, 233);
    cmdTestTTF1 = makeButton(QStringLiteral("Test TTF1"), FrameTest, 10, 22, 176, 26);
    CmdTestTTF2 = makeButton(QStringLiteral("Test TTF2"), FrameTest, 10, 51, 176, 26);
    CmdTestTTF3 = makeButton(QStringLiteral("Test TTF3"), FrameTest, 10, 80, 176, 26);
    CmdTestTTF4 = makeButton(QStringLiteral("Test TTF4"), FrameTest, 10, 109, 176, 26);
    CmdTestTTF5 = makeButton(QStringLiteral("Test TTF5"), FrameTest, 10, 138, 176, 26);
    CmdTestTTFAll = makeButton(QLatin1String(ALL_TESTS_TTF), FrameTest, 10, 167, 176, 26);
    CmdTestResidentFonts = makeButton(QStringLiteral("Test Resident TTFs"), FrameTest, 10, 196, 176, 26);

    FrameMode = makeFrame(QStringLiteral("Mode"), area_, 690, 474, 132, 122);
    OptionTTF = makeOption(QStringLiteral("True Type"), FrameMode, 10, 22, 116, 22);
    OptionSF = makeOption(QStringLiteral("Soft Font"), FrameMode, 10, 46, 116, 22);
    OptionPCX = makeOption(QStringLiteral("PCX"), FrameMode, 10, 70, 116, 22);
    OptionBMP = makeOption(QStringLiteral("BMP"), FrameMode, 10, 94, 116, 22);
    modeGroup_ = new QButtonGroup(this);
    modeGroup_->addButton(OptionTTF, static_cast<int>(LoaderMode::ModeTTF));
    modeGroup_->addButton(OptionSF, static_cast<int>(LoaderMode::ModeSF));
    modeGroup_->addButton(OptionPCX, static_cast<int>(LoaderMode::ModePCX));
    modeGroup_->addButton(OptionBMP, static_cast<int>(LoaderMode::ModeBMP));

    CmdGetFlash = makeButton(QStringLiteral("GetFlash"), area_, 690, 604, 132, 30);
    CmdGetStatus = makeButton(QStringLiteral("Get Busy Status"), area_, 690, 640, 132, 30);

    FrameEnableDiags = makeFrame(QStringLiteral("Enable Diagnostics"), area_, 830, 474, 127, 72);
    OptionEnableDiags = makeOption(QStringLiteral("On"), FrameEnableDiags, 10, 22, 100, 22);
    OptionDisableDiags = makeOption(QStringLiteral("Off"), FrameEnableDiags, 10, 44, 100, 22);
    cmdClearDiags = makeButton(QStringLiteral("Clear diags"), area_, 830, 554, 127, 30);
    cmdClearDiags->hide();
    cmdExit = makeButton(QStringLiteral("Exit"), area_, 830, 672, 127, 35);

    sidePanel_ = new QWidget;
    sidePanel_->setObjectName(QStringLiteral("SidePanel"));
    auto* content = new QWidget;
    auto* contentLayout = new QHBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    contentLayout->addWidget(area_, 0, Qt::AlignTop);
    contentLayout->addWidget(sidePanel_);
    contentLayout->setSizeConstraint(QLayout::SetFixedSize);
    scroller_ = new QScrollArea(this);
    scroller_->setFrameShape(QFrame::NoFrame);
    scroller_->setWidget(content);
    auto* windowLayout = new QVBoxLayout(this);
    windowLayout->setContentsMargins(0, 0, 0, 0);
    windowLayout->addWidget(scroller_);
}

void MainWindow::nameControls() {
    const std::initializer_list<std::pair<QObject*, const char*>> controls = {
        {grdInfo, "grdInfo"},
        {FrameAddToList, "FrameAddToList"},
        {cmdAddToList, "cmdAddToList"},
        {FrameDeleteFromList, "FrameDeleteFromList"},
        {cmdDeleteLastItem, "cmdDeleteLastItem"},
        {cmdDeleteAllItems, "cmdDeleteAllItems"},
        {cmdDeleteSelectedItem, "cmdDeleteSelectedItem"},
        {cmdMoveItemUp, "cmdMoveItemUp"},
        {cmdMoveItemDown, "cmdMoveItemDown"},
        {lblFileTransfer, "lblFileTransfer"},
        {lblRunProgress, "lblRunProgress"},
        {chkShowPreview, "chkShowPreview"},
        {previewPanel, "previewPanel"},
        {FrameFileOperations, "FrameFileOperations"},
        {cmdSaveToFile, "cmdSaveToFile"},
        {cmdGetList, "cmdGetList"},
        {FramePrinterOperations, "FramePrinterOperations"},
        {cmdClearFont, "cmdClearFont"},
        {cmdSendListToPrinter, "cmdSendListToPrinter"},
        {FramePrinterInfo, "FramePrinterInfo"},
        {lblPrinterFound, "lblPrinterFound"},
        {lblPortType, "lblPortType"},
        {lblHardware, "lblHardware"},
        {lblPrinterType, "lblPrinterType"},
        {lblPrinterModel, "lblPrinterModel"},
        {lblVersion, "lblVersion"},
        {lblFlashSpaceRemainingCaption, "lblFlashSpaceRemainingCaption"},
        {lblFlashSpaceRemaining, "lblFlashSpaceRemaining"},
        {lblFlashNeededCaption, "lblFlashNeededCaption"},
        {lblFlashNeeded, "lblFlashNeeded"},
        {cmdFindPrinter, "cmdFindPrinter"},
        {cmdFindNetworkPrinter, "cmdFindNetworkPrinter"},
        {FrameProgress, "FrameProgress"},
        {LblProgress, "LblProgress"},
        {ProgressBar1, "ProgressBar1"},
        {lstStatus, "lstStatus"},
        {FrameTest, "FrameTest"},
        {cmdTestTTF1, "cmdTestTTF1"},
        {CmdTestTTF2, "CmdTestTTF2"},
        {CmdTestTTF3, "CmdTestTTF3"},
        {CmdTestTTF4, "CmdTestTTF4"},
        {CmdTestTTF5, "CmdTestTTF5"},
        {CmdTestTTFAll, "CmdTestTTFAll"},
        {CmdTestResidentFonts, "CmdTestResidentFonts"},
        {FrameMode, "FrameMode"},
        {OptionTTF, "OptionTTF"},
        {OptionSF, "OptionSF"},
        {OptionPCX, "OptionPCX"},
        {OptionBMP, "OptionBMP"},
        {FrameEnableDiags, "FrameEnableDiags"},
        {OptionEnableDiags, "OptionEnableDiags"},
        {OptionDisableDiags, "OptionDisableDiags"},
        {CmdGetFlash, "CmdGetFlash"},
        {CmdGetStatus, "CmdGetStatus"},
        {cmdClearDiags, "cmdClearDiags"},
        {cmdExit, "cmdExit"}};
    for (const auto& [control, name] : controls) control->setObjectName(QLatin1String(name));
}

void MainWindow::connectControls() {
    connect(cmdFindPrinter, &QPushButton::clicked, this, &MainWindow::findPrinter);
    connect(cmdFindNetworkPrinter, &QPushButton::clicked, this, &MainWindow::findNetworkPrinter);
    connect(OptionEnableDiags, &QRadioButton::clicked, this, &MainWindow::showDiagnostics);
    connect(OptionDisableDiags, &QRadioButton::clicked, this, &MainWindow::hideDiagnostics);
    connect(cmdClearDiags, &QPushButton::clicked, this, &MainWindow::clearDiagnostics);
    connect(cmdExit, &QPushButton::clicked, this, &MainWindow::exitProgram);

    connect(cmdAddToList, &QPushButton::clicked, this, &MainWindow::addToList);
    connect(cmdDeleteLastItem, &QPushButton::clicked, this, &MainWindow::deleteLastItem);
    connect(cmdDeleteAllItems, &QPushButton::clicked, this, &MainWindow::deleteAllItems);
    connect(cmdSaveToFile, &QPushButton::clicked, this, &MainWindow::saveListToFile);
    connect(cmdGetList, &QPushButton::clicked, this, &MainWindow::getListFromFile);
    connect(cmdClearFont, &QPushButton::clicked, this, &MainWindow::clearFontSpace);
    connect(cmdSendListToPrinter, &QPushButton::clicked, this, &MainWindow::sendList);
    connect(CmdGetFlash, &QPushButton::clicked, this, &MainWindow::getFlash);
    connect(CmdGetStatus, &QPushButton::clicked, this, &MainWindow::getBusyStatus);
    connect(cmdTestTTF1, &QPushButton::clicked, this, &MainWindow::printTest1);
    connect(CmdTestTTF2, &QPushButton::clicked, this, &MainWindow::printTest2);
    connect(CmdTestTTF3, &QPushButton::clicked, this, &MainWindow::printTest3);
    connect(CmdTestTTF4, &QPushButton::clicked, this, &MainWindow::printTest4);
    connect(CmdTestTTF5, &QPushButton::clicked, this, &MainWindow::printTest5);
    connect(CmdTestTTFAll, &QPushButton::clicked, this, &MainWindow::printTestsOneToFive);
    connect(CmdTestResidentFonts, &QPushButton::clicked, this, &MainWindow::printResidentFontsTest);
    // Like the option buttons' click event, this fires also when the
    // program selects a mode itself; the handler looks at FormLoading.
    connect(modeGroup_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) switchMode(static_cast<LoaderMode>(id));
    });
    connect(grdInfo, &QTableView::clicked, this,
            [this](const QModelIndex& index) { enterFontId(index.row(), index.column()); });
}

LoaderMode MainWindow::selectedMode() const {
    const int id = modeGroup_->checkedId();
    return id < 0 ? LoaderMode::ModeTTF : static_cast<LoaderMode>(id);
}

bool MainWindow::modeSelected() const {
    return modeGroup_->checkedId() >= 0;
}

void MainWindow::selectMode(LoaderMode mode) {
    modeGroup_->button(static_cast<int>(mode))->setChecked(true);
}

void MainWindow::SetCaptions() {
    const LoaderMode mode = selectedMode();
    const ModeCaptions& captions = MODE_CAPTIONS[static_cast<std::size_t>(mode)];
    setWindowTitle(WINDOW_TITLE_PREFIX + QLatin1String(captions.titleSuffix) +
                   (state.DemoMode ? DEMO_TITLE_SUFFIX : QString()));
    FrameAddToList->setTitle(QLatin1String(captions.addFrame));
    FrameDeleteFromList->setTitle(QLatin1String(captions.deleteFrame));
    const std::array<QPushButton*, 5> testButtons = {cmdTestTTF1, CmdTestTTF2, CmdTestTTF3, CmdTestTTF4,
                                                     CmdTestTTF5};
    for (std::size_t i = 0; i < testButtons.size(); ++i)
        testButtons[i]->setText(QLatin1String(captions.testPrefix) + QString::number(i + 1));

    switch (mode) {
        case LoaderMode::ModeTTF:
            CmdTestTTFAll->setText(QLatin1String(ALL_TESTS_TTF));
            CmdTestTTFAll->setEnabled(true);
            CmdTestTTFAll->show();
            CmdTestResidentFonts->setEnabled(true);
            CmdTestResidentFonts->show();
            break;
        case LoaderMode::ModeSF:
            CmdTestTTFAll->setText(QLatin1String(ALL_TESTS_SF));
            CmdTestTTFAll->setEnabled(true);
            CmdTestTTFAll->show();
            CmdTestResidentFonts->setEnabled(false);
            CmdTestResidentFonts->hide();
            break;
        case LoaderMode::ModePCX:
            CmdTestTTFAll->setEnabled(false);
            CmdTestTTFAll->hide();
            CmdTestResidentFonts->setEnabled(false);
            CmdTestResidentFonts->hide();
            break;
        case LoaderMode::ModeBMP:
            // The all-tests button keeps the state the previous mode gave it.
            CmdTestTTFAll->setText(QLatin1String(ALL_TESTS_BMP));
            CmdTestResidentFonts->setEnabled(false);
            CmdTestResidentFonts->hide();
            break;
    }
    // The button stays grey in BMP mode; say why where the operator looks.
    cmdSendListToPrinter->setToolTip(
        mode == LoaderMode::ModeBMP
            ? QStringLiteral("BMP lists are kept on this computer only: the printer takes no BMP upload, "
                             "so a BMP list is never sent to it.")
            : QString());
    QCoreApplication::processEvents();

    // The headings always go to the heading row, never over a listed path.
    fileList_->setHeadings({fileList_->heading(ORDER_COLUMN), QLatin1String(captions.fileHeading),
                            fileList_->heading(SIZE_COLUMN), QLatin1String(captions.column3Heading)});
}

void MainWindow::showListRow(int row) {
    grdInfo->setCurrentIndex(listPresentation_->index(row, PATH_COLUMN));
}

void MainWindow::setUpGrid() {
    fileList_->removeAll();
    grdInfo->setColumnWidth(0, scaledPixels(twipsToPixels(ORDER_COLUMN_TWIPS)));
    grdInfo->setColumnWidth(1, scaledPixels(twipsToPixels(FILE_COLUMN_TWIPS)));
    grdInfo->setColumnWidth(2, scaledPixels(twipsToPixels(SIZE_COLUMN_TWIPS)));
    const ModeCaptions& captions = MODE_CAPTIONS[static_cast<std::size_t>(selectedMode())];
    const std::array<QString, 4> headings = {QStringLiteral("Order"), QLatin1String(captions.fileHeading),
                                             QStringLiteral("File Size"),
                                             QLatin1String(captions.column3Heading)};
    fileList_->setHeadings({headings.begin(), headings.end()});
}

void MainWindow::SaveMode(const QString& path) {
    // The code of the selected mode, one decimal digit and CR LF.
    QByteArray content;
    if (modeSelected()) content = QByteArray::number(static_cast<int>(selectedMode())) + "\r\n";
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
    if (!written)
        CD.message(QStringLiteral("An error occured while saving file ") + path, APPLICATION_TITLE,
                   MessageIcon::Exclamation);
}

void MainWindow::LoadMode(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    const std::optional<std::int16_t> code = firstInteger(file.readLine(256));
    if (!code) return;
    switch (*code) {
        case 1:
            selectMode(LoaderMode::ModeSF);
            break;
        case 2:
            selectMode(LoaderMode::ModePCX);
            break;
        case 3:
            selectMode(LoaderMode::ModeBMP);
            break;
        default:
            selectMode(LoaderMode::ModeTTF);
            break;
    }
}

void MainWindow::showDiagnostics() {
    lstStatus->show();
    cmdClearDiags->show();
}

void MainWindow::hideDiagnostics() {
    lstStatus->hide();
    cmdClearDiags->hide();
}

void MainWindow::clearDiagnostics() {
    lstStatus->clear();
}

void MainWindow::exitProgram() {
    if (discovery_->connecting()) {
        if (connectStopConfirmed()) stopConnectAndQuit();
        return;
    }
    if (!exitConfirmed()) return;
    endProgram(0);
}

bool MainWindow::connectStopConfirmed() {
    return CD.askYesNo(QStringLiteral("A connection to the printer is being made: stop it and quit?"),
                       APPLICATION_TITLE, DefaultAnswer::No);
}

bool MainWindow::exitConfirmed() {
    if (!fileList_->changedSinceSaved()) return true;
    return CD.askYesNo(QStringLiteral("The file list has changed since it was last saved or loaded.\n"
                                      "Exit and drop the changes?"),
                       APPLICATION_TITLE, DefaultAnswer::No);
}

void MainWindow::createSidePanel() {
    constexpr int SIDE_PANEL_WIDTH = 330;
    sidePanel_->setFixedSize(SIDE_PANEL_WIDTH, twipsToPixels(MAIN_CLIENT_HEIGHT_TWIPS));
    auto* layout = new QVBoxLayout(sidePanel_);
    layout->setContentsMargins(0, 8, 8, 8);
    auto* transfer = new QGroupBox(QStringLiteral("File being sent"), sidePanel_);
    auto* transferLayout = new QVBoxLayout(transfer);
    lblFileTransfer = new QLabel(transfer);
    lblFileTransfer->setObjectName(QStringLiteral("lblFileTransfer"));
    lblFileTransfer->setWordWrap(true);
    lblFileTransfer->setMinimumHeight(36);
    transferLayout->addWidget(lblFileTransfer);
    // The list as a whole: which file of how many, elapsed and what is left.
    lblRunProgress = new QLabel(transfer);
    lblRunProgress->setObjectName(QStringLiteral("lblRunProgress"));
    lblRunProgress->setWordWrap(true);
    transferLayout->addWidget(lblRunProgress);
    layout->addWidget(transfer);
    chkShowPreview = new QCheckBox(QStringLiteral("Show preview"), sidePanel_);
    chkShowPreview->setObjectName(QStringLiteral("chkShowPreview"));
    chkShowPreview->setChecked(settings_->previewShown());
    layout->addWidget(chkShowPreview);
    previewPanel = new PreviewPanel(sidePanel_);
    previewPanel->setVisible(chkShowPreview->isChecked());
    layout->addWidget(previewPanel, 1);
    // With the preview hidden, the space below stays empty rather than
    // stretching the transfer box.
    transfer->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    layout->addStretch(0);
    connect(chkShowPreview, &QCheckBox::toggled, this, [this](bool shown) {
        settings_->setPreviewShown(shown);
        previewPanel->setVisible(shown);
        previewSelectedRow();
    });
    connect(grdInfo->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { previewSelectedRow(); });
    connect(fileList_.get(), &FileList::listChanged, this, [this] { previewSelectedRow(); });
}

void MainWindow::previewSelectedRow() {
    const int row = grdInfo->currentIndex().row();
    if (!chkShowPreview->isChecked() || row < 1 || row > fileList_->count()) {
        previewPanel->clear();
        return;
    }
    previewPanel->showFile(selectedMode(), fileList_->pathAt(row));
}

void MainWindow::fitCaptionsToFont() {
    // Captions each mode gives the frames and test buttons, not shown yet.
    QList<CaptionSet> modeCaptions = {{FrameAddToList, {}}, {FrameDeleteFromList, {}}, {CmdTestTTFAll, {}}};
    const std::array<QPushButton*, 5> testButtons = {cmdTestTTF1, CmdTestTTF2, CmdTestTTF3, CmdTestTTF4,
                                                     CmdTestTTF5};
    for (const ModeCaptions& captions : MODE_CAPTIONS) {
        modeCaptions[0].captions << QLatin1String(captions.addFrame);
        modeCaptions[1].captions << QLatin1String(captions.deleteFrame);
        for (std::size_t i = 0; i < testButtons.size(); ++i)
            modeCaptions << CaptionSet{testButtons[i],
                                       {QLatin1String(captions.testPrefix) + QString::number(i + 1)}};
    }
    modeCaptions[2].captions = {QLatin1String(ALL_TESTS_TTF), QLatin1String(ALL_TESTS_SF),
                                QLatin1String(ALL_TESTS_BMP)};
    layoutScale_ = fitCaptions(*area_, modeCaptions);
    if (layoutScale_ == 1.0) return;
    sidePanel_->setFixedSize(scaledPixels(sidePanel_->width()), area_->height());
    grdInfo->horizontalHeader()->setDefaultSectionSize(scaledPixels(twipsToPixels(DEFAULT_COLUMN_TWIPS)));
    grdInfo->verticalHeader()->setDefaultSectionSize(scaledPixels(GRID_ROW_HEIGHT));
}

int MainWindow::scaledPixels(int pixels) const {
    return static_cast<int>(std::lround(pixels * layoutScale_));
}

void MainWindow::fitToScreen() {
    const QSize whole = scroller_->widget()->sizeHint();
    QSize shown = whole;
    if (const QScreen* shownOn = screen()) {
        // Room for the window's frame and title bar, which the size excludes.
        constexpr int FRAME_ALLOWANCE = 48;
        const QSize room = shownOn->availableGeometry().size() - QSize(FRAME_ALLOWANCE / 3, FRAME_ALLOWANCE);
        shown = whole.boundedTo(room);
    }
    setMaximumSize(whole);
    resize(shown);
}

void MainWindow::findPrinter() {
    if (!holdOperation()) return;
    forgetLastRun();
    startWork([this] { discovery_->searchAgain(); });
}

void MainWindow::findNetworkPrinter() {
    if (!holdOperation()) return;
    forgetLastRun();
    NetworkAddressDialog& dialog = form1();
    dialog.exec();
    // Only a connection made in this showing of the dialog is shown, and
    // none once the program is ending (its socket is closed by then).
    if (endRequested_ || !dialog.connected() || !state.printer.found()) {
        releaseOperation();
        return;
    }
    startWork([this, address = dialog.address()] { discovery_->showNetworkPrinter(address); });
}

void MainWindow::stopConnectAndQuit() {
    hide();
    discovery_->stopConnect();
    endProgram(0);
}

NetworkAddressDialog& MainWindow::form1() {
    if (form1_ == nullptr) {
        form1_ = new NetworkAddressDialog(CD, this);
        // The dialog gives the address; the connect runs as a job through
        // discovery, which takes over the connection once the dialog has
        // told its result.
        form1_->setConnector([this](const NetworkAddress& address) {
            discovery_->startConnect(
                engineThread(), address, form1_->connectTimeLimit(), *this,
                [this](const ConnectOutcome& outcome) {
                    using Result = ConnectOutcome::Result;
                    if (outcome.result != Result::LibraryMissing) {
                        // Stopped by the operator: no failure to report.
                        if (outcome.result != Result::Stopped)
                            form1_->showConnectResult(outcome.result == Result::Connected);
                        discovery_->adoptConnection(outcome);
                    }
                    form1_->connectFinished();
                });
        });
        form1_->setStopper([this] { discovery_->stopConnect(); });
    }
    return *form1_;
}

void MainWindow::Form_Load() {
    state.FormLoading = true;

    library.setFailureHandler([this] { hop.post([this] { endProgram(1); }); });
    // The single-instance guard; a missing library is reported from there
    // and ends the program before the next step.
    auto otherInstances = std::make_shared<std::int32_t>(0);
    engineThread().start(
        [this, otherInstances] {
            library.CreateSingleInstance();
            if (!library.failed()) *otherInstances = library.IsAnotherInstanceRunning();
        },
        this, [this, otherInstances] { continueStartUp(*otherInstances); });
}

void MainWindow::continueStartUp(std::int32_t otherInstances) {
    if (endRequested_) {
        emit startUpEnded(false);
        return;
    }
    if (otherInstances > 0) {
        CD.message(QStringLiteral("Another instance of ZE VEVIR is currently running, please try latter"),
                   QLatin1String(PRODUCT_TITLE));
        secondInstance_ = true;
        endProgram(0);
        emit startUpEnded(false);
        return;
    }

    selectMode(LoaderMode::ModeTTF);
    LoadMode(paths_.modeFile);
    SetCaptions();
    setUpGrid();
    cmdFindNetworkPrinter->setEnabled(false);

    if (QFileInfo::exists(paths_.demoMarker)) {
        state.DemoMode = true;
        setWindowTitle(windowTitle() + DEMO_TITLE_SUFFIX);
        CD.message(QStringLiteral("Running in Demo Mode"), APPLICATION_TITLE);
    } else {
        state.DemoMode = false;
    }
    // The operator may have ended the program while the message was shown.
    if (endRequested_) {
        emit startUpEnded(false);
        return;
    }

    engineThread().start([this] { discovery_->FindPrinterGetHandle(); }, this, [this] { finishStartUp(); });
}

void MainWindow::finishStartUp() {
    if (endRequested_) {
        emit startUpEnded(false);
        return;
    }
    // Green is the colour of a good reading; "unknown" stays as the search showed it.
    if (discovery_->panel().flash.text != FLASH_UNKNOWN) {
        QPalette palette = lblFlashSpaceRemaining->palette();
        palette.setColor(QPalette::WindowText, FACT_ACCEPTABLE_COLOUR);
        lblFlashSpaceRemaining->setPalette(palette);
    }
    lblFlashNeeded->setText(QStringLiteral("0"));
    lstStatus->hide();
    state.FormLoading = false;
    emit startUpEnded(true);
}

void MainWindow::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    // A second copy that is refused leaves everything to the running one: it
    // saves no mode and restores no ports; it only lets go of its own guard.
    // A connect given up on may stay inside the library up to the connect's
    // own limit: the program does not wait for it, and, as the library is
    // never called from two threads at once, leaves the printer links and
    // ports to the library's own recovery (see libraryLeftBusy).
    libraryLeftBusy_ = !discovery_->libraryFree();
    // A job still running ends (as Cancel ends it) before the links go.
    stopWork();
    if (!secondInstance_) {
        // Before start-up selected a mode there is nothing worth saving.
        if (modeSelected()) SaveMode(paths_.modeFile);
        if (state.DemoMode) CD.message(QStringLiteral("Exit - Demo mode"), APPLICATION_TITLE);
    }
    const bool linksHeld = !secondInstance_ && !state.DemoMode;
    if (!libraryLeftBusy_)
        runShutdownCalls([this, linksHeld] {
            if (linksHeld) {
                state.printer.closeLocal(library);
                library.RestorePortsToOriginal();
                state.printer.closeSocket(library);
            }
            library.ClearInstanceMutex();
        });
    if (form1_ != nullptr) form1_->hide();
}

void MainWindow::runShutdownCalls(std::function<void()> calls) {
    // Nobody answers on the window's thread while it waits here (the hop is
    // abandoned by now): the library's messages are kept and shown after.
    ScriptedOperatorPrompts kept;
    engineThread().run([this, &kept, &calls] {
        library.setPrompts(&kept);
        calls();
        library.setPrompts(&crossThreadPrompts);
    });
    for (const ScriptedOperatorPrompts::Prompt& prompt : kept.prompts())
        CD.message(prompt.text, prompt.title, prompt.icon);
}

void MainWindow::endProgram(int exitCode) {
    if (!endRequested_) {
        endRequested_ = true;
        exitCode_ = exitCode;
    }
    close();
    Form_Unload();  // also when the window was never shown
    QCoreApplication::exit(exitCode_);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (auto* button = qobject_cast<QPushButton*>(watched);
            button && enter && key->modifiers() == Qt::NoModifier) {
            // Enter presses the focused button, as Space does.
            if (button->isEnabled()) button->animateClick();
            return true;
        }
        if (watched == grdInfo && key->key() == Qt::Key_Delete && cmdDeleteSelectedItem->isEnabled()) {
            deleteSelectedItem();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::enableKeyboardAccess() {
    // Tab leaves the grid for the buttons instead of walking its cells.
    grdInfo->setTabKeyNavigation(false);
    grdInfo->installEventFilter(this);
    for (QPushButton* button : findChildren<QPushButton*>()) button->installEventFilter(this);
    // Alt shortcuts for the main commands; the classic captions stay as they are.
    const std::array<std::pair<QPushButton*, const char*>, 12> commands = {{
        {cmdAddToList, "Alt+A"},
        {cmdDeleteLastItem, "Alt+L"},
        {cmdDeleteSelectedItem, "Alt+D"},
        {cmdSaveToFile, "Alt+V"},
        {cmdGetList, "Alt+G"},
        {cmdClearFont, "Alt+C"},
        {cmdSendListToPrinter, "Alt+S"},
        {cmdFindPrinter, "Alt+F"},
        {cmdFindNetworkPrinter, "Alt+N"},
        {cmdExit, "Alt+X"},
        {cmdMoveItemUp, "Alt+Up"},
        {cmdMoveItemDown, "Alt+Down"},
    }};
    for (const auto& [button, keyText] : commands) {
        const QKeySequence keys{QLatin1String(keyText)};
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isEnabled() && button->isVisible()) button->animateClick();
        });
        button->setToolTip(keys.toString(QKeySequence::NativeText));
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The close box during an upload: the operator decides, and a run that
    // is stopped ends as Cancel ends it (saying what the printer got) before
    // the window closes.
    if (!endRequested_ && discovery_->connecting()) {
        event->ignore();
        if (connectStopConfirmed()) stopConnectAndQuit();
        return;
    }
    if (!endRequested_ && uploadRunning()) {
        event->ignore();
        if (CD.askYesNo(QStringLiteral("An upload is running: stop it and quit?"), APPLICATION_TITLE,
                        DefaultAnswer::No))
            stopUploadAndQuit();
        return;
    }
    // The close box asks, as Exit does, before a changed list is dropped.
    if (!endRequested_ && event->spontaneous() && !exitConfirmed()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
    if (!endRequested_) {
        endRequested_ = true;
        QCoreApplication::exit(exitCode_);
    }
}

}  // namespace velquin
