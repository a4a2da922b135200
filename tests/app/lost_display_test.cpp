// The program's moved spooler queues come back when the program loses its
// display and ends without its shutdown: a real program on its own X server
// that the test kills, a private cupsd, and nothing else run afterwards.
#include <signal.h>
#include <unistd.h>

#include <QProcess>

#include "app_test_support.h"
#include "private_cupsd.h"

using velquin::testing::PrivateCupsd;

namespace {

constexpr int PROCESS_TIMEOUT_MS = 20'000;
const std::string USB_URI = "usb://Maker/Ticket%20Printer?serial=A1";

}  // namespace

class LostDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void queuesComeBackWhenTheDisplayIsLost();
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

    // The program as installed: the library and its guardian beside it.
    const QString folder = environment.path(QStringLiteral("program"));
    QDir().mkpath(folder);
    QVERIFY(QFile::copy(QStringLiteral(VELQUIN_PROGRAM_PATH), folder + QStringLiteral("/velquin")));
    QVERIFY(QFile::copy(QStringLiteral(MORLIX_LIBRARY_PATH), folder + QStringLiteral("/libmorlix.so")));
    QVERIFY(QFile::copy(QStringLiteral(MORLIX_GUARDIAN_PATH), folder + QStringLiteral("/morlix-guardian")));
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

VELQUIN_QTEST_MAIN(LostDisplayTest)
#include "lost_display_test.moc"
