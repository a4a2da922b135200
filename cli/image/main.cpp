// velquin-image INPUT OUTPUT.pcx [options]: see --help and velquin-image(1).
#include <QGuiApplication>
#include <QTextStream>
#include <cstdio>
#include <memory>

#include "image_command.h"

namespace {

QtMessageHandler qtDefaultHandler = nullptr;

// The offscreen platform's note about a missing runtime folder says nothing
// to a user of a command; everything else Qt says gets through.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))) return;
    qtDefaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const velquin::image::ImageCommand command = velquin::image::parseImageCommand(arguments);
    QTextStream out(stdout);
    QTextStream err(stderr);

    // The SVG and PDF readers need a GUI application, for fonts; a command
    // wants no display.
    std::unique_ptr<QGuiApplication> application;
    if (command.action == velquin::image::ImageCommand::Action::Convert) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        qtDefaultHandler = qInstallMessageHandler(quietHandler);
        int qtArgc = 1;
        application = std::make_unique<QGuiApplication>(qtArgc, argv);
    }
    return velquin::image::runImageCommand(command, out, err);
}
