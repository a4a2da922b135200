// Draws the main window during and after an upload, for the closing notes
// and the README (scripts/screenshot-runs.sh), against printer-sim on a
// simulated USB printer (offscreen platform):
//   run_shot progress OUT.png           a long list under way: file n of N,
//                                       elapsed and what is left
//   run_shot stopped WINDOW.png BOX.png a run timed out while the printer
//                                       wrote a file it stored all the same
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QScrollArea>
#include <QTemporaryDir>
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

// A "True Type" file of `size` bytes (the sfnt version, then filler).
QString font(const QString& path, int size, char fill) {
    return test::writeFile(path, QByteArray("\x00\x01\x00\x00", 4) + QByteArray(size - 4, fill));
}

bool progress(MainWindow& window, test::WindowHarness& harness, const test::PrivateEnvironment& environment,
              const QString& output) {
    constexpr int FILES = 24;
    for (int n = 1; n <= FILES; ++n) {
        harness.prompts.answerFile(
            font(environment.path(QStringLiteral("font%1.ttf").arg(n, 2, 10, QChar('0'))), 40'000 + n * 1'000,
                 static_cast<char>('a' + n)));
        window.addToList();
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
    window.sendList();
    window.waitForWork();
    return saved;
}

bool stopped(MainWindow& window, test::WindowHarness& harness, printersim::Simulator& simulator,
             const test::PrivateEnvironment& environment, const QString& windowOutput,
             const QString& boxOutput) {
    harness.prompts.answerFile(font(environment.path(QStringLiteral("logo-font.ttf")), 48'000, 'l'));
    window.addToList();
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
    config.writeBytesPerSecond = 100'000;
    printersim::Simulator simulator(config);
    simulator.addDevice(printersim::usbDevicePath(environment.path("devices").toStdString(), 0));
    test::WindowHarness harness(QStringLiteral(MORLIX_LIBRARY_PATH), environment.root());
    MainWindow& window = *harness.window;
    if (!harness.start()) return 1;
    test::control<QRadioButton>(window, "OptionEnableDiags")->click();
    test::control<QCheckBox>(window, "chkShowPreview")->setChecked(false);
    window.show();
    const bool saved = isProgress
                           ? progress(window, harness, environment, arguments[1])
                           : stopped(window, harness, simulator, environment, arguments[1], arguments[2]);
    return saved ? 0 : 1;
}
