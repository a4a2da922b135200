// The benchmarks' way into the real window: the network printer found
// through the address dialog (127.0.0.1 only), then the list built with
// "Add To List", as an operator would.
#pragma once

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>

#include "../tests/support/loadable_files.h"
#include "main_window.h"
#include "morlix_library.h"
#include "network_address_dialog.h"
#include "operator_prompts.h"
#include "simulator.h"

namespace velquin::bench {

// Keeps the library away from this machine's lock, spooler, devices and
// settings: every such folder lies inside `dir`. Call before QApplication.
inline void usePrivateEnvironment(const QTemporaryDir& dir) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const QDir root(dir.path());
    for (const char* folder : {"runtime", "devices", "config", "state", "data"}) root.mkpath(folder);
    QFile::setPermissions(root.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const auto set = [&root](const char* name, const char* entry) {
        qputenv(name, QFile::encodeName(root.filePath(QLatin1String(entry))));
    };
    set("XDG_RUNTIME_DIR", "runtime");
    set("XDG_CONFIG_HOME", "config");
    set("XDG_STATE_HOME", "state");
    set("XDG_DATA_HOME", "data");
    set("CUPS_SERVER", "no-cupsd.sock");
    set("MORLIX_DEVICE_ROOT", "devices");
}

// A printer with room for the benchmarks' lists, listening on 127.0.0.1;
// `writeBytesPerSecond` 0 ends each flash write at once.
inline std::unique_ptr<printersim::Simulator> listeningPrinter(std::uint64_t writeBytesPerSecond) {
    printersim::PrinterConfig config;
    config.writeBytesPerSecond = writeBytesPerSecond;
    config.flashSize = 64ull * 1024 * 1024;
    auto simulator = std::make_unique<printersim::Simulator>(config);
    simulator->listenTcp();
    return simulator;
}

// A True Type file of `size` bytes whose one table holds varied bytes, so
// "Add To List" takes it for a font.
inline QByteArray fontLikeBytes(qsizetype size, unsigned seed) {
    return velquin::testing::trueTypeFile(size, seed);
}

// Writes `count` such files named fontN.ttf into `folder`; their paths, or
// nothing when one could not be written.
inline QStringList writeFontFiles(const QDir& folder, int count, qsizetype size) {
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QString path = folder.filePath(QStringLiteral("font%1.ttf").arg(i));
        const QByteArray content = fontLikeBytes(size, static_cast<unsigned>(i + 1));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) return {};
        paths << path;
    }
    return paths;
}

// False, with a line on standard error, when the window did not connect.
inline bool connectAndList(MainWindow& window, ScriptedOperatorPrompts& prompts, int port,
                           const QStringList& files) {
    const QString portText = QString::number(port);
    QTimer::singleShot(0, &window, [&window, portText] {
        NetworkAddressDialog& dialog = window.form1();
        const auto box = [&dialog](const char* name) {
            return dialog.findChild<QLineEdit*>(QLatin1String(name));
        };
        for (auto [name, text] : {std::pair{"txtOctet1", "127"}, std::pair{"txtOctet2", "0"},
                                  std::pair{"txtOctet3", "0"}, std::pair{"txtOctet4", "1"}})
            box(name)->setText(QLatin1String(text));
        box("txtPort")->setText(portText);
        dialog.findChild<QPushButton*>(QStringLiteral("cmdCreateSocket"))->click();
    });
    window.findNetworkPrinter();
    window.waitForWork();
    if (window.state.printer.link() != SessionLink::Tcp) {
        std::fprintf(stderr, "could not connect to printer-sim\n");
        return false;
    }
    for (const QString& path : files) {
        prompts.answerFile(path);
        window.addToList();
        window.waitForWork();
    }
    return true;
}

// The real window with the project's library and scripted prompts,
// connected to printer-sim on 127.0.0.1 with `files` listed. Members are
// destroyed window first, library last.
struct ListedWindow {
    // Declared first, so the printer outlives the window connected to it.
    std::unique_ptr<printersim::Simulator> printer;
    QStringList files;
    ScriptedOperatorPrompts prompts;
    MorlixLibrary library{QStringLiteral(MORLIX_LIBRARY_PATH)};
    std::unique_ptr<MainWindow> window;
};

// A printer of its own listening (`writeBytesPerSecond` as listeningPrinter
// takes it) and `count` font-like files of `size` bytes listed in the window.
// Nothing, with a line on standard error, when the files could not be
// written or the window did not start or connect. The window's start-up
// files and the fonts lie inside `dir`.
inline std::unique_ptr<ListedWindow> openListedWindow(const QTemporaryDir& dir,
                                                      std::uint64_t writeBytesPerSecond, int count,
                                                      qsizetype size) {
    auto listed = std::make_unique<ListedWindow>();
    listed->files = writeFontFiles(QDir(dir.path()), count, size);
    if (listed->files.isEmpty()) {
        std::fprintf(stderr, "the font files could not be written\n");
        return nullptr;
    }
    listed->printer = listeningPrinter(writeBytesPerSecond);
    listed->library.setPrompts(&listed->prompts);
    listed->window =
        std::make_unique<MainWindow>(listed->library, listed->prompts,
                                     StartupPaths{dir.filePath("avrbl.txt"), dir.filePath("DemoMode.txt")});
    bool shown = false;
    QEventLoop startUp;
    QObject::connect(listed->window.get(), &MainWindow::startUpEnded, &startUp, [&](bool showWindow) {
        shown = showWindow;
        startUp.quit();
    });
    listed->window->Form_Load();
    startUp.exec();
    if (!shown) {
        std::fprintf(stderr, "the window did not start\n");
        return nullptr;
    }
    if (!connectAndList(*listed->window, listed->prompts, listed->printer->port(), listed->files))
        return nullptr;
    listed->prompts.clear();
    return listed;
}

}  // namespace velquin::bench
