// velquin-load: loads fonts and images into one printer or a fleet from a
// terminal or a script, through the same engine as the window.
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <cstdio>

#include "fleet.h"
#include "load_options.h"
#include "printer_run.h"

using namespace velquin::load;

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("velquin-load"));
    application.setApplicationVersion(QStringLiteral(VELQUIN_VERSION));
    const QStringList arguments = application.arguments().mid(1);

    const ParseResult parsed = parseCommandLine(arguments);
    switch (parsed.kind) {
        case ParseResult::Kind::Help:
            std::fputs(qPrintable(usageText()), stdout);
            return 0;
        case ParseResult::Kind::Version:
            std::printf("velquin-load %s\n", VELQUIN_VERSION);
            return 0;
        case ParseResult::Kind::UsageError:
            std::fprintf(stderr, "velquin-load: %s\n%s", qPrintable(parsed.error), qPrintable(usageText()));
            return 2;
        case ParseResult::Kind::Run:
            break;
    }
    const LoadOptions& options = parsed.options;

    if (options.command == Command::Export) {
        QString error;
        const QByteArray bytes = exportBytes(options, error);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "velquin-load: %s\n", qPrintable(error));
            return 1;
        }
        if (options.output.isEmpty()) {
            std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        QFile output(options.output);
        if (!output.open(QIODevice::WriteOnly) || output.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "velquin-load: cannot write %s\n", qPrintable(options.output));
            return 1;
        }
        return 0;
    }

    // A usage problem with the files shows before any printer is touched.
    if (options.command == Command::Send && !options.worker) {
        const ResolvedFiles files = resolveFiles(options);
        if (!files.error.isEmpty()) {
            std::fprintf(stderr, "velquin-load: %s\n", qPrintable(files.error));
            return 2;
        }
    }

    if (options.worker) {
        const QByteArray report = QJsonDocument(runOnePrinter(options)).toJson(QJsonDocument::Compact);
        std::fwrite(report.constData(), 1, static_cast<std::size_t>(report.size()), stdout);
        std::fflush(stdout);
        return 0;
    }
    return runFleet(options, arguments);
}
