// Velquin: loads fonts and images into a ticket printer's flash memory.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <memory>

#include "main_window.h"
#include "morlix_library.h"
#include "program_run.h"
#include "qt_operator_prompts.h"
#include "termination_signals.h"
#include "velquin/build_info.h"

namespace {

// With VELQUIN_UNATTENDED set (scripts, tests of the whole program) no
// dialog waits for an operator: messages are written to standard error and
// answered OK, questions are answered No, file dialogs are cancelled.
std::unique_ptr<velquin::OperatorPrompts> makePrompts() {
    if (qEnvironmentVariableIsEmpty("VELQUIN_UNATTENDED"))
        return std::make_unique<velquin::QtOperatorPrompts>();
    auto prompts = std::make_unique<velquin::ScriptedOperatorPrompts>();
    prompts->setObserver([](const velquin::ScriptedOperatorPrompts::Prompt& prompt) {
        std::fprintf(stderr, "velquin prompt: %s | %s\n", qPrintable(prompt.title), qPrintable(prompt.text));
    });
    return prompts;
}

// Answers --help and --version before any window or library exists, so
// both work without a display. Any other argument is left to Qt (-platform,
// -style and the like).
void answerInformationOptions(int argc, char* argv[]) {
    QCommandLineParser parser;
    // Qt's own options are single-dash words (-reverse, -stylesheet): read
    // as bundles of letters they would ask for the version or the help.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Loads fonts and images into the flash memory of ticket printers attached by USB, "
                       "a parallel port or TCP."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    parser.parse(arguments);
    // --help-all comes with the help option; it is answered as --help.
    const bool wantsHelp = parser.isSet(help) || parser.isSet(QStringLiteral("help-all"));
    if (!wantsHelp && !parser.isSet(version)) return;
    QCoreApplication information(argc, argv);
    if (wantsHelp) parser.showHelp(0);
    parser.showVersion();
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("velquin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELQUIN_VERSION));
    answerInformationOptions(argc, argv);

    QApplication application(argc, argv);

    std::unique_ptr<velquin::OperatorPrompts> prompts = makePrompts();
    velquin::MorlixLibrary library;
    library.setPrompts(prompts.get());
    velquin::MainWindow window(library, *prompts);
    if (auto* qtPrompts = dynamic_cast<velquin::QtOperatorPrompts*>(prompts.get()))
        qtPrompts->setParent(&window);

    velquin::TerminationSignals terminationSignals([&window] { window.close(); });
    return velquin::runWindow(application, window);
}
