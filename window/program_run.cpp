#include "program_run.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "main_window.h"

namespace velquin {

int runWindow(QApplication& application, MainWindow& window) {
    // The start-up's dialogs come from the engine thread while the event
    // loop runs; until the window shows, a start-up message closing is not
    // the last window closing.
    application.setQuitOnLastWindowClosed(false);
    QObject::connect(&window, &MainWindow::startUpEnded, &window, [&window, &application](bool showWindow) {
        if (showWindow && !window.endRequested()) {
            window.show();
            application.setQuitOnLastWindowClosed(true);
        } else {
            QCoreApplication::exit(window.exitCode());
        }
    });
    window.Form_Load();
    const int loopExitCode = application.exec();
    window.Form_Unload();
    const int exitCode = window.endRequested() ? window.exitCode() : loopExitCode;
    if (window.libraryLeftBusy()) {
        // The engine thread is still inside the library's connect: it can be
        // neither joined nor unloaded. The program's own files are written by
        // now (the mode file, the settings, each ledger write as it was made).
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}

}  // namespace velquin
