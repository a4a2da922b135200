// Shared pieces of the program's tests: a private environment per test
// process, the recording stand-in library, and a main window on scripted
// prompts.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QLibrary>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "main_window.h"
#include "morlix_library.h"
#include "operator_prompts.h"

// Runs a QtTest class on the offscreen platform unless another is asked for.
#define VELQUIN_QTEST_MAIN(TestClass)                                                                \
    int main(int argc, char* argv[]) {                                                               \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
        QApplication application(argc, argv);                                                        \
        TestClass test;                                                                              \
        return QTest::qExec(&test, argc, argv);                                                      \
    }

namespace velquin::test {

// The window's control of that object name (its member's name in the window).
template <typename Control>
Control* control(const QObject& window, const char* name) {
    auto* found = window.findChild<Control*>(QLatin1String(name));
    if (found == nullptr) qFatal("no control named %s", name);
    return found;
}

// A folder of this process's own, and an environment that keeps the library
// away from the machine: the single-instance lock, the spooler, the device
// root, the configuration folder and the ledger all point into it.
class PrivateEnvironment {
public:
    PrivateEnvironment();
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString root() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

// The recording stand-in for libmorlix.so (fake_morlix.cpp).
class FakeMorlix {
public:
    explicit FakeMorlix(const QString& path);
    void reset();
    // Every call so far, one line each ("ClosePrinterHandleVB 7").
    QStringList calls() const;
    // The calls made from the process's first thread (the window's).
    QStringList mainThreadCalls() const;
    // Only the names of the calls, in order.
    QStringList callNames() const;
    void setResult(const char* function, int result);
    void setMessage(const char* function, const char* message);
    void setPrinter(int portType, int logicBoard, int printerType, int printerModel, float version,
                    int freeFlash);
    void setLinks(int handle, int socket, int connectDelayMs);
    void setStatus(const QByteArray& bytes);
    // Each network send takes at most `limit` bytes (0: all), as a full socket may.
    void setSendLimit(int limit);
    void setReadReply(const QByteArray& bytes);

private:
    template <typename Function>
    Function* resolve(const char* name) const {
        return reinterpret_cast<Function*>(library_.resolve(name));
    }
    mutable QLibrary library_;
};

// A main window on the given library, answering through scripted prompts,
// with its mode file and demo marker in `folder`.
struct WindowHarness {
    WindowHarness(const QString& libraryPath, const QString& folder);
    ~WindowHarness();
    // Runs the start-up to its end; true when the window would be shown.
    bool start();
    QString modeFile() const { return window->paths().modeFile; }
    QString demoMarker() const { return window->paths().demoMarker; }

    ScriptedOperatorPrompts prompts;
    MorlixLibrary library;
    std::unique_ptr<MainWindow> window;
    QList<int> sleeps;  // the fixed waits the window asked for, in ms
};

// A loopback peer whose connection the kernel accepts and nobody answers;
// closing it resets the connection, which ends a connect waiting on it.
class SilentPeer {
public:
    SilentPeer();
    ~SilentPeer() { release(); }
    SilentPeer(const SilentPeer&) = delete;
    SilentPeer& operator=(const SilentPeer&) = delete;
    quint16 port() const { return port_; }
    void release();

private:
    int fd_;
    quint16 port_ = 0;
};

inline const QColor GREEN(0, 255, 0);
inline const QColor RED(255, 0, 0);

// The printer panel's six value labels, top to bottom: their texts and
// their text colours.
QStringList panelTexts(const MainWindow& window);
QList<QColor> panelColours(const MainWindow& window);

// Runs "Find Network Printer": types 127.0.0.1 and the port into the dialog
// and clicks "Connect" (never the dialog's own default address).
void connectThroughDialog(MainWindow& window, quint16 port);

// Writes a file with the given bytes; the path.
QString writeFile(const QString& path, const QByteArray& content);
QByteArray readFile(const QString& path);
// Text colour of a label.
QColor textColour(const class QLabel* label);
// Sets the four octets and the port of the network dialog.
void typeAddress(class NetworkAddressDialog& dialog, const QString& o1, const QString& o2, const QString& o3,
                 const QString& o4, const QString& port);

}  // namespace velquin::test
