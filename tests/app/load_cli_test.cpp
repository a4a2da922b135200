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
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <vector>

#include "printer_lock.h"
#include "simulator.h"

namespace {

struct LoadRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

LoadRun runLoad(const QStringList& arguments) {
    QProcess process;
    process.setProgram(QStringLiteral(VELQUIN_LOAD_PATH));
    process.setArguments(arguments);
    process.start();
    EXPECT_TRUE(process.waitForFinished(120'000)) << arguments.join(' ').toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// A "True Type" file: the sfnt version, then bytes that differ from place to place.
QString writeFont(const QString& folder, const QString& name, int size, unsigned seed) {
    QByteArray bytes("\x00\x01\x00\x00", 4);
    std::uint32_t state = seed * 2654435761u + 1;
    while (bytes.size() < size) {
        state = state * 1103515245u + 12345u;
        bytes.append(static_cast<char>(state >> 16));
    }
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray readAll(const std::filesystem::path& path) {
    QFile file(QString::fromStdString(path.string()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class LoadCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        qputenv("XDG_RUNTIME_DIR", dir_.path().toLocal8Bit());  // locks of this test only
        qputenv("XDG_DATA_HOME", (dir_.path() + QStringLiteral("/data")).toLocal8Bit());  // and its ledger
        files_ = {writeFont(dir_.path(), QStringLiteral("a.ttf"), 20'000, 1),
                  writeFont(dir_.path(), QStringLiteral("b.ttf"), 7, 2),
                  writeFont(dir_.path(), QStringLiteral("c.ttf"), 40'000, 3)};
    }

    printersim::Simulator& addPrinter(const printersim::Faults& faults = {}) {
        printersim::PrinterConfig config;
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
    EXPECT_EQ(loads[0][QStringLiteral("outcome")].toString(), QStringLiteral("not confirmed"));

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

TEST_F(LoadCliTest, UsageErrorsExitWithTwo) {
    const QString file = files_[0];
    const std::vector<QStringList> cases = {
        {},
        {QStringLiteral("load")},
        {QStringLiteral("send"), file},
        {QStringLiteral("send"), QStringLiteral("--printer"), QStringLiteral("tcp:127.0.0.1")},
        {QStringLiteral("send"), file, QStringLiteral("--printer"), QStringLiteral("usb:1")},
        {QStringLiteral("send"), file, QStringLiteral("--printer"), QStringLiteral("tcp:127.0.0.1:70000")},
        {QStringLiteral("send"), file, QStringLiteral("--printer"), QStringLiteral("local"),
         QStringLiteral("--mode"), QStringLiteral("bmp")},
        {QStringLiteral("send"), file, QStringLiteral("--printer"), QStringLiteral("local"),
         QStringLiteral("--jobs"), QStringLiteral("0")},
        {QStringLiteral("send"), file, dir_.path() + QStringLiteral("/missing.ttf"),
         QStringLiteral("--printer"), QStringLiteral("local")},
        {QStringLiteral("export"), file, QStringLiteral("--printer"), QStringLiteral("local")},
        {QStringLiteral("ticket"), QStringLiteral("6"), QStringLiteral("--mode"), QStringLiteral("ttf"),
         QStringLiteral("--printer"), QStringLiteral("local")},
        {QStringLiteral("ticket"), QStringLiteral("1"), QStringLiteral("--printer"), QStringLiteral("local")},
        {QStringLiteral("status")},
        {QStringLiteral("history")},
        {QStringLiteral("status"), QStringLiteral("--printer"), QStringLiteral("local"),
         QStringLiteral("--skip-loaded")},
        {QStringLiteral("status"), QStringLiteral("--printer"), QStringLiteral("local"),
         QStringLiteral("--bogus")},
    };
    for (const QStringList& arguments : cases) {
        const LoadRun run = runLoad(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.startsWith("velquin-load: ")) << arguments.join(' ').toStdString();
    }
    const LoadRun help = runLoad({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* status : {"  0  ", "  1  ", "  2  "}) EXPECT_TRUE(help.out.contains(status)) << status;
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
        EXPECT_GT(load[QStringLiteral("freeBefore")].toInteger(),
                  load[QStringLiteral("freeAfter")].toInteger());
    }
    // The identity finds it too; an unknown printer is an error.
    EXPECT_EQ(
        runLoad({QStringLiteral("history"), QStringLiteral("--printer"), QStringLiteral("fwv:")}).exitCode,
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

}  // namespace
