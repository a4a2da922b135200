// Velquin: loads fonts and images into a ticket printer's flash memory.
#include <QApplication>
#include <cstdio>
#include <memory>

#include "main_window.h"
#include "morlix_library.h"
#include "operator_prompts.h"
#include "termination_signals.h"

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

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("velquin"));

    std::unique_ptr<velquin::OperatorPrompts> prompts = makePrompts();
    velquin::MorlixLibrary library;
    library.setPrompts(prompts.get());
    velquin::MainWindow window(library, *prompts);
    if (auto* qtPrompts = dynamic_cast<velquin::QtOperatorPrompts*>(prompts.get()))
        qtPrompts->setParent(&window);

    velquin::TerminationSignals terminationSignals([&window] { window.close(); });
    if (!window.Form_Load() || window.endRequested()) return window.exitCode();
    window.show();
    const int exitCode = application.exec();
    window.Form_Unload();
    return window.endRequested() ? window.exitCode() : exitCode;
}
