// velquin-load's fleet commands against printer-sim printers placed across
// 127.0.0.0/24: discover, apply with its plan (--check), many printers at
// once (on a terminal of a given size, within a descriptor limit), and a
// printer named twice.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "load_cli_support.h"
#include "private_cupsd.h"
#include "simulator.h"

namespace {

using velquin::test::LoadRun;
using velquin::test::runLoad;
using velquin::test::writeFont;

class FleetCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        qputenv("XDG_RUNTIME_DIR", dir_.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", (dir_.path() + QStringLiteral("/data")).toLocal8Bit());
    }

    // A printer fit for the network at 127.0.0.`host` on `port` (0: a free one).
    printersim::Simulator& addPrinter(int host, std::uint16_t port, const printersim::Faults& faults = {},
                                      const std::string& firmware = "2.10") {
        printersim::PrinterConfig config;
        config.identity = "MFG:Ticket printer;CMD:KTL;MDL:RVA 300;FWV:" + firmware + ";";
        auto& simulator = *printers_.emplace_back(std::make_unique<printersim::Simulator>(config));
        simulator.printer().setFaults(faults);
        simulator.listenTcp(port, "127.0.0." + std::to_string(host));
        return simulator;
    }

    QString writeFleetFile(const QString& text) {
        const QString path = dir_.path() + QStringLiteral("/fleet.toml");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        return path;
    }

    // `count` printers on 127.0.0.1 and the arguments that name them.
    QStringList addPrinters(int count) {
        QStringList arguments;
        for (int i = 0; i < count; ++i)
            arguments << QStringLiteral("--printer")
                      << QStringLiteral("tcp:127.0.0.1:%1").arg(addPrinter(1, 0).port());
        return arguments;
    }

    QTemporaryDir dir_;
    std::vector<std::unique_ptr<printersim::Simulator>> printers_;
};

TEST_F(FleetCliTest, DiscoverReportsEveryPrinterOfASlash24WithinItsBound) {
    constexpr int SLOW = 3, GARBAGE = 7;
    std::uint16_t port = 0;
    for (int i = 0; i < 10; ++i) {
        printersim::Faults faults;
        if (i == SLOW) faults.replyDelay = std::chrono::milliseconds(4000);
        if (i == GARBAGE) faults.garbageReplies = true;
        port = addPrinter(10 + i * 20, port, faults).port();
    }
    QElapsedTimer clock;
    clock.start();
    const LoadRun run =
        runLoad({QStringLiteral("discover"), QStringLiteral("--subnet"), QStringLiteral("127.0.0.0/24"),
                 QStringLiteral("--port"), QString::number(port), QStringLiteral("--timeout"),
                 QStringLiteral("2000"), QStringLiteral("--json")});
    // The slow printer is given up at its time-out; nothing waits for it.
    EXPECT_LT(clock.elapsed(), 3900);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject result = run.json();
    EXPECT_EQ(result[QStringLiteral("addresses_probed")].toInteger(), 254);
    const QJsonArray unanswered = result[QStringLiteral("unanswered")].toArray();
    ASSERT_EQ(unanswered.size(), 1);
    EXPECT_EQ(unanswered[0][QStringLiteral("address")].toString(),
              QStringLiteral("127.0.0.%1").arg(10 + SLOW * 20));
    EXPECT_EQ(unanswered[0][QStringLiteral("outcome")].toString(), QStringLiteral("timed-out"));
    const QJsonArray printers = result[QStringLiteral("printers")].toArray();
    ASSERT_EQ(printers.size(), 9) << run.out.toStdString();
    for (const QJsonValue& printer : printers) {
        const int host = printer[QStringLiteral("address")].toString().section(QLatin1Char('.'), 3).toInt();
        const QJsonObject identity = printer[QStringLiteral("identity")].toObject();
        EXPECT_EQ(printer[QStringLiteral("port")].toInt(), port);
        if (host == 10 + GARBAGE * 20) {
            EXPECT_FALSE(identity[QStringLiteral("suitable")].toBool());
            EXPECT_FALSE(identity[QStringLiteral("reasons")].toArray().isEmpty());
            continue;
        }
        EXPECT_TRUE(identity[QStringLiteral("suitable")].toBool()) << host;
        EXPECT_EQ(identity[QStringLiteral("firmware_version")].toString(), QStringLiteral("2.10"));
        EXPECT_EQ(printer[QStringLiteral("busy")], QJsonValue(false));
        EXPECT_EQ(printer[QStringLiteral("free_flash")].toInteger(), 8'388'608);
    }
}

TEST_F(FleetCliTest, ApplySendsWhatIsMissingOnceAndCheckTouchesNoFlash) {
    const QString fonts = dir_.path();
    const QStringList files = {writeFont(fonts, QStringLiteral("a.ttf"), 9'000, 1),
                               writeFont(fonts, QStringLiteral("b.ttf"), 300, 2),
                               writeFont(fonts, QStringLiteral("c.ttf"), 5'000, 3)};
    // Two printers named by address, two found in a range on another port.
    auto& named0 = addPrinter(1, 0);
    auto& named1 = addPrinter(1, 0);
    const std::uint16_t rangePort = addPrinter(40, 0).port();
    addPrinter(41, rangePort);
    const QString fleet = writeFleetFile(QStringLiteral(R"([[group]]
name = "named"
printers = ["tcp:127.0.0.1:%1", "tcp:127.0.0.1:%2"]
[[group.load]]
mode = "ttf"
files = ["a.ttf", "b.ttf"]

[[group]]
name = "found"
subnets = ["127.0.0.32/28"]
port = %3
[[group.load]]
files = "c.ttf"
)")
                                             .arg(named0.port())
                                             .arg(named1.port())
                                             .arg(rangePort));
    auto apply = [&](const QStringList& extra) {
        return runLoad(QStringList{QStringLiteral("apply"), fleet, QStringLiteral("--json")} + extra);
    };
    auto journalSizes = [&] {
        std::vector<std::size_t> sizes;
        for (auto& printer : printers_) sizes.push_back(printer->printer().journal().size());
        return sizes;
    };
    auto changedOf = [](const LoadRun& run) {
        std::vector<bool> changed;
        for (const QJsonValue& printer : run.json()[QStringLiteral("printers")].toArray())
            changed.push_back(printer[QStringLiteral("changed")].toBool());
        return changed;
    };

    const LoadRun first = apply({});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(changedOf(first), std::vector<bool>(4, true));
    EXPECT_EQ(journalSizes(), (std::vector<std::size_t>{2, 2, 1, 1}));
    const QJsonArray sent = first.json()[QStringLiteral("printers")][0][QStringLiteral("sent")].toArray();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[1][QStringLiteral("path")].toString(), files[1]);

    // Converged: nothing is sent, nothing would be.
    const LoadRun second = apply({});
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_EQ(changedOf(second), std::vector<bool>(4, false));
    EXPECT_EQ(second.json()[QStringLiteral("printers")][0][QStringLiteral("skipped")].toArray().size(), 2);
    EXPECT_EQ(journalSizes(), (std::vector<std::size_t>{2, 2, 1, 1}));
    EXPECT_EQ(apply({QStringLiteral("--check")}).exitCode, 0);

    // Erased from another workstation: the plan says so, and sends nothing.
    ASSERT_EQ(runLoad({QStringLiteral("erase"), QStringLiteral("--printer"),
                       QStringLiteral("tcp:127.0.0.1:%1").arg(named1.port()), QStringLiteral("--yes")},
                      dir_.path() + QStringLiteral("/elsewhere"))
                  .exitCode,
              0);
    const LoadRun check = apply({QStringLiteral("--check")});
    EXPECT_EQ(check.exitCode, 3) << check.err.toStdString();
    EXPECT_EQ(changedOf(check), (std::vector<bool>{false, true, false, false}));
    const QJsonObject stale = check.json()[QStringLiteral("printers")][1].toObject();
    EXPECT_EQ(stale[QStringLiteral("verification")].toString(), QStringLiteral("stale"));
    EXPECT_EQ(stale[QStringLiteral("would_send")].toArray(), QJsonArray::fromStringList(files.mid(0, 2)));
    EXPECT_EQ(journalSizes(), (std::vector<std::size_t>{2, 3, 1, 1}));
    const LoadRun human = runLoad({QStringLiteral("apply"), fleet, QStringLiteral("--check")});
    EXPECT_EQ(human.exitCode, 3);
    EXPECT_TRUE(human.out.contains("would change  would send: " + files[0].toUtf8()))
        << human.out.toStdString();
}

TEST_F(FleetCliTest, DiscoverListsTheSpoolersQueuesOnAPrinterPort) {
    using velquin::testing::PrivateCupsd;
    if (std::string reason = PrivateCupsd::unavailableReason(); !reason.empty()) GTEST_SKIP() << reason;
    PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.start()) << cupsd.error();
    for (const auto& [name, uri] :
         {std::pair{"box_office", "socket://127.0.0.2:10001"},
          std::pair{"plain_socket", "socket://127.0.0.3"}, std::pair{"to_file", "file:/dev/null"},
          std::pair{"usb", "usb://Maker/Ticket%20Printer?serial=A1"}})
        ASSERT_TRUE(cupsd.addQueue(name, uri)) << name;
    // Alone, and with a range searched too: one document either way.
    for (const QStringList& range :
         {QStringList{}, QStringList{QStringLiteral("--subnet"), QStringLiteral("127.0.0.9/32"),
                                     QStringLiteral("--port"), QStringLiteral("9")}}) {
        const LoadRun run = runLoad(
            QStringList{QStringLiteral("discover"), QStringLiteral("--spooler"), QStringLiteral("--json")} +
            range);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        QStringList printers;
        for (const QJsonValue& queue : run.json()[QStringLiteral("queues")].toArray())
            printers << queue[QStringLiteral("queue")].toString() + QLatin1Char(' ') +
                            queue[QStringLiteral("printer")].toString();
        printers.sort();
        EXPECT_EQ(printers, (QStringList{QStringLiteral("box_office tcp:127.0.0.2:10001"),
                                         QStringLiteral("plain_socket tcp:127.0.0.3:9100")}));
        EXPECT_EQ(run.json()[QStringLiteral("addresses_probed")].toInt(), range.isEmpty() ? 0 : 1);
    }
}

TEST_F(FleetCliTest, LogJsonWritesOneObjectPerEventAndPipedLinesCarryATime) {
    const QStringList files = {writeFont(dir_.path(), QStringLiteral("a.ttf"), 9'000, 1),
                               writeFont(dir_.path(), QStringLiteral("b.ttf"), 300, 2)};
    const QString printer = QStringLiteral("tcp:127.0.0.1:%1").arg(addPrinter(1, 0).port());
    const QStringList send =
        QStringList{QStringLiteral("send")} + files + QStringList{QStringLiteral("--printer"), printer};
    const LoadRun run = runLoad(send + QStringList{QStringLiteral("--log"), QStringLiteral("json")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QStringList completed;
    qint64 finishedBytes = -1;
    for (const QByteArray& line : run.err.trimmed().split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        ASSERT_FALSE(event.isEmpty()) << line.toStdString();
        for (const char* key : {"timestamp", "printer", "file", "event", "bytes", "outcome"})
            EXPECT_TRUE(event.contains(QLatin1String(key))) << key << " in " << line.toStdString();
        EXPECT_EQ(event[QStringLiteral("printer")].toString(), printer);
        EXPECT_TRUE(QDateTime::fromString(event[QStringLiteral("timestamp")].toString(), Qt::ISODateWithMs)
                        .isValid());
        if (event[QStringLiteral("event")].toString() == QLatin1String("completed")) {
            completed << event[QStringLiteral("file")].toString();
            // The file's bytes against its size, its header apart.
            EXPECT_EQ(event[QStringLiteral("bytes")], event[QStringLiteral("size")]) << line.toStdString();
        }
        if (event[QStringLiteral("event")].toString() == QLatin1String("finished")) {
            EXPECT_EQ(event[QStringLiteral("outcome")].toString(), QStringLiteral("completed"));
            finishedBytes = event[QStringLiteral("bytes")].toInteger();
        }
    }
    EXPECT_EQ(completed, files);
    // Each file went with its header "<ttfN>".
    EXPECT_EQ(finishedBytes, 9'000 + 9 + 300 + 8);

    const LoadRun human = runLoad({QStringLiteral("status"), QStringLiteral("--printer"), printer});
    const QByteArray first = human.err.split('\n').first();
    EXPECT_TRUE(QDateTime::fromString(QString::fromLatin1(first.left(first.indexOf(' '))), Qt::ISODateWithMs)
                    .isValid())
        << first.toStdString();
}

TEST_F(FleetCliTest, BadRangesAndFleetFilesAreUsageErrors) {
    const QString missingMode = writeFleetFile(QStringLiteral(
        "[[group]]\nprinters = [\"local\"]\n[[group.load]]\nfiles = [\"x.ttf\"]\nmode = \"bmp\"\n"));
    const std::vector<QStringList> cases = {
        {QStringLiteral("discover")},
        {QStringLiteral("discover"), QStringLiteral("--subnet"), QStringLiteral("127.0.0.0/33")},
        {QStringLiteral("discover"), QStringLiteral("--subnet"), QStringLiteral("127.0.0.0/15")},
        {QStringLiteral("discover"), QStringLiteral("--subnet"), QStringLiteral("127.0.0.0/24"),
         QStringLiteral("--printer"), QStringLiteral("local")},
        {QStringLiteral("apply")},
        {QStringLiteral("apply"), dir_.path() + QStringLiteral("/none.toml")},
        {QStringLiteral("apply"), missingMode},
        {QStringLiteral("status"), QStringLiteral("--printer"), QStringLiteral("local"),
         QStringLiteral("--check")},
    };
    for (const QStringList& arguments : cases) {
        const LoadRun run = runLoad(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("velquin-load: ")) << arguments.join(' ').toStdString();
    }
    EXPECT_TRUE(runLoad({QStringLiteral("apply"), missingMode}).err.contains("line 5"));
}

// The terminal a pseudo-terminal's reader sees, as far as redrawn lines
// use it: what wrapped at the right edge, and what moved the cursor up past
// the top (the block was taller than the screen: its old lines stay behind).
struct TerminalModel {
    int columns = 0;
    int rows = 0;
    int row = 0;
    int column = 0;
    int wrapped = 0;
    int pastTheTop = 0;

    void feed(const QByteArray& bytes) {
        for (qsizetype at = 0; at < bytes.size(); ++at) {
            const char c = bytes[at];
            if (c == '\x1b' && at + 1 < bytes.size() && bytes[at + 1] == '[') {
                int count = 0;
                at += 2;
                while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])))
                    count = count * 10 + (bytes[at++] - '0');
                if (at < bytes.size() && bytes[at] == 'A') {
                    if (std::max(count, 1) > row) ++pastTheTop;
                    row = std::max(row - std::max(count, 1), 0);
                }
            } else if (c == '\r') {
                column = 0;
            } else if (c == '\n') {
                row = std::min(row + 1, rows - 1);
            } else if ((c & 0xc0) != 0x80) {  // a character's first byte
                if (column == columns) {
                    ++wrapped;
                    column = 0;
                    row = std::min(row + 1, rows - 1);
                }
                ++column;
            }
        }
    }
};

TEST_F(FleetCliTest, LiveLinesFitATerminalSmallerThanTheFleet) {
    constexpr int COLUMNS = 40, ROWS = 8;
    const QStringList printers = addPrinters(12);
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("a-folder-of-fonts-with-a-long-name")));
    const QString font = writeFont(dir_.path() + QStringLiteral("/a-folder-of-fonts-with-a-long-name"),
                                   QStringLiteral("Condensed-Bold-Italic.ttf"), 60'000, 1);
    int master = -1, slave = -1;
    winsize size{};
    size.ws_col = COLUMNS;
    size.ws_row = ROWS;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
    ::fcntl(master, F_SETFL, O_NONBLOCK);

    QProcess process;
    process.setProgram(QStringLiteral(VELQUIN_LOAD_PATH));
    process.setArguments(QStringList{QStringLiteral("send"), font} + printers);
    process.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
    process.start();
    ::close(slave);
    TerminalModel screen{COLUMNS, ROWS};
    QByteArray seen;
    auto drain = [&] {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(master, buffer, sizeof buffer)) > 0) seen.append(buffer, got);
    };
    while (!process.waitForFinished(20)) drain();
    drain();
    ::close(master);
    screen.feed(seen);

    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_TRUE(seen.contains("more printer(s)")) << seen.toStdString();
    EXPECT_EQ(screen.wrapped, 0) << seen.toStdString();
    EXPECT_EQ(screen.pastTheTop, 0) << seen.toStdString();
    EXPECT_EQ(process.readAllStandardOutput().count("completed  1 of 1 files"), 12);
}

// velquin-load under a hard limit on open files: its soft limit cannot be
// raised past it.
LoadRun runLoadWithinFiles(rlim_t files, const QStringList& arguments) {
    QProcess process;
    process.setProgram(QStringLiteral(VELQUIN_LOAD_PATH));
    process.setArguments(arguments);
    process.setChildProcessModifier([files] {
        const rlimit limit{files, files};
        ::setrlimit(RLIMIT_NOFILE, &limit);
    });
    process.start();
    EXPECT_TRUE(process.waitForFinished(120'000));
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// A fleet of more printers than the limit lets run at once is loaded a part
// at a time, and says so; a worker that cannot start at all says why.
TEST_F(FleetCliTest, ADescriptorLimitHoldsTheFleetBackAndNamesWhyAWorkerCouldNotStart) {
    const QStringList printers = addPrinters(12);
    const QStringList status{QStringLiteral("status"), QStringLiteral("--json")};
    const LoadRun held = runLoadWithinFiles(41, status + printers);
    EXPECT_EQ(held.exitCode, 0) << held.err.toStdString();
    const QJsonArray reports = held.json()[QStringLiteral("printers")].toArray();
    ASSERT_EQ(reports.size(), 12);
    for (const QJsonValue& report : reports)
        EXPECT_EQ(report[QStringLiteral("outcome")].toString(), QStringLiteral("completed"))
            << QJsonDocument(report.toObject()).toJson().toStdString();
    EXPECT_TRUE(held.err.contains("printers at a time, not 12")) << held.err.toStdString();

    const LoadRun starved = runLoadWithinFiles(12, status + printers.mid(0, 2));
    EXPECT_EQ(starved.exitCode, 1);
    const QJsonObject report = starved.json()[QStringLiteral("printers")][0].toObject();
    EXPECT_EQ(report[QStringLiteral("outcome")].toString(), QStringLiteral("worker-failed"));
    EXPECT_TRUE(report[QStringLiteral("message")].toString().startsWith(
        QStringLiteral("the worker could not start: ")))
        << starved.out.toStdString();
    EXPECT_FALSE(report[QStringLiteral("message")].toString().contains(QStringLiteral("No such file")));
}

TEST_F(FleetCliTest, APrinterNamedTwiceIsDrivenOnceUnderTheFirstName) {
    const QString port = QString::number(addPrinter(1, 0).port());
    const QStringList names{QStringLiteral("tcp:localhost:") + port, QStringLiteral("tcp:127.0.0.1:") + port,
                            QStringLiteral("tcp:127.0.0.01:") + port};
    QStringList arguments{QStringLiteral("send"), writeFont(dir_.path(), QStringLiteral("a.ttf"), 3'000, 1),
                          QStringLiteral("--json")};
    for (const QString& name : names) arguments << QStringLiteral("--printer") << name;
    const LoadRun run = runLoad(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonArray reports = run.json()[QStringLiteral("printers")].toArray();
    ASSERT_EQ(reports.size(), 1) << run.out.toStdString();
    EXPECT_EQ(reports[0][QStringLiteral("printer")].toString(), names[0]);
    EXPECT_EQ(reports[0][QStringLiteral("address")].toString(), QStringLiteral("127.0.0.1:") + port);
    EXPECT_EQ(reports[0][QStringLiteral("also_named")].toArray(), QJsonArray::fromStringList(names.mid(1)));
    EXPECT_EQ(run.err.count("driven once"), 2) << run.err.toStdString();
    EXPECT_EQ(printers_[0]->printer().journal().size(), 1u);
}

TEST_F(FleetCliTest, StatusWithoutJsonShowsIdentityVerdictBusyToggleAndFlash) {
    const QString fit = QString::number(addPrinter(1, 0).port());
    const QString old = QString::number(addPrinter(1, 0, {}, "1.00").port());
    const LoadRun run = runLoad({QStringLiteral("status"), QStringLiteral("--printer"),
                                 QStringLiteral("tcp:127.0.0.1:") + fit, QStringLiteral("--printer"),
                                 QStringLiteral("tcp:127.0.0.1:") + old});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 8) << run.out.toStdString();
    for (int printer = 0; printer < 2; ++printer) {
        const QStringList block = lines.mid(printer * 4, 4);
        EXPECT_TRUE(block[1].contains(QStringLiteral("model RVA, language KTL"))) << block[1].toStdString();
        EXPECT_TRUE(block[1].contains(printer == 0 ? QStringLiteral("firmware 2.10")
                                                   : QStringLiteral("firmware 1.00")));
        if (printer == 0)
            EXPECT_EQ(block[2], QStringLiteral("  suitable"));
        else
            EXPECT_TRUE(block[2].startsWith(QStringLiteral("  not suitable (")) &&
                        block[2].contains(QStringLiteral("firmware 1.00")))
                << block[2].toStdString();
        EXPECT_TRUE(block[3].startsWith(QStringLiteral("  idle, flash toggle "))) << block[3].toStdString();
        EXPECT_TRUE(block[3].endsWith(QStringLiteral(" bytes free"))) << block[3].toStdString();
    }
}

}  // namespace
