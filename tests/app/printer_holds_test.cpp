// The window's view of what a printer holds, fed by velquin-load runs
// against printer-sim on 127.0.0.1: a held row is marked without changing
// its text, and a load that bypassed the ledger shows as "changed since
// last seen".
#include "printer_holds.h"

#include <QProcess>

#include "../support/loadable_files.h"
#include "app_test_support.h"
#include "file_list.h"
#include "list_grid.h"
#include "simulator.h"

using namespace velquin;

class PrinterHoldsTest : public QObject {
    Q_OBJECT

private slots:
    void marksHeldRowsAndSeesALoadThatBypassedTheLedger();
};

namespace {

// velquin-load send FILE to the simulator, with its ledger under dataHome.
int sendWithLedgerIn(const QString& dataHome, const QString& file, quint16 port) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELQUIN_LOAD_PATH),
                  {QStringLiteral("send"), file, QStringLiteral("--printer"),
                   QStringLiteral("tcp:127.0.0.1:%1").arg(port)});
    if (!process.waitForFinished(60'000)) return -1;
    return process.exitCode();
}

QString font(const QString& path, unsigned seed) {
    return test::writeFile(path, testing::trueTypeFile(5'004, seed));
}

}  // namespace

void PrinterHoldsTest::marksHeldRowsAndSeesALoadThatBypassedTheLedger() {
    test::PrivateEnvironment environment;
    printersim::Simulator simulator;
    simulator.listenTcp();
    const QString held = font(environment.path(QStringLiteral("held.ttf")), 1);
    const QString other = font(environment.path(QStringLiteral("other.ttf")), 2);
    QCOMPARE(sendWithLedgerIn(environment.path(QStringLiteral("data")), held, simulator.port()), 0);

    QWidget parent;
    ScriptedOperatorPrompts prompts;
    PrinterHolds holds(parent, prompts);
    const std::vector<ledger::PrinterKey> printers = holds.ledger().printers();
    QCOMPARE(printers.size(), std::size_t{1});
    holds.printerFound(printers.front(), static_cast<qint64>(simulator.printer().freeFlash()));
    QString text = holds.holdsText();
    QVERIFY2(text.contains(held) && !text.contains(QStringLiteral("changed since last seen")),
             qPrintable(text));

    FileList list;
    list.append(held, 1);
    list.append(other, 1);
    holds.markHeldRows(list, LoaderMode::ModeTTF);
    ListPresentation grid;
    grid.setSourceModel(&list);
    QCOMPARE(grid.index(1, 1).data(Qt::ToolTipRole).toString(), HELD_ROW_TOOLTIP + QLatin1Char('\n') + held);
    QCOMPARE(grid.index(1, 1).data().toString(), held);
    QVERIFY(grid.index(1, 1).data(Qt::ForegroundRole).isValid());
    QCOMPARE(grid.index(2, 1).data(Qt::ToolTipRole).toString(), other);
    QVERIFY(!grid.index(2, 1).data(Qt::ForegroundRole).isValid());

    // Loaded elsewhere: another ledger records it, this one does not.
    QCOMPARE(sendWithLedgerIn(environment.path(QStringLiteral("elsewhere")), other, simulator.port()), 0);
    holds.printerFound(printers.front(), static_cast<qint64>(simulator.printer().freeFlash()));
    text = holds.holdsText();
    QVERIFY2(text.contains(QStringLiteral("changed since last seen")), qPrintable(text));
    QVERIFY(!text.contains(other));
    // A record the printer no longer agrees with marks nothing.
    holds.markHeldRows(list, LoaderMode::ModeTTF);
    QVERIFY(!grid.index(1, 1).data(Qt::ForegroundRole).isValid());
}

VELQUIN_QTEST_MAIN(PrinterHoldsTest)
#include "printer_holds_test.moc"
