// The window as the program runs it, on the library beside this program,
// with an operator who connects to the network printer at 127.0.0.1:PORT
// (the only argument) and, a second into the connect, closes the window and
// answers Yes to "stop it and quit?". Each prompt is written to standard
// error as it is shown. The tests of the program's end run it as a process.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "app_test_support.h"
#include "network_address_dialog.h"
#include "program_run.h"

using namespace velquin;

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 2) return 2;
    const QString port = QString::fromLocal8Bit(argv[1]);

    ScriptedOperatorPrompts prompts;
    prompts.answerYesNo(true);
    prompts.setObserver([](const ScriptedOperatorPrompts::Prompt& prompt) {
        std::fprintf(stderr, "prompt: %s\n", qPrintable(prompt.text));
    });
    MorlixLibrary library;
    library.setPrompts(&prompts);
    MainWindow window(library, prompts);

    QObject::connect(&window, &MainWindow::startUpEnded, &window, [&](bool shown) {
        if (!shown) return;
        QTimer::singleShot(0, &window, [&] {
            QTimer::singleShot(0, &window, [&] {
                NetworkAddressDialog& dialog = window.form1();
                test::typeAddress(dialog, "127", "0", "0", "1", port);
                test::control<QPushButton>(dialog, "cmdCreateSocket")->click();
                // The attempt now waits inside the library for an answer.
                QTimer::singleShot(1'000, &window, [&] { window.close(); });
            });
            window.findNetworkPrinter();
        });
    });
    return runWindow(application, window);
}
