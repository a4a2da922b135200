// velquin-load's fleet commands against printer-sim printers placed across
// 127.0.0.0/24: discover, and apply with its plan (--check).
#include <gtest/gtest.h>

#include <QDateTime>
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
    printersim::Simulator& addPrinter(int host, std::uint16_t port, const printersim::Faults& faults = {}) {
        printersim::PrinterConfig config;
        config.identity = "MFG:Ticket printer;CMD:KTL;MDL:RVA 300;FWV:2.10;";
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
    const LoadRun run =
        runLoad({QStringLiteral("discover"), QStringLiteral("--spooler"), QStringLiteral("--json")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QStringList printers;
    for (const QJsonValue& queue : run.json()[QStringLiteral("queues")].toArray())
        printers << queue[QStringLiteral("queue")].toString() + QLatin1Char(' ') +
                        queue[QStringLiteral("printer")].toString();
    printers.sort();
    EXPECT_EQ(printers, (QStringList{QStringLiteral("box_office tcp:127.0.0.2:10001"),
                                     QStringLiteral("plain_socket tcp:127.0.0.3:9100")}));
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
        if (event[QStringLiteral("event")].toString() == QLatin1String("completed"))
            completed << event[QStringLiteral("file")].toString();
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

}  // namespace
