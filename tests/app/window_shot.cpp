// Draws the main window for the README: a simulated USB printer found, a
// list of the sample soft fonts, the first selected and its glyph sheet in
// the preview. window_shot FONTS_FOLDER OUT.png (offscreen platform).
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

#include "app_test_support.h"
#include "file_list.h"
#include "main_window.h"
#include "preview_loader.h"
#include "preview_panel.h"
#include "simulator.h"

using namespace velquin;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_shot FONTS_FOLDER OUT.png\n");
        return 2;
    }
    const test::PrivateEnvironment environment;
    printersim::Simulator simulator;
    simulator.addDevice(printersim::usbDevicePath(environment.path("devices").toStdString(), 0));
    test::WindowHarness harness(QStringLiteral(MORLIX_LIBRARY_PATH), environment.root());
    MainWindow& window = *harness.window;
    if (!harness.start()) return 1;
    window.selectMode(LoaderMode::ModeSF);

    const QDir fonts(QString::fromLocal8Bit(argv[1]));
    const QStringList names = {QStringLiteral("helvetica-bold14.sfp"), QStringLiteral("courier10.sfp"),
                               QStringLiteral("times-bold24.sfp")};
    QStringList paths;
    for (const QString& name : names) paths << fonts.absoluteFilePath(name);
    harness.prompts.answerFile(
        test::writeFile(environment.path("fonts.SFL"), QFile::encodeName(paths.join("\r\n") + "\r\n")));
    window.getListFromFile();
    window.waitForWork();

    window.show();
    QEventLoop wait;
    QObject::connect(&test::control<PreviewPanel>(window, "previewPanel")->loader(),
                     &preview::PreviewLoader::previewReady, &wait, &QEventLoop::quit, Qt::QueuedConnection);
    QTimer::singleShot(60'000, &wait, &QEventLoop::quit);
    window.showListRow(1);
    wait.exec();
    QApplication::processEvents();
    return window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
