#include "app_test_support.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <utility>

#include "network_address_dialog.h"

namespace velquin::test {

namespace {

// Far beyond any start-up against the stand-in library or printer-sim.
constexpr int START_UP_TIMEOUT_MS = 60'000;

}  // namespace

PrivateEnvironment::PrivateEnvironment() {
    QDir(dir_.path()).mkpath(QStringLiteral("runtime"));
    QDir(dir_.path()).mkpath(QStringLiteral("devices"));
    QDir(dir_.path()).mkpath(QStringLiteral("config"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(QStringLiteral("runtime"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("config"))));
    qputenv("XDG_STATE_HOME", QFile::encodeName(path(QStringLiteral("state"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(path(QStringLiteral("data"))));
    // No spooler answers here, so no queue of this machine is ever moved.
    qputenv("CUPS_SERVER", QFile::encodeName(path(QStringLiteral("no-cupsd.sock"))));
    qputenv("MORLIX_DEVICE_ROOT", QFile::encodeName(path(QStringLiteral("devices"))));
    // Stand-in printers at one address in other test processes are not this one's.
    qputenv("VELQUIN_LOCK_SCOPE", QFile::encodeName(dir_.path()));
}

FakeMorlix::FakeMorlix(const QString& path) : library_(path) {
    if (!library_.load()) qFatal("cannot load %s: %s", qPrintable(path), qPrintable(library_.errorString()));
    reset();
}

void FakeMorlix::reset() {
    resolve<void()>("FakeMorlix_reset")();
}

QStringList FakeMorlix::calls() const {
    return QString::fromLatin1(resolve<const char*()>("FakeMorlix_calls")())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList FakeMorlix::mainThreadCalls() const {
    return QString::fromLatin1(resolve<const char*()>("FakeMorlix_mainThreadCalls")())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList FakeMorlix::callNames() const {
    QStringList names;
    for (const QString& call : calls()) names << call.section(QLatin1Char(' '), 0, 0);
    return names;
}

void FakeMorlix::setResult(const char* function, int result) {
    resolve<void(const char*, std::int32_t)>("FakeMorlix_setResult")(function, result);
}

void FakeMorlix::setMessage(const char* function, const char* message) {
    resolve<void(const char*, const char*)>("FakeMorlix_setMessage")(function, message);
}

void FakeMorlix::setPrinter(int portType, int logicBoard, int printerType, int printerModel, float version,
                            int freeFlash) {
    resolve<void(std::int32_t, std::int32_t, std::int32_t, std::int32_t, float, std::int32_t)>(
        "FakeMorlix_setPrinter")(portType, logicBoard, printerType, printerModel, version, freeFlash);
}

void FakeMorlix::setLinks(int handle, int socket, int connectDelayMs) {
    resolve<void(std::int32_t, std::int32_t, int)>("FakeMorlix_setLinks")(handle, socket, connectDelayMs);
}

void FakeMorlix::setSendLimit(int limit) {
    resolve<void(std::int32_t)>("FakeMorlix_setSendLimit")(limit);
}

void FakeMorlix::setStatus(const QByteArray& bytes) {
    resolve<void(const std::uint8_t*, std::int32_t)>("FakeMorlix_setStatus")(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::int32_t>(bytes.size()));
}

void FakeMorlix::setReadReply(const QByteArray& bytes) {
    resolve<void(const std::uint8_t*, std::int32_t)>("FakeMorlix_setReadReply")(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::int32_t>(bytes.size()));
}

WindowHarness::WindowHarness(const QString& libraryPath, const QString& folder) : library(libraryPath) {
    library.setPrompts(&prompts);
    const QDir dir(folder);
    window = std::make_unique<MainWindow>(library, prompts,
                                          StartupPaths{dir.filePath(QStringLiteral("avrbl.txt")),
                                                       dir.filePath(QStringLiteral("DemoMode.txt"))});
    window->io.setSleep([this](int milliseconds) { sleeps << milliseconds; });
}

WindowHarness::~WindowHarness() {
    if (window) window->Form_Unload();
}

bool WindowHarness::start() {
    // Events are processed, not a loop entered: once a test has ended the
    // program, the application's event loops return at once.
    QSignalSpy ended(window.get(), &MainWindow::startUpEnded);
    window->Form_Load();
    if (!QTest::qWaitFor([&] { return !ended.isEmpty(); }, START_UP_TIMEOUT_MS))
        qFatal("the start-up did not end");
    return ended.constFirst().constFirst().toBool();
}

SilentPeer::SilentPeer() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 1);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

void SilentPeer::release() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

QString writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

QColor textColour(const QLabel* label) {
    return label->palette().color(QPalette::WindowText);
}

namespace {

QList<const QLabel*> panelLabels(const MainWindow& window) {
    return {test::control<QLabel>(window, "lblPrinterFound"), test::control<QLabel>(window, "lblPortType"),
            test::control<QLabel>(window, "lblHardware"),     test::control<QLabel>(window, "lblPrinterType"),
            test::control<QLabel>(window, "lblPrinterModel"), test::control<QLabel>(window, "lblVersion")};
}

}  // namespace

QStringList panelTexts(const MainWindow& window) {
    QStringList texts;
    for (const QLabel* label : panelLabels(window)) texts << label->text();
    return texts;
}

QList<QColor> panelColours(const MainWindow& window) {
    QList<QColor> colours;
    for (const QLabel* label : panelLabels(window)) colours << textColour(label);
    return colours;
}

void connectThroughDialog(MainWindow& window, quint16 port) {
    QTimer::singleShot(0, &window, [&window, port] {
        NetworkAddressDialog& dialog = window.form1();
        typeAddress(dialog, "127", "0", "0", "1", QString::number(port));
        test::control<QPushButton>(dialog, "cmdCreateSocket")->click();
    });
    window.findNetworkPrinter();
    window.waitForWork();
}

void typeAddress(NetworkAddressDialog& dialog, const QString& o1, const QString& o2, const QString& o3,
                 const QString& o4, const QString& port) {
    test::control<QLineEdit>(dialog, "txtOctet1")->setText(o1);
    test::control<QLineEdit>(dialog, "txtOctet2")->setText(o2);
    test::control<QLineEdit>(dialog, "txtOctet3")->setText(o3);
    test::control<QLineEdit>(dialog, "txtOctet4")->setText(o4);
    test::control<QLineEdit>(dialog, "txtPort")->setText(port);
}

}  // namespace velquin::test
