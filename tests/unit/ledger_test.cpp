// The ledger of printer loads against real SQLite files: what it records,
// what it answers, and how it behaves when the file cannot be used.
#include "ledger.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <thread>

using namespace velquin::ledger;
using namespace std::chrono_literals;

namespace {

const velquin::PrinterIdentity RVB{QStringLiteral("RVB 3"), QStringLiteral("KTL"), QStringLiteral("MXR PLUS"),
                                   QStringLiteral("5.03")};
const PrinterKey PRINTER = PrinterKey::tcp(RVB, QStringLiteral("127.0.0.1"), 9100);
const PrinterKey OTHER = PrinterKey::local(RVB);

LoadStart start(const QString& path, LoadMode mode = LoadMode::TrueType,
                std::optional<qint64> freeBefore = std::nullopt) {
    LoadStart start;
    start.path = path;
    start.mode = mode;
    start.freeBefore = freeBefore;
    return start;
}

class LedgerTest : public ::testing::Test {
protected:
    QString file() const { return dir.filePath(QStringLiteral("velquin/ledger.sqlite")); }

    // A file of `content` in the test folder.
    QString makeFile(const QString& name, const QByteArray& content) {
        const QString path = dir.filePath(name);
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(content) == content.size());
        return path;
    }

    // Records one load of `path` from start to end.
    static void load(Ledger& ledger, const PrinterKey& printer, const QString& path, Outcome outcome,
                     std::optional<qint64> freeAfter = std::nullopt) {
        ledger.loadFinished(ledger.loadStarting(printer, start(path)), outcome, freeAfter);
    }

    QTemporaryDir dir;
};

TEST_F(LedgerTest, RecordsLoadsAndErasesWithTheirFields) {
    const QString font = makeFile(QStringLiteral("a.sff"), "source");
    const QByteArray converted = QByteArray(5000, 'q');
    const QString convertedPath = makeFile(QStringLiteral("a.qks"), converted);
    const QString image = makeFile(QStringLiteral("b.pcx"), "image bytes");
    const QDateTime before = QDateTime::currentDateTimeUtc();
    {
        Ledger ledger(file());
        const LoadTicket first = ledger.loadStarting(PRINTER, start(image, LoadMode::Pcx, 10'000));
        ledger.loadFinished(first, Outcome::NotConfirmed, 0);
        LoadStart softFont = start(font, LoadMode::SoftFont, 9'000);
        softFont.fontId = 7;
        softFont.sentFile = convertedPath;
        const LoadTicket second = ledger.loadStarting(PRINTER, softFont);
        ledger.loadFinished(second, Outcome::Confirmed, 4'000);

        const std::vector<LoadRecord> loads = ledger.loads(PRINTER);
        ASSERT_EQ(loads.size(), 2u);
        const LoadRecord& newest = loads[0];
        EXPECT_EQ(newest.path, font);
        EXPECT_EQ(newest.mode, LoadMode::SoftFont);
        EXPECT_EQ(newest.sha256, QCryptographicHash::hash(converted, QCryptographicHash::Sha256).toHex());
        EXPECT_EQ(newest.size, converted.size());
        EXPECT_EQ(newest.fontId, 7);
        EXPECT_EQ(newest.freeBefore, 9'000);
        EXPECT_EQ(newest.freeAfter, 4'000);
        EXPECT_EQ(newest.outcome, Outcome::Confirmed);
        EXPECT_GE(newest.time, before.addMSecs(-1));
        EXPECT_LE(newest.time, QDateTime::currentDateTimeUtc());
        EXPECT_EQ(loads[1].path, image);
        EXPECT_EQ(loads[1].outcome, Outcome::NotConfirmed);
        EXPECT_EQ(loads[1].fontId, std::nullopt);
        EXPECT_EQ(loads[1].freeAfter, std::nullopt) << "0 is a flash query without answer";

        // A failed erase takes nothing away; a confirmed one takes all.
        ledger.erased(PRINTER, Outcome::Failed, 4'000, 0);
        EXPECT_EQ(ledger.loads(PRINTER).size(), 2u);
        ledger.erased(PRINTER, Outcome::Confirmed, 4'000, 20'000);
        EXPECT_TRUE(ledger.loads(PRINTER).empty());
        const std::vector<LoadRecord> all = ledger.loads(PRINTER, LoadScope::All);
        ASSERT_EQ(all.size(), 2u);
        EXPECT_TRUE(all[0].erased && all[1].erased);
        const std::vector<EraseRecord> erases = ledger.erases(PRINTER);
        ASSERT_EQ(erases.size(), 2u);
        EXPECT_EQ(erases[0].outcome, Outcome::Confirmed);
        EXPECT_EQ(erases[0].freeBefore, 4'000);
        EXPECT_EQ(erases[0].freeAfter, 20'000);
        EXPECT_TRUE(ledger.loads(OTHER, LoadScope::All).empty());
        QStringList kinds;
        for (const auto& entry : ledger.historyJson(PRINTER))
            kinds << entry.toObject()[QStringLiteral("kind")].toString();
        EXPECT_EQ(kinds, QStringList({"erase", "erase", "load", "load"}));

        // Started but never finished when the program ends.
        ledger.loadStarting(PRINTER, start(image, LoadMode::Pcx));
    }
    Ledger reopened(file());
    const std::vector<LoadRecord> loads = reopened.loads(PRINTER);
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0].outcome, Outcome::NotConfirmed);
    EXPECT_EQ(loads[0].sha256, Ledger::sha256OfFile(image));
    for (const char* text : {"127.0.0.1:9100", "rvb 3", ""})
        EXPECT_EQ(reopened.printersMatching(QLatin1String(text)), std::vector<PrinterKey>{PRINTER}) << text;
    EXPECT_TRUE(reopened.printersMatching(QStringLiteral("local")).empty());
}

TEST_F(LedgerTest, HeldAreTheConfirmedLoadsSinceTheLastErase) {
    QStringList files;
    for (const char* name : {"a", "b", "c", "d", "e"}) files << makeFile(QLatin1String(name), name);
    files << dir.filePath(QStringLiteral("missing"));
    Ledger ledger(file());
    PrinterLedger printer(&ledger, PRINTER);
    // Through the upload's calls: one load left without its end.
    printer.beforeLoad(files[0], LoadMode::TrueType, 1000);
    printer.afterLoad(Outcome::Confirmed, 900);
    printer.beforeLoad(files[1], LoadMode::TrueType, 900);
    printer.beforeLoad(files[2], LoadMode::TrueType, 900);
    printer.afterLoad(Outcome::Failed, 900);
    printer.beforeLoad(files[5], LoadMode::TrueType, 900);
    printer.afterLoad(Outcome::Failed, 900);
    load(ledger, OTHER, files[4], Outcome::Confirmed);
    EXPECT_EQ(ledger.heldFiles(PRINTER, files), (std::vector<bool>{true, false, false, false, false, false}));
    printer.afterErase(Outcome::NotConfirmed, std::nullopt, std::nullopt);
    load(ledger, PRINTER, files[3], Outcome::Confirmed);
    EXPECT_EQ(ledger.heldFiles(PRINTER, files), (std::vector<bool>{false, false, false, true, false, false}));
    EXPECT_EQ(ledger.heldFiles(OTHER, files), (std::vector<bool>{false, false, false, false, true, false}));
    // By content: the same bytes under another name are held too.
    const QString copy = makeFile(QStringLiteral("copy"), "d");
    EXPECT_EQ(ledger.heldFiles(PRINTER, {copy}), std::vector<bool>{true});
    EXPECT_EQ(ledger.loads(PRINTER, LoadScope::All).size(), 5u);
    EXPECT_TRUE(ledger.usable()) << ledger.problem().toStdString();
}

TEST_F(LedgerTest, FreeFlashIsComparedWithTheLastReading) {
    const QString path = makeFile(QStringLiteral("a.ttf"), "font");
    Ledger ledger(file());
    EXPECT_EQ(ledger.checkFreeFlash(PRINTER, 1000).agreement, FlashAgreement::NeverSeen);
    load(ledger, PRINTER, path, Outcome::Confirmed, 900);
    load(ledger, PRINTER, path, Outcome::Failed, 0);  // no answer: not a reading
    struct Case {
        std::optional<qint64> now;
        FlashAgreement agreement;
    };
    for (const Case& c : {Case{900, FlashAgreement::Agrees}, Case{850, FlashAgreement::ChangedSinceLastSeen},
                          Case{2000, FlashAgreement::ChangedSinceLastSeen}, Case{0, FlashAgreement::Unknown},
                          Case{std::nullopt, FlashAgreement::Unknown}}) {
        const FlashCheck check = ledger.checkFreeFlash(PRINTER, c.now);
        EXPECT_EQ(check.agreement, c.agreement) << c.now.value_or(-1);
        EXPECT_EQ(check.expected, 900);
    }
    ledger.erased(PRINTER, Outcome::Confirmed, 900, 2000);
    EXPECT_EQ(ledger.checkFreeFlash(PRINTER, 2000).agreement, FlashAgreement::Agrees);
    EXPECT_EQ(ledger.checkFreeFlash(OTHER, 2000).agreement, FlashAgreement::NeverSeen);
}

TEST_F(LedgerTest, TwoProcessesWritingAtOnceLoseNoRow) {
    constexpr int LOADS = 150;
    const QString path = makeFile(QStringLiteral("a.ttf"), "font");
    const PrinterKey printers[] = {PRINTER, OTHER};
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = ::fork();
        ASSERT_GE(children[i], 0);
        if (children[i] == 0) {
            bool ok = true;
            {
                Ledger ledger(file());
                // One transaction per load, so that the two interleave.
                for (int n = 0; n < LOADS && ok; ++n) {
                    load(ledger, printers[i], path, Outcome::Confirmed, 1000 - n);
                    ok = ledger.flush(10s);
                }
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Ledger ledger(file());
    for (const PrinterKey& printer : printers) EXPECT_EQ(ledger.loads(printer).size(), std::size_t{LOADS});
}

TEST_F(LedgerTest, LoadsGoOnWhileAnotherWriterHoldsTheLock) {
    const QString path = makeFile(QStringLiteral("a.ttf"), "font");
    { Ledger(file()).printers(); }  // creates the file
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(file()).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    std::atomic<int> reports = 0;
    Ledger ledger(file(), [&reports](const QString&) { ++reports; });
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < 100; ++n) load(ledger, PRINTER, path, Outcome::Confirmed, 1000);
    // Far below a single busy time-out of the writer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_FALSE(ledger.flush(100ms));

    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(ledger.flush(10s));
    EXPECT_EQ(ledger.loads(PRINTER).size(), 100u);
    EXPECT_EQ(reports, 0);
}

// Runs the calls of a load and of the views against a ledger that cannot
// be used; gives the number of reports, or -1 when a call misbehaved.
int reportsFromUnusableLedger(const QString& file, const QString& path) {
    std::atomic<int> reports = 0;
    QString message;
    {
        Ledger ledger(file, [&](const QString& text) {
            ++reports;
            message = text;
        });
        for (int n = 0; n < 20; ++n) {
            const LoadTicket ticket = ledger.loadStarting(PRINTER, start(path, LoadMode::TrueType, 1000));
            ledger.flush(1s);
            ledger.loadFinished(ticket, Outcome::Confirmed, 900);
        }
        ledger.erased(PRINTER, Outcome::Confirmed, 900, 2000);
        if (!ledger.loads(PRINTER).empty() || ledger.held(PRINTER, {"00"}) != std::vector<bool>{false} ||
            ledger.checkFreeFlash(PRINTER, 2000).agreement != FlashAgreement::Unknown || ledger.usable())
            return -1;
    }
    return message.contains(file) ? reports.load() : -1;
}

TEST_F(LedgerTest, AnUnusableLedgerIsReportedOnceAndLeftAlone) {
    const QString path = makeFile(QStringLiteral("a.ttf"), "font");
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("velquin")));

    // Not a database.
    QFile corrupt(file());
    ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
    corrupt.write(QByteArray(8192, '\x5a'));
    corrupt.close();
    EXPECT_EQ(reportsFromUnusableLedger(file(), path), 1);

    // Written by a newer version of the program.
    ASSERT_TRUE(QFile::remove(file()));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(file()).constData(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(reportsFromUnusableLedger(file(), path), 1);

    // A folder the operator cannot write to: root writes anywhere, so the
    // child runs as nobody then.
    ASSERT_TRUE(QFile::remove(file()));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                          QFile::ExeGroup);
    QFile::setPermissions(QFileInfo(file()).path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                                        QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t NOBODY = 65534;
        if (::geteuid() == 0 && (::setgid(NOBODY) != 0 || ::setuid(NOBODY) != 0)) ::_exit(100);
        ::_exit(reportsFromUnusableLedger(file(), path) == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(QFile::exists(file()));
}

// A ledger that fails while in use is reported once, as one that fails at
// start, and nothing more goes into it.
TEST_F(LedgerTest, ALedgerDamagedOrRemovedWhileInUseIsReportedOnce) {
    const QString path = makeFile(QStringLiteral("a.ttf"), "font");
    for (const bool removed : {false, true}) {
        SCOPED_TRACE(removed ? "removed" : "overwritten");
        QFile::remove(file());
        std::atomic<int> reports = 0;
        {
            Ledger ledger(file(), [&](const QString&) { ++reports; });
            load(ledger, PRINTER, path, Outcome::Confirmed, 900);
            ASSERT_TRUE(ledger.flush());
            if (removed) {
                ASSERT_TRUE(QFile::remove(file()));
            } else {
                QFile damaged(file());
                ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
                damaged.write(QByteArray(4096, '\x5a'));
            }
            for (int n = 0; n < 3; ++n) load(ledger, PRINTER, path, Outcome::Confirmed, 800);
            EXPECT_FALSE(ledger.flush());
            EXPECT_FALSE(ledger.usable());
        }  // the report is told from the writer thread, ended here
        EXPECT_EQ(reports, 1);
        EXPECT_EQ(QFile::exists(file()), !removed);
    }
}

// A load is in the file from its start: a process killed during it leaves it
// there, not confirmed, and what was judged before stays as judged.
TEST_F(LedgerTest, AProcessKilledDuringALoadLeavesItRecorded) {
    const QString first = makeFile(QStringLiteral("a.ttf"), "first");
    const QString second = makeFile(QStringLiteral("b.ttf"), "second");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto* ledger = new Ledger(file());  // never destroyed: the process is killed
        PrinterLedger printer(ledger, PRINTER);
        printer.beforeLoad(first, LoadMode::TrueType, 1000);
        printer.afterLoad(Outcome::Confirmed, 900);
        printer.beforeLoad(second, LoadMode::TrueType, 900);
        const char byte = 1;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
        for (;;) ::pause();
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    ::close(ready[0]);
    ::close(ready[1]);

    Ledger ledger(file());
    const std::vector<LoadRecord> loads = ledger.loads(PRINTER);
    ASSERT_EQ(loads.size(), 2u);
    EXPECT_EQ(loads[0].path, second);
    EXPECT_EQ(loads[0].outcome, Outcome::NotConfirmed);
    EXPECT_EQ(loads[1].path, first);
    EXPECT_EQ(loads[1].outcome, Outcome::Confirmed);
    EXPECT_EQ(loads[1].freeAfter, 900);
}

// A ledger written at schema 1 (printers keyed by caption texts) opens with
// every row kept, each printer keyed by its values, its loads and erases
// still its own.
TEST_F(LedgerTest, ASchemaOneLedgerIsRekeyedByValuesLosingNothing) {
    QDir().mkpath(QFileInfo(file()).absolutePath());
    ASSERT_TRUE(QFile::copy(QStringLiteral(SCHEMA1_LEDGER), file()));
    QFile(file()).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    Ledger ledger(file());
    const velquin::PrinterIdentity rva{QStringLiteral("RVA"), QStringLiteral("KTL"),
                                       QStringLiteral("MXR PLUS"), QStringLiteral("5.07")};
    const PrinterKey tcp = PrinterKey::tcp(rva, QStringLiteral("127.0.0.1"), 40197);
    const PrinterKey local = PrinterKey::local(rva);
    EXPECT_EQ(ledger.printers(), (std::vector<PrinterKey>{tcp, local})) << ledger.problem().toStdString();
    const struct {
        PrinterKey printer;
        std::size_t loads, current, erases;
        const char* held;  // the file the printer holds since its erase
    } expected[] = {{tcp, 4, 1, 1, "fonts/b.ttf"}, {local, 3, 2, 1, "fonts/courier10.sfp"}};
    for (const auto& row : expected) {
        EXPECT_EQ(ledger.loads(row.printer, LoadScope::All).size(), row.loads)
            << row.printer.link.toStdString();
        const std::vector<LoadRecord> current = ledger.loads(row.printer);
        ASSERT_EQ(current.size(), row.current);
        EXPECT_EQ(current.front().path, QLatin1String(row.held));
        EXPECT_EQ(ledger.held(row.printer, {current.front().sha256}), std::vector<bool>{true});
        EXPECT_EQ(ledger.erases(row.printer).size(), row.erases);
    }
    // New records go to the re-keyed printer.
    load(ledger, tcp, makeFile(QStringLiteral("c.ttf"), "new"), Outcome::Confirmed);
    EXPECT_EQ(ledger.loads(tcp).size(), 2u);
    EXPECT_EQ(ledger.printers().size(), 2u);
    EXPECT_TRUE(ledger.usable()) << ledger.problem().toStdString();
}

TEST_F(LedgerTest, ALoadRecordsTheBytesSentNotTheFileAsItIsLater) {
    const QByteArray sent = "the bytes the printer got";
    const QString path = makeFile(QStringLiteral("a.ttf"), sent);
    Ledger ledger(file());
    PrinterLedger printer(&ledger, PRINTER);
    printer.beforeLoad(path, LoadMode::TrueType, 1000);
    printer.fileBytesSent(std::span(reinterpret_cast<const std::uint8_t*>(sent.constData()),
                                    static_cast<std::size_t>(sent.size())));
    makeFile(QStringLiteral("a.ttf"), "edited while the ledger was busy");
    printer.afterLoad(Outcome::Confirmed, 900);

    const std::vector<LoadRecord> loads = ledger.loads(PRINTER);
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0].sha256, QCryptographicHash::hash(sent, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(loads[0].size, sent.size());
    // The edited file is not what the printer holds.
    EXPECT_EQ(ledger.heldFiles(PRINTER, {path}), std::vector<bool>{false});
}

TEST_F(LedgerTest, RowsLeftAtTheEndWaitOutALockLongerThanOneBusyTimeOut) {
    const QString path = makeFile(QStringLiteral("a.ttf"), "font");
    { Ledger(file()).printers(); }  // creates the file
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(file()).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([other] {
        std::this_thread::sleep_for(3s);
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(other);
    });
    std::atomic<int> reports = 0;
    {
        Ledger ledger(file(), [&reports](const QString&) { ++reports; });
        for (int n = 0; n < 3; ++n) load(ledger, PRINTER, path, Outcome::Confirmed, 1000);
    }
    release.join();
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(Ledger(file()).loads(PRINTER).size(), 3u);
}

}  // namespace
