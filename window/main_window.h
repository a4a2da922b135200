// The main window: the file list grid, the buttons of every operation, the
// printer information panel, the progress display and the diagnostics list,
// with the state that every operation reads and writes. The window wires
// buttons to operations and renders; the operations live in their own
// classes (PrinterIo, PrinterDiscovery, and the work parts of
// main_window_work.cpp).
#pragma once

#include <QString>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app_state.h"
#include "engine_thread.h"
#include "file_list.h"
#include "job_view.h"
#include "operation_view.h"
#include "printer_io.h"

class QButtonGroup;
class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QTableView;

namespace velquin {

enum class TicketButton;

class FlashMaintenance;
class ListPresentation;
class NetworkAddressDialog;
class MorlixLibrary;
class OperatorPrompts;
class PrinterDiscovery;
class PreviewPanel;
class PrinterHolds;
class ProgramSettings;
struct FileDialogRequest;
class PrinterPanelView;

// Window size in twips, at 15 twips a pixel.
inline constexpr int TWIPS_PER_PIXEL = 15;
inline constexpr int MAIN_CLIENT_WIDTH_TWIPS = 14'475;
inline constexpr int MAIN_CLIENT_HEIGHT_TWIPS = 10'725;
inline constexpr int twipsToPixels(int twips) {
    return twips / TWIPS_PER_PIXEL;
}

inline const QString WINDOW_TITLE_PREFIX = QStringLiteral("Quenrik Font\\Image Loader V2.16_1 03/29/2016 ");
// Ends the window title in demo mode: nothing shown comes from a printer.
inline const QString DEMO_TITLE_SUFFIX = QStringLiteral(" - DEMO MODE, no printer");

// The diagnostics list lstStatus as the operations' status log.
class ListStatusLog final : public StatusLog {
public:
    explicit ListStatusLog(QListWidget& list) : list_(list) {}
    void clearStatus() override;
    void addStatusLine(const QString& line) override;
    void selectLastStatusLine() override;

private:
    QListWidget& list_;
};

// Where the program keeps its one-line mode file and looks for the demo marker.
struct StartupPaths {
    QString modeFile;
    QString demoMarker;
    // "avrbl.txt" in the program's folder when that folder is writable and
    // not an installed one, otherwise in $XDG_CONFIG_HOME/velquin
    // (~/.config/velquin).
    static QString defaultModeFile();
    // The mode file in programFolder when it is writable and not installed,
    // else in configHome/velquin (configHome empty: ~/.config).
    static QString modeFileLocation(const QString& programFolder, const QString& configHome);
    // "DemoMode.txt" in the working directory.
    static QString defaultDemoMarker();
    static StartupPaths defaults() { return {defaultModeFile(), defaultDemoMarker()}; }
};

class MainWindow : public QWidget {
    Q_OBJECT

    // The diagnostics list, made first: the status log and the printer I/O
    // below write into it.
    QListWidget* lstStatus;

public:
    MainWindow(MorlixLibrary& library, OperatorPrompts& prompts,
               StartupPaths paths = StartupPaths::defaults(), QWidget* parent = nullptr);
    ~MainWindow() override;

    // Starts the start-up sequence and returns: its library calls run as
    // jobs on the engine thread while the event loop runs (their dialogs are
    // shown from there). startUpEnded tells its end.
    void Form_Load();
    // Shutdown sequence; runs once, whenever the window closes. Its library
    // calls run on the engine thread, which it waits for.
    void Form_Unload();
    // The program ends while a network connect it gave up on is still inside
    // the library: nothing may wait for the engine thread or unload the
    // library, so the process ends at once (the library's guardian puts back
    // the spooler queues, the system releases the locks).
    bool libraryLeftBusy() const { return libraryLeftBusy_; }
    // True once the program has been asked to end; exitCode() says how.
    // Long operations that let events run should stop when it turns true
    // (the shutdown has then released the printer links).
    bool endRequested() const { return endRequested_; }
    int exitCode() const { return exitCode_; }
    // Closes the window (running the shutdown) and ends the program.
    void endProgram(int exitCode = 0);

    // The mode behind the four option buttons; ModeTTF when none is selected.
    LoaderMode selectedMode() const;
    bool modeSelected() const;
    void selectMode(LoaderMode mode);
    void SetCaptions();
    // The operator's file list, which the grid shows.
    FileList& fileList() { return *fileList_; }
    // Makes column 1 of list row `row` the grid's current cell.
    void showListRow(int row);
    void SaveMode(const QString& path);
    void LoadMode(const QString& path);
    const StartupPaths& paths() const { return paths_; }
    // The area that holds the classic controls at their fixed places: 965 x
    // 715 at the normal font size, grown evenly when a larger font needs it.
    QWidget* classicArea() const { return area_; }

    // Diagnostics list: append a line at its end, select the newest, empty it.
    void addStatusLine(const QString& line) { io.addStatusLine(line); }
    void SelectLastStatusLine() { io.SelectLastStatusLine(); }
    void clearStatus() { io.clearStatus(); }

    // The network address dialog, created at its first use and kept hidden.
    NetworkAddressDialog& form1();
    PrinterDiscovery& discovery() { return *discovery_; }
    // The ledger of what the printer found holds, and its "Printer Holds" view.
    PrinterHolds& printerHolds() { return *holds_; }
    // Marks the list rows whose file the printer found already holds.
    void markHeldRows();
    // "Printer Holds": the printer's free flash is read now (a job), then
    // `then` runs on the window's thread with the record checked against it.
    void readHoldsNow(std::function<void()> then = {});

    // State, library, the dialogs seam and the printer I/O.
    AppState state;
    MorlixLibrary& library;
    OperatorPrompts& CD;  // the common dialog and every other operator prompt

    ListStatusLog statusLog;
    // The engine thread reaches the diagnostics list and the dialogs through these.
    ThreadHop hop;
    HoppingStatusLog crossThreadLog;
    HoppingPrompts crossThreadPrompts;
    PrinterIo io;

    // The file list, upload, flash and test-ticket side keeps its own
    // long-lived parts here; both are defined in main_window_work.cpp.
    struct WorkParts;
    struct WorkPartsDeleter {
        void operator()(WorkParts* parts) const;
    };
    std::unique_ptr<WorkParts, WorkPartsDeleter> work;
    // How long a flash wait goes on without a sign of the printer finishing
    // (main_window_work.cpp); a minute unless set.
    void setToggleWaitTimeoutMs(int milliseconds);
    // An upload is running; asked to stop, it ends as Cancel ends it and
    // the window then closes (main_window_work.cpp).
    bool uploadRunning() const;
    void stopUploadAndQuit();
    // Clears the last run's captions and figures: a search or a new run
    // owes nothing to them (main_window_work.cpp).
    void forgetLastRun();
    // A network connect is under way; asked to stop, the window goes and
    // the program ends at once, without waiting for the attempt.
    void stopConnectAndQuit();
    // The printer commands run as jobs on the engine thread; this returns
    // once the one under way (if any) has ended and the window has drawn
    // all it reported.
    void waitForWork();
    // The free flash the window shows, as a number (none when unknown).
    void noteFreeFlash(std::optional<std::int64_t> freeBytes);

signals:
    // A printer command's job has ended and its controls are released.
    void workEnded();
    // The start-up has ended: the window is to be shown, or (false) the
    // program ends with exitCode().
    void startUpEnded(bool showWindow);

public slots:
    // Printer discovery and the window's own commands (main_window.cpp).
    void findPrinter();
    void findNetworkPrinter();
    void showDiagnostics();
    void hideDiagnostics();
    void clearDiagnostics();
    void exitProgram();

    // The work commands (main_window_work.cpp).
    void addToList();
    void deleteLastItem();
    void deleteAllItems();
    // The selected row goes, or moves one place up or down.
    void deleteSelectedItem();
    void moveSelectedItem(int step);
    void saveListToFile();
    void getListFromFile();
    void clearFontSpace();
    void sendList();
    void getFlash();
    void getBusyStatus();
    void printTest1();
    void printTest2();
    void printTest3();
    void printTest4();
    void printTest5();
    void printTestsOneToFive();
    void printResidentFontsTest();
    // A mode option was selected (also when the start-up selects one).
    void switchMode(velquin::LoaderMode mode);
    // A click on a grid cell (row 0 is the heading row).
    void enterFontId(int row, int column);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Draws discovery's facts onto the printer panel's controls.
    friend class PrinterPanelView;
    // Holds the window for one long printer command (main_window_work.cpp).
    class RunLock;
    // Takes the run lock for a printer command; false while another runs.
    bool lockForWork();
    // Holds off other printer commands for a job that leaves the controls
    // as they are (a search, whose controls discovery enables and disables
    // itself; files measured for the list); false while another runs.
    bool holdOperation();
    // Releases what holdOperation took, when no job was started.
    void releaseOperation();
    // A file that cannot go on the list, and why ("" when it cannot be opened).
    void refuseFile(const QString& path, const QString& problem);
    // Shows the list read from the list file at `path`, and the lines it left out.
    void showLoadedList(const QString& path, const FileList::LoadReport& report);
    // The engine thread, started with the first job.
    EngineThread& engineThread();
    // Runs `job` on the engine thread, then `done` on the window's thread,
    // and releases the run lock.
    void startWork(std::function<void()> job, std::function<void()> done = {});
    // One flash command ("Get Flash", "Get Busy Status") under the run lock.
    void runFlashMaintenance(void (FlashMaintenance::*command)(bool demoMode));
    // The test tickets of a test button, sent under the run lock.
    void printTestTickets(TicketButton button);
    // The start-up's steps after the single-instance guard (the count of
    // other instances running) and after the local search.
    void continueStartUp(std::int32_t otherInstances);
    void finishStartUp();
    // Runs shutdown library calls on the engine thread and waits for them;
    // the library's messages meanwhile are shown afterwards, in order.
    void runShutdownCalls(std::function<void()> calls);
    void createControls();
    // Gives every control its member's name as its object name.
    void nameControls();
    void connectControls();
    void createWorkParts();  // main_window_work.cpp
    // Stops the job under way (as Cancel stops it, its dialogs unanswered)
    // and waits for its end.
    void stopWork();
    void setUpGrid();
    // Editing and keyboard access around the classic controls.
    void createListEditing();
    void enableKeyboardAccess();
    // The window's size: the whole content when the screen has room for it,
    // else what the screen has, the content scrolling.
    // Grows the classic area evenly when the font's captions need more room.
    void fitCaptionsToFont();
    // A size of the classic layout in pixels at the area's scale.
    int scaledPixels(int pixels) const;
    void fitToScreen();
    // A file dialog opening in the mode's last folder, which it then remembers.
    std::optional<QString> chooseFile(FileDialogRequest request, bool save);
    void createSidePanel();
    // Shows the selected row's file in the preview, when the preview is shown.
    void previewSelectedRow();
    // The list selected row (1 to n), or 0.
    int selectedListRow() const;
    // Asks whether Exit or the close box may stop the network connect under way.
    bool connectStopConfirmed();
    // Asks before an operator's Exit drops a list changed since it was saved.
    bool exitConfirmed();

    // Controls, grouped by the frame that holds them. Each has its name as
    // its object name, which tests and automation find it by.
    QTableView* grdInfo;
    QGroupBox* FrameAddToList;
    QPushButton* cmdAddToList;
    QGroupBox* FrameDeleteFromList;
    QPushButton* cmdDeleteLastItem;
    QPushButton* cmdDeleteAllItems;
    // List editing beside the classic delete buttons.
    QPushButton* cmdDeleteSelectedItem;
    QPushButton* cmdMoveItemUp;
    QPushButton* cmdMoveItemDown;
    // Beside the classic area: the file being sent, and the preview.
    QLabel* lblFileTransfer;
    QLabel* lblRunProgress;
    QCheckBox* chkShowPreview;
    PreviewPanel* previewPanel;
    QGroupBox* FrameFileOperations;
    QPushButton* cmdSaveToFile;
    QPushButton* cmdGetList;
    QGroupBox* FramePrinterOperations;
    QPushButton* cmdClearFont;
    QPushButton* cmdSendListToPrinter;
    QGroupBox* FramePrinterInfo;
    QLabel* lblPrinterFound;
    QLabel* lblPortType;
    QLabel* lblHardware;
    QLabel* lblPrinterType;
    QLabel* lblPrinterModel;
    QLabel* lblVersion;
    QLabel* lblFlashSpaceRemainingCaption;
    QLabel* lblFlashSpaceRemaining;
    QLabel* lblFlashNeededCaption;
    QLabel* lblFlashNeeded;
    QPushButton* cmdFindPrinter;
    QPushButton* cmdFindNetworkPrinter;
    QGroupBox* FrameProgress;
    QLabel* LblProgress;
    QProgressBar* ProgressBar1;
    QGroupBox* FrameTest;
    QPushButton* cmdTestTTF1;
    QPushButton* CmdTestTTF2;
    QPushButton* CmdTestTTF3;
    QPushButton* CmdTestTTF4;
    QPushButton* CmdTestTTF5;
    QPushButton* CmdTestTTFAll;
    QPushButton* CmdTestResidentFonts;
    QGroupBox* FrameMode;
    QRadioButton* OptionTTF;
    QRadioButton* OptionSF;
    QRadioButton* OptionPCX;
    QRadioButton* OptionBMP;
    QGroupBox* FrameEnableDiags;
    QRadioButton* OptionEnableDiags;
    QRadioButton* OptionDisableDiags;
    QPushButton* CmdGetFlash;
    QPushButton* CmdGetStatus;
    QPushButton* cmdClearDiags;
    QPushButton* cmdExit;

    StartupPaths paths_;
    // The classic area (its controls at their fixed places) and the
    // panel added to its right, together in a scroll area.
    QWidget* area_;
    // How much the classic area grew so that every caption fits its control.
    double layoutScale_ = 1.0;
    QWidget* sidePanel_;
    QScrollArea* scroller_;
    std::unique_ptr<FileList> fileList_;
    std::unique_ptr<ProgramSettings> settings_;
    ListPresentation* listPresentation_;
    QButtonGroup* modeGroup_;
    std::unique_ptr<PrinterHolds> holds_;
    std::unique_ptr<PrinterPanelView> panelView_;
    // Discovery runs as jobs: what it draws reaches the panel through this.
    std::unique_ptr<HoppingDiscoveryView> discoveryView_;
    std::unique_ptr<PrinterDiscovery> discovery_;
    NetworkAddressDialog* form1_ = nullptr;
    bool unloaded_ = false;
    bool endRequested_ = false;
    bool secondInstance_ = false;
    bool libraryLeftBusy_ = false;
    int exitCode_ = 0;
};

}  // namespace velquin
