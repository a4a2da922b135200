// The program's own printer I/O and the printer connection files go through,
// against the real library and a running printer-sim, over the simulated USB
// device and over TCP on 127.0.0.1; the chunking and the failure paths also
// against the recording stand-in.
#include "printer_io.h"

#include <QCryptographicHash>
#include <QListWidget>
#include <QRandomGenerator>

#include "app_test_support.h"
#include "printer_connection.h"
#include "simulator.h"
#include "work_fakes.h"

using namespace velquin;

enum class Link { Usb, Tcp };
Q_DECLARE_METATYPE(Link)

namespace {

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes) byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

QStringList lines(const QListWidget& list) {
    QStringList texts;
    for (int i = 0; i < list.count(); ++i) texts << list.item(i)->text();
    return texts;
}

// One printer I/O on a library, with its own state, list and prompts.
struct IoBench {
    explicit IoBench(const QString& libraryPath)
        : library(libraryPath), log(list), io(state, library, prompts, log) {
        library.setPrompts(&prompts);
        io.setSleep([this](int milliseconds) { sleeps << milliseconds; });
    }
    AppState state;
    ScriptedOperatorPrompts prompts;
    MorlixLibrary library;
    QListWidget list;
    ListStatusLog log;
    PrinterIo io;
    QList<int> sleeps;
    testing::FakeView view;

    FileTransfer sendFile(const QString& path) {
        LinkedPrinterConnection link(state, io, library);
        return link.sendFile(path, view);
    }
    int flashToggle() {
        LinkedPrinterConnection link(state, io, library);
        return readFlashToggle(link);
    }
};

}  // namespace

class PrinterIoTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void filesStreamByteExact_data();
    void filesStreamByteExact();
    void filesGoInChunksOf8192Bytes();
    void partialNetworkSendsAreCompleted();
    void missingFileEndsWithTheErrorLine();
    void aFailedWriteStopsTheFile();
    void statusBits_data();
    void statusBits();
    void failedStatusReadIsNotBusy();
    void ethernetFlashFirstTry();
    void ethernetFlashRetriesAfterBadReplies();
    void ethernetFlashGivesUpAfter21Attempts();
    void ethernetFlashRefusesZero();
    void ethernetFlashEndsAtOnceWhenThePrinterHasClosed();

private:
    void openLink(Link link);

    std::unique_ptr<test::PrivateEnvironment> environment_;
    std::unique_ptr<printersim::Simulator> simulator_;
    std::unique_ptr<IoBench> bench_;
};

void PrinterIoTest::initTestCase() {
    environment_ = std::make_unique<test::PrivateEnvironment>();
}

void PrinterIoTest::init() {
    simulator_ = std::make_unique<printersim::Simulator>();
    simulator_->listenTcp();
    simulator_->addDevice(printersim::usbDevicePath(environment_->path("devices").toStdString(), 0));
    bench_ = std::make_unique<IoBench>(QStringLiteral(MORLIX_LIBRARY_PATH));
}

void PrinterIoTest::cleanup() {
    PrinterSession& session = bench_->state.printer;
    if (session.localHandle() != 0) session.closeLocal(bench_->library);
    if (session.socket() != 0) session.closeSocket(bench_->library);
    bench_.reset();
    simulator_.reset();
}

void PrinterIoTest::openLink(Link link) {
    std::int32_t opened = 0;
    if (link == Link::Usb) {
        QCOMPARE(bench_->library.GetPrinterHandleVB(&opened), 0);
        bench_->state.printer.holdLocal(opened, SessionLink::Local);
        return;
    }
    const QByteArray port = QByteArray::number(simulator_->port());
    QCOMPARE(bench_->library.CreateEthernetSocketVB(&opened, "127", "0", "0", "1", port.constData()), 1);
    bench_->state.printer.holdSocket(bench_->library, opened);
}

void PrinterIoTest::filesStreamByteExact_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<int>("size");
    for (const auto& [link, name] : {std::pair{Link::Usb, "usb"}, std::pair{Link::Tcp, "tcp"}})
        for (int size : {0, 8'192, 8'193, 100'000}) QTest::addRow("%s %d", name, size) << link << size;
}

void PrinterIoTest::filesStreamByteExact() {
    QFETCH(Link, link);
    QFETCH(int, size);
    openLink(link);
    const QByteArray content = randomBytes(size);
    const QString path = test::writeFile(environment_->path(QStringLiteral("font.ttf")), content);

    // The header tells the printer how many bytes of file follow.
    const QByteArray header = "<ttf" + QByteArray::number(size) + ">";
    QVERIFY(bench_->io.send({reinterpret_cast<const std::uint8_t*>(header.constData()),
                             static_cast<std::size_t>(header.size())}));
    QCOMPARE(bench_->sendFile(path), FileTransfer::Sent);

    QVERIFY(simulator_->printer().waitForJournal(1, std::chrono::seconds(10)));
    const std::vector<printersim::JournalEntry> journal = simulator_->printer().journal();
    QCOMPARE(journal.size(), std::size_t{1});
    QCOMPARE(journal[0].kind, printersim::EntryKind::TrueType);
    QCOMPARE(journal[0].size, static_cast<std::uint64_t>(size));
    QVERIFY(!journal[0].error);
    QCOMPARE(QByteArray::fromStdString(journal[0].sha256),
             QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    QCOMPARE(bench_->view.allLines, (QStringList{"Writing file ", QString::number(size)}));
}

void PrinterIoTest::filesGoInChunksOf8192Bytes() {
    test::FakeMorlix recorder(QStringLiteral(FAKE_MORLIX_PATH));
    IoBench fake(QStringLiteral(FAKE_MORLIX_PATH));
    fake.state.printer.holdLocal(7, SessionLink::Local);
    const QString path =
        test::writeFile(environment_->path(QStringLiteral("chunks.pcx")), QByteArray(8'193, 'x'));
    QCOMPARE(fake.sendFile(path), FileTransfer::Sent);
    const QStringList calls = recorder.calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0], QStringLiteral("WritePrinterVB 7 ") + QString(8'192, QLatin1Char('x')));
    QCOMPARE(calls[1], QStringLiteral("WritePrinterVB 7 x"));
}

void PrinterIoTest::partialNetworkSendsAreCompleted() {
    test::FakeMorlix recorder(QStringLiteral(FAKE_MORLIX_PATH));
    recorder.setSendLimit(3'000);
    IoBench fake(QStringLiteral(FAKE_MORLIX_PATH));
    fake.state.printer.holdSocket(fake.library, 9);
    const QByteArray content = randomBytes(8'193).toHex().left(8'193);
    const QString path = test::writeFile(environment_->path(QStringLiteral("partial.ttf")), content);
    QCOMPARE(fake.sendFile(path), FileTransfer::Sent);
    QString delivered;
    for (const QString& call : recorder.calls()) {
        QVERIFY(call.startsWith(QStringLiteral("WriteDataEthernetVB 9 ")));
        delivered += call.mid(22);
    }
    QCOMPARE(recorder.calls().size(), 4);  // 3000 + 3000 + 2192, then the last byte
    QCOMPARE(delivered, QString::fromLatin1(content));
    QVERIFY(!fake.view.allLines.contains(QStringLiteral("lRC = 1, fail")));
}

void PrinterIoTest::missingFileEndsWithTheErrorLine() {
    openLink(Link::Usb);
    const QString path = environment_->path(QStringLiteral("gone.ttf"));
    QCOMPARE(bench_->sendFile(path), FileTransfer::Unreadable);
    QCOMPARE(bench_->view.allLines, (QStringList{"Writing file ", "-1", "Writing file " + path + " ERROR"}));
    QVERIFY(bench_->prompts.prompts().empty());
    QCOMPARE(simulator_->printer().bytesReceived(), std::uint64_t{0});
}

void PrinterIoTest::aFailedWriteStopsTheFile() {
    // No printer: PrinterHandle 0 is no handle, and the first chunk fails.
    const QString path = test::writeFile(environment_->path(QStringLiteral("f.ttf")), QByteArray(8'193, 'y'));
    QCOMPARE(bench_->sendFile(path), FileTransfer::PrinterGone);
    QCOMPARE(bench_->view.allLines, (QStringList{"Writing file ", "8193", "lRC = 1, fail"}));
}

void PrinterIoTest::statusBits_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<int>("length");  // bytes the printer gives; 0: all
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("toggle");
    QTest::addColumn<QString>("bytesLine");
    for (const auto& [link, name] : {std::pair{Link::Usb, "usb"}, std::pair{Link::Tcp, "tcp"}}) {
        QTest::addRow("%s busy and toggle", name)
            << link << QByteArray::fromHex("0000000022") << 0 << true << 1 << "0 0 0 0 22";
        QTest::addRow("%s nothing set", name)
            << link << QByteArray::fromHex("0000000000") << 0 << false << 0 << "0 0 0 0 0";
        QTest::addRow("%s busy only", name)
            << link << QByteArray::fromHex("0000000020") << 0 << true << 0 << "0 0 0 0 20";
        QTest::addRow("%s toggle only", name)
            << link << QByteArray::fromHex("1A0B000002") << 0 << false << 1 << "1A B 0 0 2";
        QTest::addRow("%s three bytes", name)
            << link << QByteArray::fromHex("0102032222") << 3 << false << 0 << "1 2 3 0 0";
    }
}

void PrinterIoTest::statusBits() {
    QFETCH(Link, link);
    QFETCH(QByteArray, status);
    QFETCH(int, length);
    QFETCH(bool, busy);
    QFETCH(int, toggle);
    QFETCH(QString, bytesLine);
    printersim::Faults faults;
    faults.statusBytes = std::vector<std::uint8_t>(status.begin(), status.end());
    if (length > 0) faults.statusLength = static_cast<std::size_t>(length);
    simulator_->printer().setFaults(faults);
    openLink(link);

    QCOMPARE(bench_->io.GetPrinterBusy(), busy);
    QCOMPARE(bench_->flashToggle(), toggle);
    const int received = length > 0 ? length : 5;
    // Over TCP a reply shorter than the status bytes is an incomplete one.
    if (link == Link::Tcp && length > 0) {
        QCOMPARE(lines(bench_->list), (QStringList{"GetPrinterBusy Entry", "Status read failed"}));
        return;
    }
    QCOMPARE(
        lines(bench_->list),
        (QStringList{"GetPrinterBusy Entry",
                     "Good status read, number of bytes read = " + QString::number(received), bytesLine}));
}

void PrinterIoTest::failedStatusReadIsNotBusy() {
    QVERIFY(!bench_->io.GetPrinterBusy());
    QCOMPARE(bench_->flashToggle(), 0);
    QCOMPARE(lines(bench_->list), (QStringList{"GetPrinterBusy Entry", "Status read failed"}));
}

void PrinterIoTest::ethernetFlashFirstTry() {
    openLink(Link::Tcp);
    const auto expected = static_cast<std::int32_t>(simulator_->printer().freeFlash());
    QVERIFY(expected > 0);
    QCOMPARE(bench_->io.readFlashSpaceEthernet().value_or(0), expected);
    QCOMPARE(bench_->sleeps, QList<int>{500});
    QCOMPARE(simulator_->printer().requestCount(printersim::Request::FlashSpace), std::uint64_t{1});
    QVERIFY(bench_->prompts.prompts().empty());
}

void PrinterIoTest::ethernetFlashRetriesAfterBadReplies() {
    printersim::Faults faults;
    faults.badFlashReplies = 3;
    simulator_->printer().setFaults(faults);
    openLink(Link::Tcp);
    QCOMPARE(bench_->io.readFlashSpaceEthernet().value_or(0),
             static_cast<std::int32_t>(simulator_->printer().freeFlash()));
    QCOMPARE(bench_->sleeps, QList<int>(4, 500));
    QCOMPARE(simulator_->printer().requestCount(printersim::Request::FlashSpace), std::uint64_t{4});
    QVERIFY(bench_->prompts.prompts().empty());
}

void PrinterIoTest::ethernetFlashGivesUpAfter21Attempts() {
    printersim::Faults faults;
    faults.badFlashReplies = 1'000;
    simulator_->printer().setFaults(faults);
    openLink(Link::Tcp);
    QCOMPARE(bench_->io.readFlashSpaceEthernet().value_or(0), 0);
    QCOMPARE(bench_->sleeps, QList<int>(21, 500));
    QCOMPARE(simulator_->printer().requestCount(printersim::Request::FlashSpace), std::uint64_t{21});
    QCOMPARE(bench_->prompts.messages(), QStringList{"Can't read flash remaining"});
    QCOMPARE(bench_->prompts.prompts().front().title, APPLICATION_TITLE);
}

void PrinterIoTest::ethernetFlashRefusesZero() {
    // A printer whose flash is full answers eight zero digits: not an answer.
    simulator_.reset();
    printersim::PrinterConfig config;
    config.flashSize = 0;
    simulator_ = std::make_unique<printersim::Simulator>(config);
    simulator_->listenTcp();
    openLink(Link::Tcp);
    QCOMPARE(bench_->io.readFlashSpaceEthernet().value_or(0), 0);
    QCOMPARE(simulator_->printer().requestCount(printersim::Request::FlashSpace), std::uint64_t{21});
    QCOMPARE(bench_->prompts.messages(), QStringList{"Can't read flash remaining"});
}

void PrinterIoTest::ethernetFlashEndsAtOnceWhenThePrinterHasClosed() {
    openLink(Link::Tcp);
    simulator_.reset();
    // A request the closed printer did not take ends the read: no retries.
    QVERIFY(!bench_->io.readFlashSpaceEthernet());
    QVERIFY2(bench_->sleeps.size() <= 1, qPrintable(QString::number(bench_->sleeps.size())));
    QCOMPARE(bench_->prompts.messages(), QStringList{"Can't read flash remaining"});
}

VELQUIN_QTEST_MAIN(PrinterIoTest)
#include "printer_io_test.moc"
