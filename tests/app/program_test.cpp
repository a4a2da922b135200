// The program as a whole, in real processes: a second copy is refused while
// the first runs, a missing library ends the program cleanly, and a
// termination signal runs the normal shutdown.
#include <signal.h>

#include <QProcess>

#include "app_test_support.h"
#include "simulator.h"
#include "velquin/build_info.h"

using namespace velquin;

namespace {

constexpr int PROCESS_TIMEOUT_MS = 20'000;

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void secondInstanceIsRefusedWhileTheFirstRuns();
    void missingLibraryEndsCleanly();
    void commandLineOptions_data();
    void commandLineOptions();

private:
    // A copy of the program (with the library unless told otherwise) in a
    // folder of its own, so its mode file lands there.
    QString installProgram(const QString& folder, bool withLibrary);
    std::unique_ptr<QProcess> startProgram(const QString& program, const QStringList& arguments = {});

    std::unique_ptr<test::PrivateEnvironment> environment_;
    std::unique_ptr<printersim::Simulator> simulator_;
};

void ProgramTest::initTestCase() {
    environment_ = std::make_unique<test::PrivateEnvironment>();
    simulator_ = std::make_unique<printersim::Simulator>();
    simulator_->addDevice(printersim::usbDevicePath(environment_->path("devices").toStdString(), 0));
}

QString ProgramTest::installProgram(const QString& folder, bool withLibrary) {
    QDir().mkpath(folder);
    const QString program = QDir(folder).filePath(QStringLiteral("velquin"));
    QFile::copy(QStringLiteral(VELQUIN_PROGRAM_PATH), program);
    if (withLibrary)
        QFile::copy(QStringLiteral(MORLIX_LIBRARY_PATH),
                    QDir(folder).filePath(QStringLiteral("libmorlix.so")));
    return program;
}

std::unique_ptr<QProcess> ProgramTest::startProgram(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("VELQUIN_UNATTENDED"), QStringLiteral("1"));
    process->setProcessEnvironment(environment);  // carries the private environment
    process->setWorkingDirectory(QFileInfo(program).absolutePath());
    process->start(program, arguments);
    return process;
}

void ProgramTest::secondInstanceIsRefusedWhileTheFirstRuns() {
    const QString program = installProgram(environment_->path(QStringLiteral("first")), true);
    std::unique_ptr<QProcess> first = startProgram(program);
    QVERIFY(first->waitForStarted());
    // The flash query is the last step of the start-up; the guard is held long before.
    QTRY_VERIFY_WITH_TIMEOUT(simulator_->printer().requestCount(printersim::Request::DeviceFlash) >= 1,
                             PROCESS_TIMEOUT_MS);

    std::unique_ptr<QProcess> second =
        startProgram(installProgram(environment_->path(QStringLiteral("second")), true));
    QVERIFY(second->waitForFinished(PROCESS_TIMEOUT_MS));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    const QString refusal = QString::fromLocal8Bit(second->readAllStandardError());
    QVERIFY2(refusal.contains(QStringLiteral(
                 "Zara Rida Davezo | Another instance of ZE VEVIR is currently running, please try latter")),
             qPrintable(refusal));
    QVERIFY(!QFile::exists(environment_->path(QStringLiteral("second/avrbl.txt"))));
    QCOMPARE(first->state(), QProcess::Running);

    // The first ends through its shutdown on a termination signal.
    ::kill(static_cast<pid_t>(first->processId()), SIGTERM);
    QVERIFY(first->waitForFinished(PROCESS_TIMEOUT_MS));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QCOMPARE(test::readFile(environment_->path(QStringLiteral("first/avrbl.txt"))), QByteArray("0\r\n"));

    // With the first gone, a new copy runs.
    std::unique_ptr<QProcess> third = startProgram(program);
    QVERIFY(third->waitForStarted());
    QVERIFY(!third->waitForFinished(1'500));
    ::kill(static_cast<pid_t>(third->processId()), SIGTERM);
    QVERIFY(third->waitForFinished(PROCESS_TIMEOUT_MS));
    QCOMPARE(third->exitCode(), 0);
}

void ProgramTest::missingLibraryEndsCleanly() {
    const QString program = installProgram(environment_->path(QStringLiteral("alone")), false);
    std::unique_ptr<QProcess> process = startProgram(program);
    QVERIFY(process->waitForFinished(PROCESS_TIMEOUT_MS));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 1);
    const QString errors = QString::fromLocal8Bit(process->readAllStandardError());
    QVERIFY2(errors.contains(QStringLiteral("libmorlix.so could not be loaded")), qPrintable(errors));
    QVERIFY(!QFile::exists(environment_->path(QStringLiteral("alone/avrbl.txt"))));
}

// The program's own options are answered before start-up; Qt's single-dash
// options go on to Qt, so the program starts (and, without its library,
// ends with exit code 1).
void ProgramTest::commandLineOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "velquin " VELQUIN_VERSION;
    QTest::newRow("-v") << QStringList{"-v"} << 0 << "velquin " VELQUIN_VERSION;
    QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage:";
    QTest::newRow("-reverse") << QStringList{"-reverse"} << 1 << "";
    QTest::newRow("-stylesheet F") << QStringList{"-stylesheet", "none.qss"} << 1 << "";
}

void ProgramTest::commandLineOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const QString program = installProgram(environment_->path(QStringLiteral("options")), false);
    std::unique_ptr<QProcess> process = startProgram(program, arguments);
    QVERIFY(process->waitForFinished(PROCESS_TIMEOUT_MS));
    QCOMPARE(process->exitCode(), exitCode);
    const QString printed = QString::fromLocal8Bit(process->readAllStandardOutput());
    if (output.isEmpty())
        QCOMPARE(printed, QString());
    else
        QVERIFY2(printed.startsWith(output), qPrintable(printed));
}

VELQUIN_QTEST_MAIN(ProgramTest)
#include "program_test.moc"
