// velquin-load as a program against several printer-sim printers on
// 127.0.0.1: a fleet send, a printer that drops its connection mid-file,
// the JSON report, export against what a printer receives, usage errors and
// the printer lock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

#include "load_cli_support.h"
#include "printer_lock.h"
#include "simulator.h"

namespace {

using velquin::test::LoadRun;
using velquin::test::runLoad;
using velquin::test::writeFont;

QByteArray readAll(const std::filesystem::path& path) {
    QFile file(QString::fromStdString(path.string()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The example document the man page shows for a command: the lines between
// ".nf" and ".fi" after the comment "json-example COMMAND".
QJsonValue manPageExample(const QString& command) {
    QFile page(QStringLiteral(VELQUIN_LOAD_MAN_PAGE));
    if (!page.open(QIODevice::ReadOnly)) return {};
    const QStringList lines = QString::fromUtf8(page.readAll()).split(QLatin1Char('\n'));
    const qsizetype marker = lines.indexOf(QStringLiteral(".\\\" json-example ") + command);
    const qsizetype begin = lines.indexOf(QStringLiteral(".nf"), marker);
    const qsizetype end = lines.indexOf(QStringLiteral(".fi"), begin);
    if (marker < 0 || begin < 0 || end < 0) return {};
    QString text = lines.mid(begin + 1, end - begin - 1).join(QLatin1Char(' '));
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// Where `run` differs in shape (keys and types) from `example`; empty when
// it has the example's shape. Null stands for any type (a value not known);
// an array's items each have the shape of one of the example's items; a
// report leaves out "message", "skipped" and "verification" without
// --skip-loaded, and apply's "would_send" without --check and
// "verification_message" once verified.
QString shapeMismatch(const QJsonValue& run, const QJsonValue& example, const QString& at) {
    if (run.isNull() || example.isNull()) return {};
    if (run.type() != example.type()) return at + QStringLiteral(": type");
    if (run.isArray()) {
        const QJsonArray shapes = example.toArray();
        if (shapes.isEmpty()) return {};
        for (const QJsonValue& item : run.toArray()) {
            QString mismatch = at + QStringLiteral("[]: no example item of its shape");
            for (const QJsonValue& shape : shapes)
                if (shapeMismatch(item, shape, at + QStringLiteral("[]")).isEmpty()) mismatch.clear();
            if (!mismatch.isEmpty()) return mismatch;
        }
        return {};
    }
    if (!run.isObject()) return {};
    const QJsonObject got = run.toObject();
    const QJsonObject shape = example.toObject();
    for (auto field = got.begin(); field != got.end(); ++field) {
        if (!shape.contains(field.key()))
            return at + QLatin1Char('.') + field.key() + QStringLiteral(": not shown");
        const QString mismatch =
            shapeMismatch(field.value(), shape[field.key()], at + QLatin1Char('.') + field.key());
        if (!mismatch.isEmpty()) return mismatch;
    }
    for (const QString& key : shape.keys())
        if (!got.contains(key) &&
            !QStringList{QStringLiteral("message"), QStringLiteral("skipped"), QStringLiteral("verification"),
                         QStringLiteral("would_send"), QStringLiteral("verification_message")}
                 .contains(key))
            return at + QLatin1Char('.') + key + QStringLiteral(": missing");
    return {};
}

class LoadCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        qputenv("XDG_RUNTIME_DIR", dir_.path().toLocal8Bit());  // locks of this test only
        qputenv("XDG_DATA_HOME", (dir_.path() + QStringLiteral("/data")).toLocal8Bit());  // and its ledger
        files_ = {writeFont(dir_.path(), QStringLiteral("a.ttf"), 20'000, 1),
                  writeFont(dir_.path(), QStringLiteral("b.ttf"), 40, 2),
                  writeFont(dir_.path(), QStringLiteral("c.ttf"), 40'000, 3)};
    }

    printersim::Simulator& addPrinter(const printersim::Faults& faults = {},
                                      std::uint64_t writeBytesPerSecond = 50'000'000) {
        printersim::PrinterConfig config;
        config.writeBytesPerSecond = writeBytesPerSecond;
        config.journalFolder =
            (dir_.path() + QStringLiteral("/journal%1").arg(printers_.size())).toStdString();
        auto& simulator = *printers_.emplace_back(std::make_unique<printersim::Simulator>(config));
        simulator.printer().setFaults(faults);
        simulator.listenTcp();
        return simulator;
    }

    QStringList printerArguments() const {
        QStringList arguments;
        for (const auto& simulator : printers_)
            arguments << QStringLiteral("--printer")
                      << QStringLiteral("tcp:127.0.0.1:%1").arg(simulator->port());
        return arguments;
    }

    // The bytes a printer received as files: each file's header, then the file.
    static QByteArray receivedStream(printersim::Simulator& simulator) {
        QByteArray stream;
        for (const auto& entry : simulator.printer().journal())
            stream += QByteArray::fromStdString(entry.text) + readAll(entry.file);
        return stream;
    }

    void expectJournalHoldsFiles(printersim::Simulator& simulator) {
        const auto journal = simulator.printer().journal();
        ASSERT_EQ(journal.size(), static_cast<std::size_t>(files_.size()));
        for (qsizetype i = 0; i < files_.size(); ++i) {
            QFile file(files_[i]);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const QByteArray sha =
                QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
            EXPECT_EQ(journal[i].kind, printersim::EntryKind::TrueType);
            EXPECT_EQ(journal[i].sha256, sha.toStdString()) << "file " << i;
        }
    }

    QTemporaryDir dir_;
    QStringList files_;
    std::vector<std::unique_ptr<printersim::Simulator>> printers_;
};

TEST_F(LoadCliTest, SendsTheListToThreePrintersByteExactWithAReport) {
    for (int i = 0; i < 3; ++i) addPrinter();
    const LoadRun run = runLoad(QStringList{QStringLiteral("send")} + files_ + printerArguments() +
                                QStringList{QStringLiteral("--json")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    for (auto& simulator : printers_) expectJournalHoldsFiles(*simulator);

    const QJsonArray reports = run.json()[QStringLiteral("printers")].toArray();
    ASSERT_EQ(reports.size(), 3);
    for (qsizetype p = 0; p < reports.size(); ++p) {
        const QJsonObject report = reports[p].toObject();
        EXPECT_EQ(report[QStringLiteral("printer")].toString(),
                  QStringLiteral("tcp:127.0.0.1:%1").arg(printers_[static_cast<std::size_t>(p)]->port()));
        EXPECT_EQ(report[QStringLiteral("outcome")].toString(), QStringLiteral("completed"));
        // The verdict comes with its reasons.
        const QJsonObject identity = report[QStringLiteral("identity")].toObject();
        EXPECT_EQ(identity[QStringLiteral("suitable")].toBool(),
                  identity[QStringLiteral("reasons")].toArray().isEmpty());
        EXPECT_EQ(identity[QStringLiteral("firmware_version")].toString(), QStringLiteral("5.07"));
        const QJsonArray files = report[QStringLiteral("files")].toArray();
        ASSERT_EQ(files.size(), files_.size());
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QJsonObject file = files[i].toObject();
            const qint64 size = QFileInfo(files_[i]).size();
            EXPECT_EQ(file[QStringLiteral("path")].toString(), files_[i]);
            EXPECT_EQ(file[QStringLiteral("size")].toInteger(), size);
            // The header "<ttfN>" and the file.
            EXPECT_EQ(file[QStringLiteral("bytes_sent")].toInteger(),
                      size + 5 + QByteArray::number(size).size());
            EXPECT_EQ(file[QStringLiteral("outcome")].toString(), QStringLiteral("completed"));
            EXPECT_GT(file[QStringLiteral("seconds")].toDouble(), 0.0);
            EXPECT_GE(file[QStringLiteral("free_flash_before")].toInteger() -
                          file[QStringLiteral("free_flash_after")].toInteger(),
                      size);
        }
    }
    // On a pipe each file's end is told as it happens, before the last file's flash write.
    QStringList lines;
    for (const QString& line : QString::fromUtf8(run.err).split(QLatin1Char('\n')))
        if (line.contains(QStringLiteral("tcp:127.0.0.1:%1: ").arg(printers_[0]->port()))) lines << line;
    const auto at = [&lines](const QString& file, const char* state) {
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].contains(file) && lines[i].endsWith(QLatin1String(state))) return i;
        return qsizetype{-1};
    };
    EXPECT_GE(at(files_[0], "completed"), 0) << run.err.toStdString();
    EXPECT_LT(at(files_[0], "completed"), at(files_[2], "flash-writing")) << run.err.toStdString();

    // Quiet: the summary lines only.
    const LoadRun quiet =
        runLoad(QStringList{QStringLiteral("send"), QStringLiteral("-q")} + files_ + printerArguments());
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.err, QByteArray());
    EXPECT_EQ(quiet.out.count('\n'), 3) << quiet.out.toStdString();
}

TEST_F(LoadCliTest, APrinterClosingMidFileFailsAloneAndExportMatchesTheStream) {
    addPrinter();
    printersim::Faults closing;
    closing.closeMidFile = true;
    addPrinter(closing);
    addPrinter();
    const LoadRun run = runLoad(QStringList{QStringLiteral("send")} + files_ + printerArguments() +
                                QStringList{QStringLiteral("--json")});
    EXPECT_EQ(run.exitCode, 1);
    const QJsonArray reports = run.json()[QStringLiteral("printers")].toArray();
    ASSERT_EQ(reports.size(), 3);
    EXPECT_EQ(reports[0].toObject()[QStringLiteral("outcome")].toString(), QStringLiteral("completed"));
    EXPECT_EQ(reports[1].toObject()[QStringLiteral("outcome")].toString(), QStringLiteral("printer-gone"));
    EXPECT_EQ(reports[2].toObject()[QStringLiteral("outcome")].toString(), QStringLiteral("completed"));
    expectJournalHoldsFiles(*printers_[0]);
    expectJournalHoldsFiles(*printers_[2]);
    // The ledger does not count the cut file as held.
    const LoadRun history = runLoad({QStringLiteral("history"), QStringLiteral("--printer"),
                                     printerArguments()[3], QStringLiteral("--json")});
    const QJsonArray loads =
        history.json()[QStringLiteral("printers")][0][QStringLiteral("history")].toArray();
    ASSERT_FALSE(loads.isEmpty()) << history.err.toStdString();
    EXPECT_EQ(loads[0][QStringLiteral("outcome")].toString(), QStringLiteral("not confirmed"))
        << history.out.toStdString();

    const LoadRun exported = runLoad(QStringList{QStringLiteral("export")} + files_);
    ASSERT_EQ(exported.exitCode, 0) << exported.err.toStdString();
    EXPECT_EQ(exported.out, receivedStream(*printers_[0]));
}

TEST_F(LoadCliTest, ASoftFontExportIsExactlyTheConvertedFile) {
    // The converter prints a report on standard output; none of it may
    // reach the exported bytes.
    const QString font = dir_.path() + QStringLiteral("/courier10.sfp");
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELQUIN_SAMPLE_FONTS "/courier10.sfp"), font));
    const LoadRun exported = runLoad({QStringLiteral("export"), font});
    ASSERT_EQ(exported.exitCode, 0) << exported.err.toStdString();
    const QByteArray converted = readAll((dir_.path() + QStringLiteral("/courier10.QKS")).toStdString());
    ASSERT_FALSE(converted.isEmpty());
    EXPECT_EQ(exported.out, converted);

    // Nor may it reach standard output when the export goes to a file.
    const QString output = dir_.path() + QStringLiteral("/exported.bin");
    const LoadRun toFile = runLoad({QStringLiteral("export"), font, QStringLiteral("--output"), output});
    ASSERT_EQ(toFile.exitCode, 0) << toFile.err.toStdString();
    EXPECT_EQ(toFile.out, QByteArray());
    EXPECT_EQ(readAll(output.toStdString()), converted);
}

// Export's output is written whole or not at all: never over an input or
// anything but a regular file, a write error (a full disk, a full standard
// output) fails with its reason and leaves the old file as it was.
TEST_F(LoadCliTest, ExportOutputIsWrittenWholeOrNotAtAll) {
    const QByteArray first = readAll(files_[0].toStdString());
    const QString written = dir_.path() + QStringLiteral("/export.bin");
    const QString disk = dir_.path() + QStringLiteral("/disk");
    ASSERT_TRUE(QDir().mkdir(disk));
    const QStringList exportAll = QStringList{QStringLiteral("export")} + files_;
    // In a mount namespace of its own, on a 48 KiB tmpfs holding an old export.
    const QString fullDisk = QStringLiteral(
        "mount -t tmpfs -o size=48k velquin-test \"$1\" || exit 77\n"
        "printf old > \"$1/out\"\n"
        "\"$2\" export \"$3\" \"$4\" --output \"$1/out\"; status=$?\n"
        "echo \"status $status content $(cat \"$1/out\") files $(ls \"$1\" | wc -l)\"");
    struct Case {
        const char* name;
        QString program;
        QStringList arguments;
        QString standardOutput;  // a file standard output goes to; empty: a pipe
        int status;
        const char* says;  // on standard error
    };
    const Case cases[] = {
        {"an input as output",
         VELQUIN_LOAD_PATH,
         exportAll + QStringList{"--output", files_[0]},
         {},
         1,
         "is the input"},
        {"a device as output",
         VELQUIN_LOAD_PATH,
         exportAll + QStringList{"--output", "/dev/null"},
         {},
         1,
         "not a regular file"},
        {"a full standard output", VELQUIN_LOAD_PATH, exportAll, "/dev/full", 1, "No space left on device"},
        {"a file", VELQUIN_LOAD_PATH, exportAll + QStringList{"--output", written}, {}, 0, ""},
        {"a full disk",
         "unshare",
         {"--mount", "sh", "-c", fullDisk, "sh", disk, VELQUIN_LOAD_PATH, files_[0], files_[2]},
         {},
         0,
         "No space left on device"},
    };
    for (const Case& c : cases) {
        QProcess process;
        if (!c.standardOutput.isEmpty()) process.setStandardOutputFile(c.standardOutput);
        process.start(c.program, c.arguments);
        ASSERT_TRUE(process.waitForFinished(60'000)) << c.name;
        const QByteArray errors = process.readAllStandardError();
        if (c.program == QLatin1String("unshare") && process.exitCode() != 0) {
            std::cout << "no private tmpfs here, the full disk is not tried: " << errors.toStdString();
            continue;
        }
        EXPECT_EQ(process.exitCode(), c.status) << c.name << ": " << errors.toStdString();
        EXPECT_TRUE(errors.contains(c.says)) << c.name << ": " << errors.toStdString();
        if (c.program == QLatin1String("unshare")) {
            EXPECT_EQ(process.readAllStandardOutput().trimmed(), "status 1 content old files 1");
        }
    }
    EXPECT_EQ(readAll(files_[0].toStdString()), first);
    EXPECT_EQ(readAll(written.toStdString()), runLoad(exportAll).out);
}

// A soft font in a folder that cannot take the converted file (read-only:
// a bind mount in a private mount namespace as root, the mode bits
// otherwise) is converted in the cache folder and exported all the same.
TEST_F(LoadCliTest, ASoftFontInAReadOnlyFolderIsConvertedInTheCache) {
    const QString folder = dir_.path() + QStringLiteral("/fonts");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString font = folder + QStringLiteral("/courier10.sfp");
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELQUIN_SAMPLE_FONTS "/courier10.sfp"), font));
    const LoadRun writable = runLoad({QStringLiteral("export"), font});
    ASSERT_EQ(writable.exitCode, 0) << writable.err.toStdString();
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/courier10.QKS")));
    qputenv("XDG_CACHE_HOME", (dir_.path() + QStringLiteral("/cache")).toLocal8Bit());

    QStringList command{QStringLiteral(VELQUIN_LOAD_PATH), QStringLiteral("export"), font};
    if (geteuid() == 0) {
        command =
            QStringList{QStringLiteral("unshare"),
                        QStringLiteral("-m"),
                        QStringLiteral("sh"),
                        QStringLiteral("-c"),
                        QStringLiteral("mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" && "
                                       "shift && exec \"$@\""),
                        QStringLiteral("sh"),
                        folder} +
            command;
    } else {
        ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    QProcess process;
    process.start(command.takeFirst(), command);
    ASSERT_TRUE(process.waitForFinished(60'000));
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(process.readAllStandardOutput(), writable.out);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/courier10.QKS")));
}

// A file the converter cannot load is refused with the cause behind the
// converter's message.
TEST_F(LoadCliTest, AFontThatDoesNotConvertSaysWhy) {
    QFile noise(dir_.path() + QStringLiteral("/x.sfp"));
    ASSERT_TRUE(noise.open(QIODevice::WriteOnly));
    noise.write(QByteArray(3000, '\x5a'));
    noise.close();
    const struct {
        QString font;
        const char* cause;
    } cases[] = {
        {noise.fileName(), "Soft font file not found (no soft font header in the file)"},
        {QStringLiteral("/etc/hostname"), "Soft font file not found (no soft font header in the file)"}};
    for (const auto& c : cases) {
        const LoadRun run =
            runLoad({QStringLiteral("export"), QStringLiteral("--mode"), QStringLiteral("softfont"), c.font});
        EXPECT_NE(run.exitCode, 0) << c.font.toStdString();
        EXPECT_TRUE(run.err.contains(c.cause)) << run.err.toStdString();
    }
}

// The command line as a script writer meets it: an error is one line and a
// hint (exit 2), options take "--opt=value", "--" ends them, "-" is standard
// input, and a file is refused by what is wrong with it.
TEST_F(LoadCliTest, UsageIsOneLineAndTheUnixConventionsHold) {
    const QString file = files_[0];
    const QString missing = dir_.path() + QStringLiteral("/missing.ttf");
    const QString dashed = dir_.path() + QStringLiteral("/-x.ttf");
    ASSERT_TRUE(QFile::copy(files_[1], dashed));
    const QString list = dir_.path() + QStringLiteral("/fonts.TFL");
    {
        QFile listFile(list);
        ASSERT_TRUE(listFile.open(QIODevice::WriteOnly));
        listFile.write("b.ttf\r\n");  // beside the list, wherever the run starts
    }
    const QStringList local{QStringLiteral("--printer"), QStringLiteral("local")};
    struct Case {
        QStringList arguments;
        QByteArray input;  // standard input
        int exitCode;
        const char* firstLine;  // a fragment of standard error's first line; "" for none
    };
    const Case cases[] = {
        {{}, {}, 2, "no command given"},
        {{"load"}, {}, 2, "unknown command \"load\""},
        {{"send", file}, {}, 2, "no --printer given"},
        {{"send", "--printer"}, {}, 2, "--printer needs a value"},
        {{"send", file, "--printer=usb:1"}, {}, 2, "bad printer \"usb:1\""},
        {{"send", file, "--printer", "tcp:127.0.0.1:70000"}, {}, 2, "bad printer"},
        {{"send", file, "--printer", "tcp:127.0.0.+1"}, {}, 2, "bad printer"},
        {QStringList{"send", file, "--mode=bmp"} + local, {}, 2, "bad mode \"bmp\""},
        {QStringList{"send", file, "--jobs", "0"} + local, {}, 2, "bad --jobs"},
        {QStringList{"send", file, "--timeout", "0"} + local, {}, 2, "bad --timeout"},
        {QStringList{"send", file, missing} + local, {}, 2, "missing.ttf: No such file or directory"},
        {QStringList{"send", "--mode", "pcx", file} + local, {}, 2, "a.ttf is a ttf file, not pcx"},
        {QStringList{"send", file, "-", "-"} + local, {}, 2, "standard input (-) can be given once"},
        {QStringList{"status", "--skip-loaded"} + local, {}, 2, "--skip-loaded belongs to send, not status"},
        {QStringList{"status", "--bogus"} + local, {}, 2, "unknown option \"--bogus\""},
        {{"export", file, "--printer", "local"}, {}, 2, "--printer belongs to"},
        {{"ticket", "6", "--mode", "ttf", "--printer", "local"}, {}, 2, "bad ticket \"6\""},
        {{"ticket", "1", "--printer", "local"}, {}, 2, "ticket needs --mode"},
        {{"history"}, {}, 2, "history needs --printer"},
        // What a script may write, and what it gets.
        {{"export", "--mode=ttf", "-q", "--", dashed}, {}, 0, ""},
        {{"export", "-"}, readAll(file.toStdString()), 0, ""},
        {{"export", "--list", "-"}, file.toUtf8() + "\n", 0, ""},
        {{"export", "--list", list}, {}, 0, ""},
        {{"export", "--mode", "pcx", "--mode=ttf", file, "--output", "-"}, {}, 0, ""},  // the last counts
        {{"send", "--list", "-", "--printer", "local"}, "\r\n \n", 1, "nothing to send"},
    };
    for (const Case& c : cases) {
        const std::string shown = c.arguments.join(' ').toStdString();
        QProcess process;
        process.start(QStringLiteral(VELQUIN_LOAD_PATH), c.arguments);
        process.write(c.input);
        process.closeWriteChannel();
        ASSERT_TRUE(process.waitForFinished(30'000)) << shown;
        const QList<QByteArray> lines = process.readAllStandardError().split('\n');
        EXPECT_EQ(process.exitCode(), c.exitCode) << shown << ": " << lines.first().toStdString();
        if (c.exitCode == 0) {
            EXPECT_EQ(lines.first(), "") << shown;  // export tells nothing but its errors
            continue;
        }
        EXPECT_TRUE(lines.first().startsWith("velquin-load: ")) << shown;
        EXPECT_TRUE(lines.first().contains(c.firstLine)) << shown << ": " << lines.first().toStdString();
        if (c.exitCode == 2) {
            ASSERT_GE(lines.size(), 2) << shown;
            EXPECT_EQ(lines[1], "Try 'velquin-load --help' for more information.") << shown;
            EXPECT_LE(lines.size(), 3) << shown;  // not the whole help
        }
    }
    const LoadRun help = runLoad({QStringLiteral("send"), QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* status : {"  0  ", "  1  ", "  2  ", "  130, 143  "})
        EXPECT_TRUE(help.out.contains(status)) << status;
    // A history that matches nothing is still a report.
    const LoadRun history = runLoad(
        {QStringLiteral("history"), QStringLiteral("--printer=tcp:127.0.0.1:1"), QStringLiteral("--json")});
    EXPECT_EQ(history.exitCode, 1);
    EXPECT_EQ(history.json(),
              (QJsonObject{{QStringLiteral("schema"), 1}, {QStringLiteral("printers"), QJsonArray()}}));
}

// Each way a send can end says what happened: a printer that cannot be
// reached (the system's reason) is not one that took the connection and
// never answered, garbage is not "busy", a frozen flash write is given up
// after --timeout with the wait shown, and a signal is a stop by it (exit
// 128 + the signal, after the report).
TEST_F(LoadCliTest, EachOutcomeSaysWhatHappened) {
    struct Case {
        const char* name;
        printersim::Faults faults;
        std::uint64_t writeBytesPerSecond;
        QStringList extra;
        int signal;  // sent once the printer has the first bytes; 0: none
        int exitCode;
        const char* outcome;
        const char* message;
        const char* logged;  // in the --log json events
    };
    printersim::Faults closing, garbage, busy, frozen;
    closing.closeOnAccept = true;
    garbage.garbageReplies = true;
    busy.stayBusy = true;
    frozen.freezeToggle = true;
    const Case cases[] = {
        {"nothing listens", {}, 0, {}, 0, 1, "connect-failed", "Connection refused", ""},
        {"closes at once",
         closing,
         50'000'000,
         {},
         0,
         1,
         "no-answer",
         "took the connection but did not answer",
         ""},
        {"garbage", garbage, 50'000'000, {}, 0, 1, "bad-replies", "not understood", ""},
        {"busy", busy, 50'000'000, {}, 0, 1, "printer-busy", "busy", ""},
        {"frozen toggle",
         frozen,
         50'000'000,
         {"--timeout", "1"},
         0,
         1,
         "timed-out",
         "1 s",
         "\"limit_ms\":1000"},
        {"SIGTERM", {}, 20'000, {}, SIGTERM, 128 + SIGTERM, "stopped", "stopped by SIGTERM", ""},
        {"Ctrl-C", {}, 20'000, {}, SIGINT, 128 + SIGINT, "stopped", "interrupted by Ctrl-C", ""},
    };
    for (const Case& c : cases) {
        printers_.clear();
        QString printer = QStringLiteral("tcp:127.0.0.1:%1");
        if (c.writeBytesPerSecond == 0) {
            // A port that was just free: nothing listens there.
            printer = printer.arg(addPrinter().port());
            printers_.clear();
        } else {
            printer = printer.arg(addPrinter(c.faults, c.writeBytesPerSecond).port());
        }
        QProcess process;
        process.start(
            QStringLiteral(VELQUIN_LOAD_PATH),
            QStringList{QStringLiteral("send"), files_[0], files_[2], QStringLiteral("--printer"), printer,
                        QStringLiteral("--json"), QStringLiteral("--log"), QStringLiteral("json")} +
                c.extra);
        ASSERT_TRUE(process.waitForStarted()) << c.name;
        if (c.signal != 0) {
            process.setReadChannel(QProcess::StandardError);
            QByteArray events;
            while (!events.contains("\"sending\"") && process.waitForReadyRead(10'000))
                events += process.readAllStandardError();
            ::kill(static_cast<pid_t>(process.processId()), c.signal);
        }
        ASSERT_TRUE(process.waitForFinished(60'000)) << c.name;
        const QByteArray events = process.readAllStandardError();
        const QJsonObject report =
            QJsonDocument::fromJson(process.readAllStandardOutput())[QStringLiteral("printers")][0]
                .toObject();
        EXPECT_EQ(process.exitCode(), c.exitCode) << c.name;
        EXPECT_EQ(report[QStringLiteral("outcome")].toString().toStdString(), c.outcome) << c.name;
        EXPECT_TRUE(report[QStringLiteral("message")].toString().contains(QLatin1String(c.message)))
            << c.name << ": " << report[QStringLiteral("message")].toString().toStdString();
        EXPECT_TRUE(events.contains(c.logged)) << c.name << ": " << events.toStdString();
        EXPECT_FALSE(events.contains("not ready entry")) << c.name;
        EXPECT_FALSE(events.contains("stopped taking data")) << c.name;
    }
}

TEST_F(LoadCliTest, SkipLoadedSendsOnlyWhatTheLedgerDoesNotShowSinceTheLastErase) {
    auto& simulator = addPrinter();
    const QString printer = printerArguments()[1];
    auto send = [&](const QStringList& files) {
        return runLoad(QStringList{QStringLiteral("send")} + files +
                       QStringList{QStringLiteral("--printer"), printer, QStringLiteral("--skip-loaded"),
                                   QStringLiteral("--json")});
    };
    ASSERT_EQ(send({files_[0]}).exitCode, 0);
    const LoadRun run = send(files_);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject report = run.json()[QStringLiteral("printers")].toArray()[0].toObject();
    EXPECT_EQ(report[QStringLiteral("skipped")].toArray(), QJsonArray{files_[0]});
    EXPECT_EQ(report[QStringLiteral("files")].toArray().size(), 2);
    EXPECT_TRUE(run.err.contains(("Skipped " + files_[0]).toUtf8())) << run.err.toStdString();
    // Each file reached the printer once.
    expectJournalHoldsFiles(simulator);

    // After an erase nothing is held any more.
    ASSERT_EQ(
        runLoad({QStringLiteral("erase"), QStringLiteral("--printer"), printer, QStringLiteral("--yes")})
            .exitCode,
        0);
    const LoadRun again = send({files_[0]});
    EXPECT_TRUE(again.json()[QStringLiteral("printers")][0][QStringLiteral("skipped")].toArray().isEmpty());
    const auto journal = simulator.printer().journal();
    ASSERT_EQ(journal.size(), 5u);  // the erase is an entry too
    EXPECT_EQ(journal.back().kind, printersim::EntryKind::TrueType);
}

// The ledger of this workstation is believed only while the printer's free
// flash agrees with it: an erase or a load from another workstation (another
// ledger), or another printer at the address, makes every file go out again.
TEST_F(LoadCliTest, SkipLoadedVerifiesTheLedgerWithThePrinter) {
    enum class Change { ErasedElsewhere, LoadedElsewhereEraseIfChanged, PrinterSwapped };
    struct Case {
        Change change;
        const char* verification;
        std::size_t journalAfter;  // entries of the printer that got the last send
    };
    // Entries: the first load, the change (an erase, a load, or none on
    // another printer), the erase of --erase-if-changed, the load again.
    for (const Case& c : {Case{Change::ErasedElsewhere, "stale", 1 + 1 + 1},
                          Case{Change::LoadedElsewhereEraseIfChanged, "stale", 1 + 1 + 1 + 1},
                          Case{Change::PrinterSwapped, "other-printer", 1}}) {
        printers_.clear();
        const QString ledgerHome = dir_.path() + QStringLiteral("/ledger%1").arg(static_cast<int>(c.change));
        const QString elsewhere = ledgerHome + QStringLiteral("-elsewhere");
        auto* simulator = &addPrinter();
        const QString printer = printerArguments()[1];
        const QString file = files_[1];
        QStringList send = {QStringLiteral("send"),          file,
                            QStringLiteral("--printer"),     printer,
                            QStringLiteral("--skip-loaded"), QStringLiteral("--json")};
        ASSERT_EQ(runLoad({QStringLiteral("send"), file, QStringLiteral("--printer"), printer}, ledgerHome)
                      .exitCode,
                  0);
        switch (c.change) {
            case Change::ErasedElsewhere:
                ASSERT_EQ(runLoad({QStringLiteral("erase"), QStringLiteral("--printer"), printer,
                                   QStringLiteral("--yes")},
                                  elsewhere)
                              .exitCode,
                          0);
                break;
            case Change::LoadedElsewhereEraseIfChanged:
                ASSERT_EQ(
                    runLoad({QStringLiteral("send"), file, QStringLiteral("--printer"), printer}, elsewhere)
                        .exitCode,
                    0);
                send << QStringLiteral("--erase-if-changed");
                break;
            case Change::PrinterSwapped: {
                const std::uint16_t port = simulator->port();
                printers_.clear();
                printersim::PrinterConfig config;
                config.identity = "MFG:Ticket printer;CMD:KTL;MDL:RVA 300;FWV:5.09;";
                simulator = printers_.emplace_back(std::make_unique<printersim::Simulator>(config)).get();
                simulator->listenTcp(port);
                break;
            }
        }
        const LoadRun run = runLoad(send, ledgerHome);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QJsonObject report = run.json()[QStringLiteral("printers")][0].toObject();
        EXPECT_EQ(report[QStringLiteral("verification")].toString(), QLatin1String(c.verification));
        EXPECT_TRUE(report[QStringLiteral("skipped")].toArray().isEmpty());
        EXPECT_EQ(report[QStringLiteral("files")].toArray().size(), 1);
        EXPECT_EQ(simulator->printer().journal().size(), c.journalAfter);
        EXPECT_EQ(simulator->printer().journal().back().kind, printersim::EntryKind::TrueType);
        // Now the record agrees with the printer: nothing goes out again.
        const LoadRun again = runLoad(send, ledgerHome);
        EXPECT_EQ(again.json()[QStringLiteral("printers")][0][QStringLiteral("verification")].toString(),
                  QStringLiteral("verified"));
        EXPECT_EQ(simulator->printer().journal().size(), c.journalAfter);
    }
}

TEST_F(LoadCliTest, HistoryListsLoadsAndErasesNewestFirst) {
    addPrinter();
    const QString printer = printerArguments()[1];
    ASSERT_EQ(runLoad({QStringLiteral("send"), files_[0], QStringLiteral("--printer"), printer}).exitCode, 0);
    ASSERT_EQ(
        runLoad({QStringLiteral("erase"), QStringLiteral("--printer"), printer, QStringLiteral("--yes")})
            .exitCode,
        0);
    ASSERT_EQ(runLoad({QStringLiteral("send"), files_[2], QStringLiteral("--printer"), printer}).exitCode, 0);

    const LoadRun run =
        runLoad({QStringLiteral("history"), QStringLiteral("--printer"), printer, QStringLiteral("--json")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonArray printers = run.json()[QStringLiteral("printers")].toArray();
    ASSERT_EQ(printers.size(), 1);
    EXPECT_EQ(printers[0][QStringLiteral("link")].toString(), printer.mid(4));
    const QJsonArray history = printers[0][QStringLiteral("history")].toArray();
    ASSERT_EQ(history.size(), 3);
    EXPECT_EQ(history[1][QStringLiteral("kind")].toString(), QStringLiteral("erase"));
    struct Expected {
        int entry;
        int file;
        bool erased;
    };
    for (const Expected& expected : {Expected{0, 2, false}, Expected{2, 0, true}}) {
        const QJsonObject load = history[expected.entry].toObject();
        QFile file(files_[expected.file]);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_EQ(load[QStringLiteral("path")].toString(), files_[expected.file]);
        EXPECT_EQ(load[QStringLiteral("mode")].toString(), QStringLiteral("ttf"));
        EXPECT_EQ(load[QStringLiteral("sha256")].toString().toLatin1(),
                  QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        EXPECT_EQ(load[QStringLiteral("size")].toInteger(), bytes.size());
        EXPECT_EQ(load[QStringLiteral("outcome")].toString(), QStringLiteral("confirmed"));
        EXPECT_EQ(load[QStringLiteral("erased")].toBool(), expected.erased);
        EXPECT_GT(load[QStringLiteral("free_before")].toInteger(),
                  load[QStringLiteral("free_after")].toInteger());
    }
    // The identity finds it too; an unknown printer is an error.
    EXPECT_EQ(runLoad({QStringLiteral("history"), QStringLiteral("--printer"), QStringLiteral("board mxr")})
                  .exitCode,
              0);
    EXPECT_EQ(
        runLoad({QStringLiteral("history"), QStringLiteral("--printer"), QStringLiteral("tcp:127.0.0.1:1")})
            .exitCode,
        1);
}

TEST_F(LoadCliTest, AMixOfKindsIsRefusedNamingTheOddFile) {
    const QString pcx = dir_.path() + QStringLiteral("/odd.pcx");
    QFile file(pcx);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x0a\x05\x01\x08", 4) + QByteArray(200, '\0'));
    file.close();
    const LoadRun run = runLoad({QStringLiteral("send"), files_[0], pcx, QStringLiteral("--printer"),
                                 QStringLiteral("tcp:127.0.0.1:1")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(pcx.toLocal8Bit())) << run.err.toStdString();
}

TEST_F(LoadCliTest, FilesThatCannotBeReadAsTheirKindAreRefusedBeforeAnyPrinter) {
    auto& simulator = addPrinter();
    QFile font(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"));
    ASSERT_TRUE(font.open(QIODevice::ReadOnly));
    QByteArray huge = velquin::testing::pcxFile(400, 1);
    huge[8] = huge[10] = static_cast<char>(59'999 & 0xFF);
    huge[9] = huge[11] = static_cast<char>(59'999 >> 8);
    const struct {
        const char* name;
        QByteArray bytes;
        const char* reason;
    } cases[] = {
        {"huge.pcx", huge, "The PCX picture is 60000 x 60000 dots"},
        {"short.pcx", velquin::testing::pcxFile(4'000, 1).left(2'000), "The PCX picture data ends early"},
        {"cut.ttf", font.read(5'000), "The font is cut short"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.name);
        const QString path = dir_.path() + QLatin1Char('/') + QLatin1String(bad.name);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bad.bytes);
        file.close();
        const QByteArray said = (path + QStringLiteral(" cannot be loaded: ") + bad.reason).toLocal8Bit();
        const LoadRun sent = runLoad(QStringList{QStringLiteral("send"), path} + printerArguments());
        EXPECT_EQ(sent.exitCode, 2);
        EXPECT_TRUE(sent.err.contains(said)) << sent.err.toStdString();
        const LoadRun exported = runLoad({QStringLiteral("export"), path});
        EXPECT_EQ(exported.exitCode, 1);
        EXPECT_TRUE(exported.err.contains(said)) << exported.err.toStdString();
    }
    EXPECT_TRUE(simulator.printer().journal().empty());
}

TEST_F(LoadCliTest, APrinterHeldByAnotherProgramIsRefusedNamingItsProcess) {
    auto& simulator = addPrinter();
    const auto held = velquin::PrinterLock::tryAcquire(
        velquin::PrinterLock::networkKey(QStringLiteral("127.0.0.1"), simulator.port()));
    ASSERT_TRUE(held.lock);
    const LoadRun run = runLoad(QStringList{QStringLiteral("send"), files_[1]} + printerArguments() +
                                QStringList{QStringLiteral("--json")});
    EXPECT_EQ(run.exitCode, 1);
    const QJsonObject report = run.json()[QStringLiteral("printers")].toArray()[0].toObject();
    EXPECT_EQ(report[QStringLiteral("outcome")].toString(), QStringLiteral("in-use"));
    EXPECT_TRUE(report[QStringLiteral("message")].toString().contains(QString::number(::getpid())));
    EXPECT_TRUE(simulator.printer().journal().empty());
}

// Each command's --json document has the shape of its example in the man page.
TEST_F(LoadCliTest, EachJsonDocumentHasTheShapeOfItsManPageExample) {
    const QString port = QString::number(addPrinter().port());
    const QStringList printer = printerArguments();
    const QStringList json{QStringLiteral("--json")};
    const QString fleet = dir_.filePath(QStringLiteral("fleet.toml"));
    QFile fleetFile(fleet);
    ASSERT_TRUE(fleetFile.open(QIODevice::WriteOnly));
    fleetFile.write(QStringLiteral("[[group]]\nname = \"box-office\"\nprinters = [\"tcp:127.0.0.1:%1\"]\n"
                                   "[[group.load]]\nmode = \"ttf\"\nfiles = [\"%2\"]\n")
                        .arg(port, files_[1])
                        .toUtf8());
    fleetFile.close();
    const std::pair<const char*, QStringList> runs[] = {
        {"send",
         QStringList{QStringLiteral("send"), files_[0], QStringLiteral("--skip-loaded")} + printer + json},
        {"erase", QStringList{QStringLiteral("erase"), QStringLiteral("--yes")} + printer + json},
        {"status", QStringList{QStringLiteral("status")} + printer + json},
        {"ticket", QStringList{QStringLiteral("ticket"), QStringLiteral("1"), QStringLiteral("--mode"),
                               QStringLiteral("ttf")} +
                       printer + json},
        {"history",
         QStringList{QStringLiteral("history"), QStringLiteral("--printer"), QStringLiteral("model RVA")} +
             json},
        {"discover", QStringList{QStringLiteral("discover"), QStringLiteral("--subnet"),
                                 QStringLiteral("127.0.0.1/32"), QStringLiteral("--port"), port} +
                         json},
        {"apply", QStringList{QStringLiteral("apply"), fleet} + json},
    };
    for (const auto& [command, arguments] : runs) {
        const QJsonValue example = manPageExample(QLatin1String(command));
        ASSERT_TRUE(example.isObject()) << "no example for " << command;
        const LoadRun run = runLoad(arguments);
        ASSERT_EQ(run.exitCode, 0) << command << run.err.toStdString();
        EXPECT_EQ(run.json()[QStringLiteral("schema")].toInt(), 1) << command;
        EXPECT_EQ(shapeMismatch(run.json(), example, QLatin1String(command)).toStdString(), "")
            << run.out.toStdString();
    }
}

// velquin-load as another local user (nobody), without a runtime folder.
LoadRun runLoadAsNobody(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    process.setProcessEnvironment(environment);
    process.setProgram(QStringLiteral("setpriv"));
    process.setArguments(QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                     QStringLiteral("--clear-groups"), QStringLiteral("--"),
                                     QStringLiteral(VELQUIN_LOAD_PATH)} +
                         arguments);
    process.start();
    EXPECT_TRUE(process.waitForFinished(60'000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QString outcomeOf(const LoadRun& run) {
    return run.json()[QStringLiteral("printers")][0][QStringLiteral("outcome")].toString();
}

TEST_F(LoadCliTest, APrinterHasOneLockForEveryUserSessionAndSpellingOfItsAddress) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a program as another user";
    auto& simulator = addPrinter();
    const QString port = QString::number(simulator.port());
    auto statusAsNobody = [&](const QString& address) {
        return runLoadAsNobody({QStringLiteral("status"), QStringLiteral("--printer"),
                                QStringLiteral("tcp:%1:%2").arg(address, port), QStringLiteral("--json")});
    };
    const QStringList lockFiles{QStringLiteral("velquin-*%1*").arg(port)};
    {
        // Held here, it is held for another user, with no runtime folder and
        // another spelling of the address.
        const auto held = velquin::PrinterLock::tryAcquire(
            velquin::PrinterLock::networkKey(QStringLiteral("127.0.0.1"), simulator.port()));
        ASSERT_TRUE(held.lock);
        for (const QString& spelling : {QStringLiteral("127.0.0.01"), QStringLiteral("127.000.000.001")}) {
            const LoadRun refused = statusAsNobody(spelling);
            EXPECT_EQ(outcomeOf(refused), QStringLiteral("in-use")) << refused.err.toStdString();
            EXPECT_TRUE(refused.out.contains(QByteArray::number(::getpid()))) << refused.out.toStdString();
        }
    }
    // Released, nobody is locked out; and nobody's run leaves it free for us.
    const LoadRun served = statusAsNobody(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(outcomeOf(served), QStringLiteral("completed")) << served.err.toStdString();
    EXPECT_TRUE(velquin::PrinterLock::tryAcquire(
                    velquin::PrinterLock::networkKey(QStringLiteral("127.0.0.1"), simulator.port()))
                    .lock);
    // Nothing is left in the shared folder for anyone to plant or trip over.
    EXPECT_TRUE(QDir(QStringLiteral("/tmp")).entryList(lockFiles).isEmpty());
}

TEST_F(LoadCliTest, ListFilesThatAreNoListAreRefusedNamingWhy) {
    const QString sparse = dir_.path() + QStringLiteral("/sparse.TFL");
    QFile big(sparse);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(256 << 20));
    big.close();
    auto listOf = [&](const QString& name, const QByteArray& content) {
        const QString path = dir_.path() + QLatin1Char('/') + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    };
    const struct {
        QString list;
        int exitCode;
        QByteArray says;
    } cases[] = {
        {QStringLiteral("/dev/zero"), 2, "not a regular file"},
        {sparse, 2, "larger than"},
        {listOf(QStringLiteral("nul.TFL"), files_[0].toUtf8() + "\r\n" + files_[1].toUtf8() + '\0' + "x\r\n"),
         2, "line 2"},
        {listOf(QStringLiteral("empty.TFL"), ""), 1, "nothing to send"},
        {listOf(QStringLiteral("blank.TFL"), "\r\n  \n\t\r\n"), 1, "nothing to send"},
    };
    for (const auto& c : cases) {
        const LoadRun run = runLoad({QStringLiteral("send"), QStringLiteral("--list"), c.list,
                                     QStringLiteral("--printer"), QStringLiteral("tcp:127.0.0.1:1")});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.list.toStdString();
        EXPECT_TRUE(run.err.contains(c.says)) << run.err.toStdString();
    }
}

TEST_F(LoadCliTest, TicketsThePrinterDidNotAllTakeFailItsPrinter) {
    printersim::Faults closing;
    closing.closeAfterBytes = 200;
    addPrinter();
    addPrinter(closing);
    const LoadRun run =
        runLoad(QStringList{QStringLiteral("ticket"), QStringLiteral("all"), QStringLiteral("--mode"),
                            QStringLiteral("ttf"), QStringLiteral("--json")} +
                printerArguments());
    EXPECT_EQ(run.exitCode, 1);
    const QJsonArray reports = run.json()[QStringLiteral("printers")].toArray();
    ASSERT_EQ(reports.size(), 2);
    EXPECT_EQ(reports[0][QStringLiteral("outcome")].toString(), QStringLiteral("completed"));
    EXPECT_EQ(reports[1][QStringLiteral("outcome")].toString(), QStringLiteral("printer-gone"));
}

TEST_F(LoadCliTest, AStopEndsTheRunAtOnceWhileThePrinterStalls) {
    printersim::Faults stalled;
    stalled.replyDelay = std::chrono::seconds(20);
    addPrinter(stalled);
    QProcess process;
    process.start(
        QStringLiteral(VELQUIN_LOAD_PATH),
        QStringList{QStringLiteral("send"), files_[0], QStringLiteral("--json")} + printerArguments());
    ASSERT_TRUE(process.waitForStarted());
    QThread::msleep(1000);  // the worker now waits inside the library for an answer
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    // Far below the library's own limit on a read.
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 128 + SIGINT);
    const QJsonObject report =
        QJsonDocument::fromJson(process.readAllStandardOutput())[QStringLiteral("printers")][0].toObject();
    EXPECT_EQ(report[QStringLiteral("outcome")].toString(), QStringLiteral("stopped"));
    EXPECT_FALSE(report[QStringLiteral("message")].toString().isEmpty());
}

TEST_F(LoadCliTest, AReaderOfTheEventsGoingAwayStopsTheRunAndRecordsTheFileInFlight) {
    // Slow flash writes: the reader (head) is gone long before the second file.
    addPrinter({}, 20'000);
    const QString command =
        QStringLiteral("\"%1\" send %2 --printer %3 2>&1 | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}")
            .arg(QStringLiteral(VELQUIN_LOAD_PATH), files_.join(QLatin1Char(' ')), printerArguments()[1]);
    QProcess shell;
    shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), command});
    ASSERT_TRUE(shell.waitForFinished(60'000));
    EXPECT_EQ(shell.exitCode(), 1) << "not 141: SIGPIPE did not end it";

    const LoadRun history = runLoad({QStringLiteral("history"), QStringLiteral("--printer"),
                                     printerArguments()[1], QStringLiteral("--json")});
    const QJsonArray loads =
        history.json()[QStringLiteral("printers")][0][QStringLiteral("history")].toArray();
    ASSERT_FALSE(loads.isEmpty()) << history.err.toStdString();
    // Newest first: the file in flight when it stopped, judged by the free
    // flash read after the stop (stored only when it went down by its size).
    const QJsonObject inFlight = loads[0].toObject();
    const bool stored = !inFlight[QStringLiteral("free_after")].isNull() &&
                        inFlight[QStringLiteral("free_before")].toInteger() -
                                inFlight[QStringLiteral("free_after")].toInteger() >=
                            inFlight[QStringLiteral("size")].toInteger();
    EXPECT_EQ(inFlight[QStringLiteral("outcome")].toString() == QStringLiteral("confirmed"), stored)
        << history.out.toStdString();
    EXPECT_LT(loads.size(), files_.size());
}

TEST_F(LoadCliTest, HostileFileNamesReachNoLineRaw) {
    addPrinter();
    const QString hostile = dir_.path() + QStringLiteral("/a\nb|c\x1b[31m.ttf");
    ASSERT_TRUE(QFile::copy(files_[1], hostile));
    const LoadRun run =
        runLoad({QStringLiteral("send"), hostile, QStringLiteral("--printer"), printerArguments()[1]});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    for (const QByteArray& shown : {run.out, run.err}) {
        EXPECT_FALSE(shown.contains('\x1b')) << shown.toStdString();
        EXPECT_FALSE(shown.contains("a\nb")) << shown.toStdString();
    }
    EXPECT_TRUE(run.out.contains("completed")) << run.out.toStdString();

    // A name that is not UTF-8 is bytes like any other: a file of that name,
    // given or listed (relative to the list), is sent and shown escaped; a
    // name of no file is refused as such.
    const QString raw = QStringLiteral("\"$(printf '%1/a\\377.ttf')\"").arg(dir_.path());
    const QString list = QStringLiteral("%1/raw.TFL").arg(dir_.path());
    for (const auto& [prepare, names, exitCode, says] :
         {std::tuple{QStringLiteral("cp \"$2\" %1 &&").arg(raw), raw, 0, QByteArray("a\\\\xff.ttf")},
          std::tuple{QStringLiteral("printf 'a\\377.ttf\\r\\n' > %1 &&").arg(list),
                     QStringLiteral("--list ") + list, 0, QByteArray("a\\\\xff.ttf")},
          std::tuple{QStringLiteral("rm %1 &&").arg(raw), raw, 2, QByteArray("not valid UTF-8")}}) {
        QProcess shell;
        shell.start(
            QStringLiteral("bash"),
            {QStringLiteral("-c"),
             QStringLiteral("%1 \"$1\" send %2 --printer \"$3\" --json").arg(prepare, names),
             QStringLiteral("sh"), QStringLiteral(VELQUIN_LOAD_PATH), files_[1], printerArguments()[1]});
        ASSERT_TRUE(shell.waitForFinished(30'000));
        EXPECT_EQ(shell.exitCode(), exitCode) << names.toStdString();
        EXPECT_TRUE((shell.readAllStandardOutput() + shell.readAllStandardError()).contains(says))
            << names.toStdString();
    }
    const auto journal = printers_[0]->printer().journal();
    ASSERT_EQ(journal.size(), 3u);
    for (const auto& entry : journal) EXPECT_EQ(entry.sha256, journal[0].sha256);  // the same bytes each time
}

TEST_F(LoadCliTest, SkipLoadedJudgesASoftFontByConvertingItNow) {
    auto& simulator = addPrinter();
    const QString font = dir_.path() + QStringLiteral("/venue.sfp");
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELQUIN_SAMPLE_FONTS "/courier10.sfp"), font));
    auto send = [&] {
        return runLoad({QStringLiteral("send"), font, QStringLiteral("--printer"), printerArguments()[1],
                        QStringLiteral("--skip-loaded"), QStringLiteral("--json")});
    };
    ASSERT_EQ(send().exitCode, 0);
    // Another font under the same name; the old converted file is still beside it.
    ASSERT_TRUE(QFile::remove(font));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELQUIN_SAMPLE_FONTS "/times-bold24.sfp"), font));
    const LoadRun again = send();
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.json()[QStringLiteral("printers")][0][QStringLiteral("skipped")].toArray().isEmpty());
    EXPECT_EQ(simulator.printer().journal().size(), 2u);
}

TEST_F(LoadCliTest, HistoryOfALedgerThatCannotBeOpenedSaysSoRatherThanNoPrinter) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a program as another user";
    addPrinter();
    ASSERT_EQ(runLoad({QStringLiteral("send"), files_[1], QStringLiteral("--printer"), printerArguments()[1]})
                  .exitCode,
              0);
    // The rows are there, in a ledger another user may read but not write.
    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther);
    const LoadRun run =
        runLoadAsNobody({QStringLiteral("history"), QStringLiteral("--printer"), printerArguments()[1]});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("the ledger could not be read")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("no printer matching")) << run.err.toStdString();
}

}  // namespace
