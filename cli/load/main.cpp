// velquin-load: loads fonts and images into one printer or a fleet from a
// terminal or a script, through the same engine as the window.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <csignal>
#include <cstdio>

#include "apply.h"
#include "descriptor_limit.h"
#include "discover.h"
#include "fleet.h"
#include "history.h"
#include "load_options.h"
#include "output_file.h"
#include "printer_run.h"
#include "shown_text.h"

using namespace velquin::load;

namespace {

// The library's soft font converter prints its header report on standard
// output. Standard output carries only the exported bytes or a report: they
// go to a copy of it, and descriptor 1 goes to standard error while the
// library's debug channel is on (MORLIX_DEBUG), else to /dev/null.
FILE* reserveStandardOutput() {
    std::fflush(stdout);
    const int copy = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const bool debugging = !qEnvironmentVariableIsEmpty("MORLIX_DEBUG");
    const int sink =
        debugging ? ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3) : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (copy < 0 || sink < 0) return stdout;
    ::dup2(sink, STDOUT_FILENO);
    ::close(sink);
    FILE* output = ::fdopen(copy, "wb");
    return output != nullptr ? output : stdout;
}

}  // namespace

int main(int argc, char* argv[]) {
    // A reader of the output that goes away (`| head -1`) is a failed write,
    // not the end of a load in the middle of a file.
    ::signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit();
    QCoreApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("velquin-load"));
    application.setApplicationVersion(QStringLiteral(VELQUIN_VERSION));
    const QStringList arguments = application.arguments().mid(1);
    // A name that is not valid UTF-8 cannot be carried through as text: say
    // so, rather than let it pass as another file that is then not found.
    for (int index = 1; index < argc; ++index) {
        if (QFile::encodeName(QFile::decodeName(argv[index])) != QByteArray(argv[index])) {
            std::fprintf(stderr, "velquin-load: argument %d is not valid UTF-8 (%s); rename the file\n",
                         index, qPrintable(shownText(QFile::decodeName(argv[index]))));
            return 2;
        }
    }

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

    if (options.command == Command::History) return runHistory(options);
    if (options.command == Command::Discover && !options.worker) return runDiscover(options);
    if (options.command == Command::Apply && !options.worker) return runApply(options);

    if (options.command == Command::Export) {
        const QString target =
            options.output.isEmpty() ? QString::fromLatin1(velquin::STANDARD_OUTPUT_NAME) : options.output;
        FILE* output = reserveStandardOutput();
        QStringList inputs = resolveFiles(options).paths;
        if (!options.listFile.isEmpty()) inputs << options.listFile;
        QString error = velquin::outputRefusal(target, inputs);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "velquin-load: %s\n", qPrintable(shownText(error)));
            return 1;
        }
        const QByteArray bytes = exportBytes(options, error);
        if (error.isEmpty()) error = velquin::writeOutputFile(target, bytes, inputs, ::fileno(output));
        if (!error.isEmpty()) {
            std::fprintf(stderr, "velquin-load: %s\n", qPrintable(shownText(error)));
            return 1;
        }
        return 0;
    }

    // A usage problem with the files shows before any printer is touched.
    if (options.command == Command::Send && !options.worker) {
        const ResolvedFiles files = resolveFiles(options);
        if (!files.error.isEmpty()) {
            std::fprintf(stderr, "velquin-load: %s\n", qPrintable(shownText(files.error)));
            return files.nothingToSend ? 1 : 2;
        }
    }

    if (options.worker) {
        FILE* output = reserveStandardOutput();
        const QByteArray report = QJsonDocument(runOnePrinter(options)).toJson(QJsonDocument::Compact);
        std::fwrite(report.constData(), 1, static_cast<std::size_t>(report.size()), output);
        std::fflush(output);
        return 0;
    }
    return runFleet(options, arguments);
}
