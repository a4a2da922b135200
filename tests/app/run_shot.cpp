// Draws the main window during and after an upload, for the closing notes
// and the README (scripts/screenshot-runs.sh), against printer-sim on a
// simulated USB printer (offscreen platform):
//   run_shot progress OUT.png           a long list (the system's DejaVu
//                                       fonts) under way: file n of N,
//                                       elapsed and what is left
//   run_shot stopped WINDOW.png BOX.png a run timed out while the printer
//                                       wrote a font it stored all the same
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QScrollArea>
#include <QTimer>
#include <cstdio>

#include "app_test_support.h"
#include "main_window.h"
#include "simulator.h"

using namespace velquin;

namespace {

// The whole window, also where the offscreen screen is smaller than it.
bool saveWindow(MainWindow& window, const QString& output) {
    auto* scroller = window.findChild<QScrollArea*>();
    return (scroller ? scroller->widget()->grab() : window.grab()).save(output);
}

// The system's DejaVu fonts: real True Type files the window takes.
QStringList systemFonts() {
    const QDir folder(QStringLiteral("/usr/share/fonts/truetype/dejavu"));
    QStringList fonts;
    for (const QString& name : folder.entryList({QStringLiteral("*.ttf")}, QDir::Files, QDir::Name))
        fonts << folder.absoluteFilePath(name);
    return fonts;
}

bool progress(MainWindow& window, test::WindowHarness& harness, const QString& output) {
    for (const QString& path : systemFonts()) {
        harness.prompts.answerFile(path);
        window.addToList();
        window.waitForWork();
    }
    auto* run = test::control<QLabel>(window, "lblRunProgress");
    bool saved = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (saved || !run->text().startsWith(QStringLiteral("File 9 of"))) return;
        saved = saveWindow(window, output);
        window.stopUploadAndQuit();
    });
    watcher.start(20);
    harness.prompts.answerYesNo(true);  // a list larger than the free flash is sent all the same
    window.sendList();
    window.waitForWork();
    return saved;
}

bool stopped(MainWindow& window, test::WindowHarness& harness, printersim::Simulator& simulator,
             const QString& windowOutput, const QString& boxOutput) {
    const QStringList fonts = systemFonts();
    if (fonts.isEmpty()) return false;
    harness.prompts.answerFile(fonts.constFirst());
    window.addToList();
    window.waitForWork();
    printersim::Faults faults;
    faults.freezeToggle = true;
    simulator.printer().setFaults(faults);
    window.setToggleWaitTimeoutMs(2'000);
    harness.prompts.clear();
    window.sendList();
    window.waitForWork();
    if (harness.prompts.messages().isEmpty()) return false;
    QMessageBox box(QMessageBox::Information, APPLICATION_TITLE, harness.prompts.messages().constLast(),
                    QMessageBox::Ok);
    box.show();
    QApplication::processEvents();
    return saveWindow(window, windowOutput) && box.grab().save(boxOutput);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments().mid(1);
    const bool isProgress = arguments.size() == 2 && arguments[0] == QStringLiteral("progress");
    const bool isStopped = arguments.size() == 3 && arguments[0] == QStringLiteral("stopped");
    if (!isProgress && !isStopped) {
        std::fprintf(stderr, "usage: run_shot progress OUT.png | run_shot stopped WINDOW.png BOX.png\n");
        return 2;
    }
    const test::PrivateEnvironment environment;
    printersim::PrinterConfig config;
    config.writeBytesPerSecond = 0;
    printersim::Simulator simulator(config);
    simulator.addDevice(printersim::usbDevicePath(environment.path("devices").toStdString(), 0));
    test::WindowHarness harness(QStringLiteral(MORLIX_LIBRARY_PATH), environment.root());
    MainWindow& window = *harness.window;
    if (!harness.start()) return 1;
    test::control<QRadioButton>(window, "OptionEnableDiags")->click();
    test::control<QCheckBox>(window, "chkShowPreview")->setChecked(false);
    window.show();
    const bool saved = isProgress ? progress(window, harness, arguments[1])
                                  : stopped(window, harness, simulator, arguments[1], arguments[2]);
    return saved ? 0 : 1;
}
