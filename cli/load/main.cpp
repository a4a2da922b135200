// velquin-load: loads fonts and images into one printer or a fleet from a
// terminal or a script, through the same engine as the window.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <optional>

#include "apply.h"
#include "descriptor_limit.h"
#include "discover.h"
#include "fleet.h"
#include "history.h"
#include "load_options.h"
#include "output_file.h"
#include "printer_run.h"
#include "shown_text.h"
#include "stand_ins.h"
#include "termination_signals.h"

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

// Files that cannot be used are a usage error (exit 2); a list that names
// none has nothing to send, a failed run (exit 1).
int fileProblem(const QString& error, bool nothingToSend) {
    std::fprintf(stderr, "velquin-load: %s\n", qPrintable(shownText(error)));
    if (nothingToSend) return 1;
    std::fprintf(stderr, "%s\n", USAGE_HINT);
    return 2;
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
    QStringList arguments = application.arguments().mid(1);
    // The files this run sends from a folder of its own, made when first needed.
    std::optional<QTemporaryDir> privateFolder;
    const auto folder = [&privateFolder] {
        if (!privateFolder)
            privateFolder.emplace(QDir::temp().filePath(QStringLiteral("velquin-load-XXXXXX")));
        return privateFolder->path();
    };
    // A name that is not valid UTF-8 cannot be carried through as text: a
    // file of that name is sent through a link; anything else is refused,
    // rather than taken for another name that is then not found.
    QMap<QString, QString> linkedNames;
    for (int index = 1; index < argc; ++index) {
        const QByteArray raw(argv[index]);
        if (QFile::encodeName(QFile::decodeName(raw)) == raw) continue;
        if (const QString link = linkToRawName(raw, folder(), QStringLiteral("argument-%1").arg(index));
            !link.isEmpty()) {
            arguments[index - 1] = link;
            linkedNames.insert(link, rawNameShown(raw));
            continue;
        }
        std::fprintf(stderr, "velquin-load: argument %d is not valid UTF-8 (%s) and names no file\n%s\n",
                     index, qPrintable(rawNameShown(raw)), USAGE_HINT);
        return 2;
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
            std::fprintf(stderr, "velquin-load: %s\n%s\n", qPrintable(shownText(parsed.error)), USAGE_HINT);
            return 2;
        case ParseResult::Kind::Run:
            break;
    }
    LoadOptions options = parsed.options;
    options.shownNames.insert(linkedNames);

    if (options.command == Command::History) return runHistory(options);
    // An interrupted search or apply says so in its status, after its report.
    const auto orSignal = [](int status) {
        const int signal = velquin::TerminationSignals::lastReceived();
        return signal != 0 ? 128 + signal : status;
    };
    if (options.command == Command::Discover && !options.worker) return orSignal(runDiscover(options));
    if (options.command == Command::Apply && !options.worker) return orSignal(runApply(options));

    // A file or a list on standard input is read once, here, for every printer.
    const bool takesFiles = options.command == Command::Send || options.command == Command::Export;
    if (takesFiles && !options.worker &&
        (options.listFile == QLatin1String("-") || options.files.contains(QStringLiteral("-")))) {
        const StandardInputTaken taken = takeStandardInput(options, folder());
        if (!taken.error.isEmpty()) return fileProblem(taken.error, taken.nothingToSend);
    }
    if (takesFiles && !options.worker && !options.listFile.isEmpty()) {
        const StandardInputTaken taken = takeRawListNames(options, folder);
        if (!taken.error.isEmpty()) return fileProblem(taken.error, taken.nothingToSend);
    }

    if (options.command == Command::Export) {
        const bool toStandardOutput = options.output.isEmpty() || options.output == QLatin1String("-");
        const QString target =
            toStandardOutput ? QString::fromLatin1(velquin::STANDARD_OUTPUT_NAME) : options.output;
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
        if (!files.error.isEmpty()) return fileProblem(files.error, files.nothingToSend);
    }

    if (options.worker) {
        FILE* output = reserveStandardOutput();
        const QByteArray report = QJsonDocument(runOnePrinter(options)).toJson(QJsonDocument::Compact);
        std::fwrite(report.constData(), 1, static_cast<std::size_t>(report.size()), output);
        std::fflush(output);
        return 0;
    }
    return runFleet(options);
}
