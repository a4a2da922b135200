// The program's moved spooler queues come back when the program ends without
// putting them back itself: a real program on its own X server that loses
// it, or the window quitting while a connect waits inside the library; a
// private cupsd, and nothing else run afterwards.
#include <signal.h>
#include <unistd.h>

#include <QProcess>

#include "app_test_support.h"
#include "private_cupsd.h"

using velquin::testing::PrivateCupsd;

namespace {

constexpr int PROCESS_TIMEOUT_MS = 20'000;
const std::string USB_URI = "usb://Maker/Ticket%20Printer?serial=A1";

// `program` as installed in `folder`, with the library and its guardian
// beside it; the path of the copy.
QString installWithLibrary(const QString& folder, const QString& program) {
    QDir().mkpath(folder);
    const QString copy = QDir(folder).filePath(QFileInfo(program).fileName());
    if (!QFile::copy(program, copy) ||
        !QFile::copy(QStringLiteral(MORLIX_LIBRARY_PATH), folder + QStringLiteral("/libmorlix.so")) ||
        !QFile::copy(QStringLiteral(MORLIX_GUARDIAN_PATH), folder + QStringLiteral("/morlix-guardian")))
        return {};
    return copy;
}

}  // namespace

class LostDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void queuesComeBackWhenTheDisplayIsLost();
    void quittingDuringAConnectEndsAtOnceAndTheQueuesComeBack();
};

void LostDisplayTest::queuesComeBackWhenTheDisplayIsLost() {
    if (std::string reason = PrivateCupsd::unavailableReason(); !reason.empty()) QSKIP(reason.c_str());
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) QSKIP("Xvfb is not installed");
    velquin::test::PrivateEnvironment environment;
    PrivateCupsd cupsd;
    QVERIFY2(cupsd.start(), cupsd.error().c_str());
    QVERIFY(cupsd.addQueue("ticket_usb", USB_URI));

    // An X server on a local socket only.
    const QString display = QStringLiteral(":%1").arg(300 + ::getpid() % 300);
    QProcess xserver;
    xserver.start(QStringLiteral("Xvfb"), {display, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(xserver.waitForStarted());
    const QString socket = QStringLiteral("/tmp/.X11-unix/X") + display.mid(1);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), PROCESS_TIMEOUT_MS);

    const QString folder = environment.path(QStringLiteral("program"));
    QVERIFY(!installWithLibrary(folder, QStringLiteral(VELQUIN_PROGRAM_PATH)).isEmpty());
    QProcess program;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    variables.insert(QStringLiteral("DISPLAY"), display);
    variables.insert(QStringLiteral("VELQUIN_UNATTENDED"), QStringLiteral("1"));
    variables.remove(QStringLiteral("MORLIX_GUARDIAN"));
    program.setProcessEnvironment(variables);
    program.setWorkingDirectory(folder);
    program.start(folder + QStringLiteral("/velquin"), {});
    QVERIFY(program.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(cupsd.deviceUri("ticket_usb"), std::string("/dev/null"), PROCESS_TIMEOUT_MS);

    ::kill(static_cast<pid_t>(xserver.processId()), SIGKILL);
    QVERIFY(xserver.waitForFinished(PROCESS_TIMEOUT_MS));
    QVERIFY(program.waitForFinished(PROCESS_TIMEOUT_MS));
    QTRY_COMPARE_WITH_TIMEOUT(cupsd.deviceUri("ticket_usb"), USB_URI, 5'000);
    QVERIFY(!cupsd.isStopped("ticket_usb"));
}

// "Stop it and quit?" answered Yes while the library waits on a printer that
// does not answer: the process is gone long before the connect's own limit
// (30 s), its mode saved, and the guardian puts the queues back.
void LostDisplayTest::quittingDuringAConnectEndsAtOnceAndTheQueuesComeBack() {
    if (std::string reason = PrivateCupsd::unavailableReason(); !reason.empty()) QSKIP(reason.c_str());
    velquin::test::PrivateEnvironment environment;
    PrivateCupsd cupsd;
    QVERIFY2(cupsd.start(), cupsd.error().c_str());
    QVERIFY(cupsd.addQueue("ticket_usb", USB_URI));
    velquin::test::SilentPeer printer;

    const QString folder = environment.path(QStringLiteral("program"));
    const QString path = installWithLibrary(folder, QStringLiteral(QUIT_WHILE_CONNECTING_PATH));
    QVERIFY(!path.isEmpty());
    QProcess program;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    variables.remove(QStringLiteral("MORLIX_GUARDIAN"));
    program.setProcessEnvironment(variables);
    program.setWorkingDirectory(folder);
    program.start(path, {QString::number(printer.port())});
    QVERIFY(program.waitForStarted());

    // The queue is moved off its device while the program runs; the operator
    // closes the window a second after the connect began.
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += program.readAllStandardError()).contains("may take up to 30 seconds"),
                             PROCESS_TIMEOUT_MS);
    QTRY_COMPARE_WITH_TIMEOUT(cupsd.deviceUri("ticket_usb"), std::string("/dev/null"), 500);
    QTRY_VERIFY_WITH_TIMEOUT((output += program.readAllStandardError()).contains("stop it and quit?"),
                             PROCESS_TIMEOUT_MS);
    // The silent printer keeps the library's attempt waiting 30 s for an
    // identity: a program that waited for it would outlast the 20 s allowed.
    QVERIFY(program.state() == QProcess::NotRunning || program.waitForFinished(PROCESS_TIMEOUT_MS));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(velquin::test::readFile(folder + QStringLiteral("/avrbl.txt")), QByteArray("0\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(cupsd.deviceUri("ticket_usb"), USB_URI, 5'000);
    QVERIFY(!cupsd.isStopped("ticket_usb"));
}

VELQUIN_QTEST_MAIN(LostDisplayTest)
#include "lost_display_test.moc"
