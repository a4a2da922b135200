// The main window's work commands: the file list and list files, the upload,
// flash maintenance and test tickets. The operations live in their own
// classes; here they are wired to the window's controls.
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <array>
#include <climits>
#include <optional>

#include "conversion.h"
#include "file_list.h"
#include "flash_maintenance.h"
#include "image_conversion_dialog.h"
#include "main_window.h"
#include "morlix_library.h"
#include "operation_view.h"
#include "operator_prompts.h"
#include "printer_connection.h"
#include "printer_facts.h"
#include "printer_holds.h"
#include "printer_panel_view.h"
#include "program_settings.h"
#include "test_tickets.h"
#include "transfer_meter.h"
#include "upload.h"

namespace velquin {

namespace {

// Where a folded diagnostics line keeps its text and its count.
constexpr int REPEATED_LINE_ROLE = Qt::UserRole;
constexpr int REPEAT_COUNT_ROLE = Qt::UserRole + 1;
// The free flash that discovery shows for the demo printer.
constexpr std::int32_t DEMO_FREE_FLASH = 5'000'000;
// A message box lists at most this many list-file lines that were not added.
constexpr int LISTED_LINES_LIMIT = 20;

}  // namespace

// The window side of the work commands: the operations' view onto the
// window's controls, the file list, the printer connection, the engine
// thread the commands run on and the Cancel button of the waits.
struct MainWindow::WorkParts final : OperationView {
    explicit WorkParts(MainWindow& owner)
        : window(owner),
          list(owner.fileList()),
          linked(owner.state, owner.io, owner.library),
          jobView(*this, owner.hop, stop),
          cancelButton(new QPushButton(QStringLiteral("Cancel"), owner.FrameProgress)) {
        cancelButton->setObjectName(QStringLiteral("cmdCancelWait"));
        cancelButton->setGeometry(390, 4, 70, 24);
        cancelButton->hide();
        QObject::connect(cancelButton, &QPushButton::clicked, [this] { jobView.cancel(); });
        // The file being sent: its bytes and rate, then the flash write's time.
        meter.setListener([this](const FileProgress& file) {
            window.lblFileTransfer->setText(progressText(file));
            showRunProgress();
        });
        meterTicker.setInterval(TransferMeter::DEFAULT_INTERVAL);
        QObject::connect(&meterTicker, &QTimer::timeout, [this] {
            meter.tick();
            showRunProgress();
        });
    }

    void clearStatus() override { window.clearStatus(); }
    void addStatusLine(const QString& line) override { window.addStatusLine(line); }
    // A repeat of the line before is folded into it with a count, and the
    // newest line is kept in view, so a long wait stays legible.
    void addRepeatedStatusLine(const QString& line) override { addRepeatedStatusLines(line, 1); }
    void addRepeatedStatusLines(const QString& line, int repeats) override {
        if (repeats <= 0) return;
        QListWidget& list = *window.lstStatus;
        QListWidgetItem* last = list.count() > 0 ? list.item(list.count() - 1) : nullptr;
        if (last == nullptr || last->data(REPEATED_LINE_ROLE).toString() != line) {
            window.addStatusLine(line);
            last = list.item(list.count() - 1);
            last->setData(REPEATED_LINE_ROLE, line);
            last->setData(REPEAT_COUNT_ROLE, 0);
        }
        const int times = last->data(REPEAT_COUNT_ROLE).toInt() + repeats;
        last->setData(REPEAT_COUNT_ROLE, times);
        if (times > 1)
            last->setText(line + QStringLiteral(" (") + QString::number(times) + QStringLiteral(" times)"));
        window.SelectLastStatusLine();
    }
    void selectLastStatusLine() override { window.SelectLastStatusLine(); }
    void setProgressRange(int minimum, int maximum) override {
        window.ProgressBar1->setRange(minimum, maximum);
    }
    void setProgressValue(int value) override { window.ProgressBar1->setValue(value); }
    int progressValue() const override { return window.ProgressBar1->value(); }
    void setProgressCaption(const QString& caption) override { window.LblProgress->setText(caption); }
    void setFlashSpaceRemaining(std::optional<std::int64_t> freeBytes) override {
        showFreeFlash(*window.lblFlashSpaceRemaining, freeBytes, demoMode());
        freeFlash = freeBytes;
        if (!demoMode()) window.printerHolds().noteFreeFlash(freeBytes);
    }
    void setFlashNeededCaption(const QString& caption) override { window.lblFlashNeeded->setText(caption); }
    void setCurrentListRow(int row) override { window.showListRow(row); }
    void setCancelOffered(bool offered) override { cancelButton->setVisible(offered); }
    // The job's Cancel is kept by the job's view (jobView).
    bool cancelRequested() const override { return false; }
    OperatorPrompts& prompts() override { return window.CD; }

    bool demoMode() const { return window.state.DemoMode; }

    // The printer the commands talk to; in demo mode one that is not there,
    // with the free flash the window shows.
    PrinterConnection& printer() {
        if (!demoMode()) return linked;
        demo.emplace(static_cast<std::int32_t>(
            std::min<std::int64_t>(freeFlash.value_or(DEMO_FREE_FLASH), INT32_MAX)));
        return *demo;
    }

    SoftFontConverterCall converter() {
        return [this](const QByteArray& path) { return window.library.qkSoftFontFileName(path.constData()); };
    }

    // "Send List To Printer", "Delete Last Item" and "Delete All Items". BMP
    // lists are never sent: the printer has no BMP upload.
    void setListButtons(bool enabled) {
        window.cmdSendListToPrinter->setEnabled(enabled && window.state.printer.found() &&
                                                window.selectedMode() != LoaderMode::ModeBMP);
        window.cmdDeleteLastItem->setEnabled(enabled);
        window.cmdDeleteAllItems->setEnabled(enabled);
    }

    void emptyList() {
        list.removeAll();
        window.lblFlashNeeded->setText(QStringLiteral("0"));
        setListButtons(false);
        forgetLastRun();
    }

    // The files as they are now, before a send: a size that changed since
    // the file was listed is taken (the flash check uses it) and told; a
    // file that can no longer be loaded stops the send before anything
    // goes out; a list the printer verifiably holds whole is sent again
    // only when the operator says so.
    bool listReadyToSend() {
        const LoaderMode mode = window.selectedMode();
        const FileList::Recheck recheck = list.recheck(mode);
        if (!recheck.resized.isEmpty()) {
            window.lblFlashNeeded->setText(formatGrouped(list.flashNeeded()));
            for (const QString& line : recheck.resized)
                window.addStatusLine(QStringLiteral("Changed since listed: ") + line);
            window.CD.message(
                QStringLiteral("These files changed since they were listed; their sizes now are used:\n") +
                    recheck.resized.join(QLatin1Char('\n')),
                APPLICATION_TITLE, MessageIcon::Exclamation);
        }
        if (!recheck.refusal.isEmpty()) {
            window.addStatusLine(recheck.refusal + QStringLiteral(", nothing was sent"));
            window.CD.message(recheck.refusal + QStringLiteral("\n\nNothing was sent."), APPLICATION_TITLE,
                              MessageIcon::Exclamation);
            return false;
        }
        if (demoMode() || list.count() == 0) return true;
        const std::vector<bool> held = window.printerHolds().heldRows(list, mode);
        return !std::all_of(held.begin(), held.end(), [](bool yes) { return yes; }) ||
               window.CD.askYesNo(
                   QStringLiteral("The printer already holds every file of this list (loaded "
                                  "since its last erase, and its free flash agrees).\nSend them "
                                  "all again?"),
                   APPLICATION_TITLE, DefaultAnswer::No);
    }

    // A new list, mode, search or run owes nothing to the last run's ending.
    void forgetLastRun() {
        window.LblProgress->clear();
        window.ProgressBar1->setValue(window.ProgressBar1->minimum());
        window.lblFileTransfer->clear();
        window.lblRunProgress->clear();
    }

    void showRunProgress() { window.lblRunProgress->setText(runText(meter.run())); }

    MainWindow& window;
    // The mode whose captions and list the window shows.
    LoaderMode modeInEffect = LoaderMode::ModeTTF;
    FileList& list;
    LinkedPrinterConnection linked;
    std::optional<DemoPrinterConnection> demo;
    // The free flash shown, as the printer last reported it.
    std::optional<std::int64_t> freeFlash;
    // The commands' jobs, what stops them, and their view onto this one.
    StopRequest stop;
    HoppingView jobView;
    std::unique_ptr<RunLock> runLock;
    // Held for a job that needs no run lock.
    std::unique_ptr<OperationGuard> heldOperation;
    TransferMeter meter;
    QTimer meterTicker;
    QPushButton* cancelButton;
    bool uploadRunning = false;
    // The close box asked to stop the running upload and quit.
    bool quitAfterRun = false;
    std::chrono::milliseconds toggleTimeout = TOGGLE_WAIT_TIMEOUT;
    // Declared last, so destroyed first: no job outlives what it uses.
    // Started with the first job.
    std::unique_ptr<EngineThread> engine;
};

// Holds the window for one long printer command: no other command can start
// inside it while it lets the window's events run, and the controls that
// would start one are greyed until it ends.
class MainWindow::RunLock {
public:
    explicit RunLock(MainWindow& window) : guard_(window.state) {
        if (!guard_) return;
        window.io.startCommand();
        frames_ = {window.FrameAddToList,         window.FrameDeleteFromList, window.FrameFileOperations,
                   window.FramePrinterOperations, window.FrameTest,           window.FrameMode};
        buttons_ = {window.cmdFindPrinter, window.cmdFindNetworkPrinter, window.CmdGetFlash,
                    window.CmdGetStatus, window.cmdExit};
        sendsOrErases_ = {window.cmdSendListToPrinter, window.cmdClearFont,  window.cmdTestTTF1,
                          window.CmdTestTTF2,          window.CmdTestTTF3,   window.CmdTestTTF4,
                          window.CmdTestTTF5,          window.CmdTestTTFAll, window.CmdTestResidentFonts};
        focus_ = QApplication::focusWidget();
        grid_ = window.grdInfo;
        // The list keeps its order while a command works through it.
        grid_->setDragEnabled(false);
        grid_->setAcceptDrops(false);
        for (QGroupBox* frame : frames_) frame->setEnabled(false);
        for (std::size_t i = 0; i < buttons_.size(); ++i) {
            wasEnabled_[i] = buttons_[i]->isEnabled();
            buttons_[i]->setEnabled(false);
        }
    }
    ~RunLock() {
        if (!guard_) return;
        for (QGroupBox* frame : frames_) frame->setEnabled(true);
        for (std::size_t i = 0; i < buttons_.size(); ++i) buttons_[i]->setEnabled(wasEnabled_[i]);
        grid_->setDragEnabled(true);
        grid_->setAcceptDrops(true);
        // Greying the controls took the focus away: it goes back where the
        // operator left it, unless that sends or erases (one more Enter
        // after the end's message would run it again): then to the list.
        if (focus_ &&
            std::find(sendsOrErases_.begin(), sendsOrErases_.end(), focus_.data()) != sendsOrErases_.end())
            focus_ = grid_;
        if (focus_ && focus_->isEnabled() && focus_->isVisible()) focus_->setFocus();
    }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    explicit operator bool() const { return static_cast<bool>(guard_); }

private:
    OperationGuard guard_;
    QPointer<QWidget> focus_;
    QTableView* grid_ = nullptr;
    std::array<QGroupBox*, 6> frames_{};
    std::array<QPushButton*, 5> buttons_{};
    std::array<bool, 5> wasEnabled_{};
    std::array<QWidget*, 9> sendsOrErases_{};
};

void MainWindow::WorkPartsDeleter::operator()(WorkParts* parts) const {
    delete parts;
}

void MainWindow::createWorkParts() {
    work.reset(new WorkParts(*this));
}

void MainWindow::setToggleWaitTimeoutMs(int milliseconds) {
    work->toggleTimeout = std::chrono::milliseconds(milliseconds);
}

bool MainWindow::uploadRunning() const {
    return work->uploadRunning;
}

void MainWindow::forgetLastRun() {
    if (!work->uploadRunning) work->forgetLastRun();
}

void MainWindow::stopUploadAndQuit() {
    work->quitAfterRun = true;
    work->stop.request();
}

bool MainWindow::lockForWork() {
    auto lock = std::make_unique<RunLock>(*this);
    if (!*lock) return false;
    work->runLock = std::move(lock);
    work->stop.clear();
    return true;
}

bool MainWindow::holdOperation() {
    auto guard = std::make_unique<OperationGuard>(state);
    if (!*guard) return false;
    work->heldOperation = std::move(guard);
    return true;
}

void MainWindow::releaseOperation() {
    work->heldOperation.reset();
}

EngineThread& MainWindow::engineThread() {
    if (!work->engine) work->engine = std::make_unique<EngineThread>();
    return *work->engine;
}

void MainWindow::startWork(std::function<void()> job, std::function<void()> done) {
    const auto releaseHolds = [this] {
        work->runLock.reset();
        work->heldOperation.reset();
    };
    const bool started =
        engineThread().start(std::move(job), this, [this, releaseHolds, done = std::move(done)] {
            releaseHolds();
            if (done) done();
            emit workEnded();
        });
    // Another job holds the engine (a start-up step): nothing ran, and
    // nothing stays held.
    if (!started) releaseHolds();
}

void MainWindow::waitForWork() {
    if (!work->runLock && !work->heldOperation) return;
    QEventLoop loop;
    connect(this, &MainWindow::workEnded, &loop, &QEventLoop::quit);
    loop.exec();
}

void MainWindow::stopWork() {
    work->stop.request();
    hop.abandon();
    // A connect left inside the library is not waited for (libraryLeftBusy).
    if (work->engine && !libraryLeftBusy_) work->engine->waitIdle();
}

void MainWindow::noteFreeFlash(std::optional<std::int64_t> freeBytes) {
    work->freeFlash = freeBytes;
    printerHolds().noteFreeFlash(freeBytes);
}

void MainWindow::readHoldsNow(std::function<void()> then) {
    if (!lockForWork()) return;
    PrinterConnection& printer = work->printer();
    auto reading = std::make_shared<std::optional<std::int64_t>>();
    startWork([&printer, reading] { *reading = printer.readFlashSpace().known(); },
              [this, reading, then = std::move(then)] {
                  work->setFlashSpaceRemaining(*reading);
                  markHeldRows();
                  if (then) then();
              });
}

void MainWindow::addToList() {
    if (!holdOperation()) return;
    if (work->list.isFull()) {
        CD.message(QStringLiteral("The list holds ") + QString::number(FILE_LIST_CAPACITY) +
                   QStringLiteral(" files, no more can be added"));
        releaseOperation();
        return;
    }
    std::optional<QString> path = chooseFile(addFileDialog(selectedMode()), false);
    if (path && selectedMode() == LoaderMode::ModePCX && needsConversionToPcx(*path)) {
        image::WrittenFiles written;
        path = convertImageForList(*path, CD, this, written);
    }
    if (!path) {
        releaseOperation();
        return;
    }
    // A soft font is sized by converting it, through the library: on the
    // engine thread.
    struct Measured {
        std::optional<std::int32_t> size;
        QString problem;
    };
    auto measured = std::make_shared<Measured>();
    startWork(
        [this, mode = selectedMode(), path = *path, measured] {
            measured->size = uploadSizeOf(mode, path, work->converter(), crossThreadLog, &measured->problem);
        },
        [this, path = *path, measured] {
            if (!measured->size) {
                refuseFile(path, measured->problem);
                return;
            }
            work->list.append(path, *measured->size);
            lblFlashNeeded->setText(formatGrouped(work->list.flashNeeded()));
            work->setListButtons(true);
            markHeldRows();
        });
}

void MainWindow::refuseFile(const QString& path, const QString& problem) {
    if (problem.isEmpty()) {
        CD.message(QStringLiteral("File ") + path + QStringLiteral(" can not be opened"));
        return;
    }
    // Not what this mode loads: refused, with what it is.
    const QString text =
        QStringLiteral("File ") + path + QLatin1Char(' ') + problem + QStringLiteral(", not added");
    addStatusLine(text);
    CD.message(text, APPLICATION_TITLE, MessageIcon::Exclamation);
}

void MainWindow::markHeldRows() {
    printerHolds().markHeldRows(work->list, selectedMode());
}

void MainWindow::deleteLastItem() {
    const OperationGuard guard(state);
    if (!guard) return;
    work->list.removeLast();
    lblFlashNeeded->setText(QString::number(work->list.flashNeeded()));
    if (work->list.count() == 0) work->setListButtons(false);
}

std::optional<QString> MainWindow::chooseFile(FileDialogRequest request, bool save) {
    const LoaderMode mode = selectedMode();
    request.folder = settings_->dialogFolder(mode);
    const std::optional<QString> chosen = save ? CD.saveFileName(request) : CD.openFileName(request);
    if (chosen) settings_->rememberChosenFile(mode, *chosen);
    return chosen;
}

int MainWindow::selectedListRow() const {
    const QModelIndex current = grdInfo->currentIndex();
    const bool selected = current.isValid() && grdInfo->selectionModel()->isSelected(current);
    return selected && current.row() >= 1 && current.row() <= fileList_->count() ? current.row() : 0;
}

void MainWindow::createListEditing() {
    // Below the two classic buttons of the delete frame.
    cmdDeleteSelectedItem = new QPushButton(QStringLiteral("Delete Selected Item"), FrameDeleteFromList);
    cmdDeleteSelectedItem->setObjectName(QStringLiteral("cmdDeleteSelectedItem"));
    cmdDeleteSelectedItem->setGeometry(10, 112, 156, 34);
    cmdMoveItemUp = new QPushButton(QStringLiteral("Move Up"), FrameDeleteFromList);
    cmdMoveItemUp->setObjectName(QStringLiteral("cmdMoveItemUp"));
    cmdMoveItemUp->setGeometry(10, 154, 76, 34);
    cmdMoveItemDown = new QPushButton(QStringLiteral("Move Down"), FrameDeleteFromList);
    cmdMoveItemDown->setObjectName(QStringLiteral("cmdMoveItemDown"));
    cmdMoveItemDown->setGeometry(90, 154, 76, 34);
    connect(cmdDeleteSelectedItem, &QPushButton::clicked, this, &MainWindow::deleteSelectedItem);
    connect(cmdMoveItemUp, &QPushButton::clicked, this, [this] { moveSelectedItem(-1); });
    connect(cmdMoveItemDown, &QPushButton::clicked, this, [this] { moveSelectedItem(+1); });

    grdInfo->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdInfo->setDragDropMode(QAbstractItemView::DragDrop);
    grdInfo->setDefaultDropAction(Qt::MoveAction);
    grdInfo->setDragDropOverwriteMode(true);
    grdInfo->setDropIndicatorShown(true);
    const auto followSelection = [this] {
        const int row = selectedListRow();
        cmdDeleteSelectedItem->setEnabled(row > 0);
        cmdMoveItemUp->setEnabled(row > 1);
        cmdMoveItemDown->setEnabled(row > 0 && row < fileList_->count());
    };
    connect(grdInfo->selectionModel(), &QItemSelectionModel::selectionChanged, this, followSelection);
    connect(grdInfo->selectionModel(), &QItemSelectionModel::currentChanged, this, followSelection);
    connect(fileList_.get(), &FileList::listChanged, this, followSelection);
    followSelection();
}

void MainWindow::deleteSelectedItem() {
    const OperationGuard guard(state);
    if (!guard) return;
    const int row = selectedListRow();
    if (row == 0) return;
    work->list.removeRowAt(row);
    lblFlashNeeded->setText(formatGrouped(work->list.flashNeeded()));
    if (work->list.count() == 0) {
        work->setListButtons(false);
        return;
    }
    showListRow(std::min(row, work->list.count()));
}

void MainWindow::moveSelectedItem(int step) {
    const OperationGuard guard(state);
    if (!guard) return;
    const int row = selectedListRow();
    if (row == 0 || !work->list.moveRowTo(row, row + step)) return;
    showListRow(row + step);
}

void MainWindow::deleteAllItems() {
    const OperationGuard guard(state);
    if (!guard) return;
    work->emptyList();
}

void MainWindow::saveListToFile() {
    const OperationGuard guard(state);
    if (!guard) return;
    const std::optional<QString> path = chooseFile(saveListDialog(selectedMode()), true);
    if (!path) return;
    if (!writeListFile(*path, work->list.paths())) {
        CD.message(QStringLiteral("An error occured while saving file ") + *path, APPLICATION_TITLE,
                   MessageIcon::Exclamation);
        return;
    }
    work->list.markSaved();
    if (work->list.count() > 0) showListRow(work->list.count());
}

void MainWindow::getListFromFile() {
    if (!holdOperation()) return;
    const std::optional<QString> path = chooseFile(openListDialog(selectedMode()), false);
    const std::optional<QStringList> lines = path ? readListFile(*path) : std::nullopt;
    if (path && !lines)
        CD.message(QStringLiteral("An error occured while reading file ") + *path, APPLICATION_TITLE,
                   MessageIcon::Exclamation);
    if (!lines) {
        releaseOperation();
        return;
    }

    work->emptyList();
    // Soft fonts are sized by converting them, through the library: on the
    // engine thread.
    auto measured = std::make_shared<FileList::MeasuredLines>();
    startWork([this, lines = *lines, mode = selectedMode(),
               measured] { *measured = FileList::measure(lines, mode, work->converter(), crossThreadLog); },
              [this, path = *path, measured] { showLoadedList(path, work->list.load(*measured)); });
}

void MainWindow::showLoadedList(const QString& path, const FileList::LoadReport& report) {
    lblFlashNeeded->setText(formatGrouped(work->list.flashNeeded()));
    if (report.added > 0) work->setListButtons(true);
    markHeldRows();
    if (!report.notAdded.isEmpty()) {
        QStringList shown = report.notAdded.mid(0, LISTED_LINES_LIMIT);
        if (report.notAdded.size() > LISTED_LINES_LIMIT) {
            shown << QStringLiteral("and ") + QString::number(report.notAdded.size() - LISTED_LINES_LIMIT) +
                         QStringLiteral(" more");
        }
        CD.message(QStringLiteral("These lines of ") + path +
                       QStringLiteral(" were not added to the list:\n") + shown.join(QLatin1Char('\n')),
                   APPLICATION_TITLE, MessageIcon::Exclamation);
    }
}

// The printer is asked for once the lock is held: in demo mode asking makes
// a fresh demo printer, which must not replace the one a running job uses.
void MainWindow::clearFontSpace() {
    if (!lockForWork()) return;
    PrinterConnection& printer = work->printer();
    const bool demo = work->demoMode();
    std::optional<ledger::PrinterLedger> record;
    if (!demo) record = printerHolds().recorder();
    startWork(
        [this, &printer, record, demo] {
            FlashMaintenance erase(
                printer, work->jobView, [this](int ms) { io.sleepMs(ms); }, work->toggleTimeout);
            if (record) erase.recordIn(*record);
            erase.clearFontSpace(demo);
        },
        [this] { markHeldRows(); });
}

void MainWindow::sendList() {
    if (selectedMode() == LoaderMode::ModeBMP) {
        CD.message(QStringLiteral(
            "BMP images are not sent to the printer: it has no BMP upload. Nothing was sent."));
        return;
    }
    if (!lockForWork()) return;
    if (!work->listReadyToSend()) {
        work->runLock.reset();
        return;
    }
    work->forgetLastRun();
    UploadRequest request;
    request.mode = selectedMode();
    request.paths = work->list.paths();
    request.fontIds = work->list.fontIds();
    request.demoMode = work->demoMode();
    request.flashNeeded = work->list.flashNeeded();
    request.freeFlash = work->freeFlash;
    std::optional<ledger::PrinterLedger> record;
    if (!request.demoMode) record = printerHolds().recorder();
    PrinterConnection& printer = work->printer();
    work->uploadRunning = true;
    work->meter.setFiles(request.paths);
    work->meterTicker.start();
    startWork(
        [this, &printer, request, record] {
            // The window follows the run on its own thread; the ledger
            // records each file here, before the next byte goes out.
            UploadObservers observers;
            HoppingUploadObserver toWindow(work->meter, hop);
            observers.add(toWindow);
            std::optional<UploadLedgerRecorder> recorder;
            if (record) observers.add(recorder.emplace(*record));
            UploadEngine upload(printer, work->jobView, work->converter(), work->toggleTimeout, observers);
            upload.run(request);
        },
        [this] {
            work->meterTicker.stop();
            // The end names how many files and bytes went.
            work->showRunProgress();
            work->uploadRunning = false;
            markHeldRows();
            if (work->quitAfterRun) {
                work->quitAfterRun = false;
                close();
            }
        });
}

void MainWindow::runFlashMaintenance(void (FlashMaintenance::*command)(bool demo)) {
    if (!lockForWork()) return;
    PrinterConnection& printer = work->printer();
    const bool demo = work->demoMode();
    startWork([this, &printer, demo, command] {
        FlashMaintenance maintenance(
            printer, work->jobView, [this](int ms) { io.sleepMs(ms); }, work->toggleTimeout);
        (maintenance.*command)(demo);
    });
}

void MainWindow::getFlash() {
    runFlashMaintenance(&FlashMaintenance::getFlash);
}

void MainWindow::getBusyStatus() {
    runFlashMaintenance(&FlashMaintenance::getStatus);
}

// The printer is asked for only once the lock is held: in demo mode asking
// makes a fresh demo printer, which must not replace the one a running
// operation is waiting on.
void MainWindow::printTestTickets(TicketButton button) {
    if (!lockForWork()) return;
    if (work->demoMode()) {
        CD.message(DEMO_NOTHING_SENT);
        work->runLock.reset();
        return;
    }
    PrinterConnection& printer = work->printer();
    const LoaderMode mode = selectedMode();
    // Told on the window's thread once the job has ended.
    auto taken = std::make_shared<bool>(true);
    startWork([button, mode, &printer, taken] { *taken = sendTestTickets(button, mode, printer); },
              [this, taken] {
                  if (!*taken)
                      io.addStatusLine(QStringLiteral("Test ticket not sent: the printer did not take it"));
              });
}

void MainWindow::printTest1() {
    printTestTickets(TicketButton::Test1);
}
void MainWindow::printTest2() {
    printTestTickets(TicketButton::Test2);
}
void MainWindow::printTest3() {
    printTestTickets(TicketButton::Test3);
}
void MainWindow::printTest4() {
    printTestTickets(TicketButton::Test4);
}
void MainWindow::printTest5() {
    printTestTickets(TicketButton::Test5);
}
void MainWindow::printTestsOneToFive() {
    printTestTickets(TicketButton::TestAll);
}
void MainWindow::printResidentFontsTest() {
    printTestTickets(TicketButton::ResidentFonts);
}

void MainWindow::switchMode(LoaderMode mode) {
    if (state.FormLoading) {
        work->modeInEffect = mode;
        return;
    }
    const OperationGuard guard(state);
    if (!guard) {
        // Another command runs: the mode stays as it is.
        if (mode != work->modeInEffect) selectMode(work->modeInEffect);
        return;
    }
    if (mode != work->modeInEffect && work->list.count() > 0 &&
        !CD.askYesNo(QStringLiteral("Switching the mode empties the file list (") +
                         QString::number(work->list.count()) + QStringLiteral(" files).\nSwitch the mode?"),
                     APPLICATION_TITLE, DefaultAnswer::No)) {
        selectMode(work->modeInEffect);
        return;
    }
    work->modeInEffect = mode;
    work->emptyList();
    SetCaptions();
}

void MainWindow::enterFontId(int row, int column) {
    Q_UNUSED(column);
    // Font IDs are noted beside True Type files only; the heading row is no data.
    if (selectedMode() != LoaderMode::ModeTTF || row < 1) return;
    const OperationGuard guard(state);
    if (!guard) return;
    const std::optional<QString> fontId =
        CD.inputText(QStringLiteral("Enter True Type Font ID:"), QStringLiteral("Input test"), QString());
    if (!fontId) return;
    // Only an ID the printer takes is noted: the ledger keeps it with the load.
    if (const FontIdReading reading = readFontId(*fontId); !reading.refusal.isEmpty()) {
        CD.message(reading.refusal, APPLICATION_TITLE, MessageIcon::Exclamation);
        return;
    }
    // The answer is the row's font ID, whichever of its cells was clicked.
    work->list.setFontId(row, fontId->trimmed());
}

}  // namespace velquin
