// The local printer path through the kernel's own printer drivers, run inside
// the guest scripts/kernel-guest.sh boots: usblp on the host side of a USB
// printer gadget (dummy_hcd and the configfs printer function) whose printer
// side printer-sim serves, and lp on QEMU's emulated parallel port, whose
// bytes land in a file on the host.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "../support/loadable_files.h"
#include "link/printer_data.h"
#include "morlix/morlix.h"
#include "platform/device_io.h"
#include "private_cupsd.h"
#include "simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path GADGET = "/sys/kernel/config/usb_gadget/velquin";
const fs::path FUNCTION = GADGET / "functions/printer.usb0";
constexpr const char* GADGET_DEVICE = "/dev/g_printer0";
constexpr const char* USB_PRINTER = "/dev/usb/lp0";

// One write call: a configfs or sysfs attribute takes each write whole.
void writeFile(const fs::path& path, const QByteArray& bytes) {
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
        file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.string());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// The USB printer gadget: made once for the whole run; binding it to the
// dummy controller plugs the printer into the guest's USB, unbinding pulls it.
class Gadget {
public:
    static void create() {
        fs::create_directories(FUNCTION);
        writeFile(GADGET / "idVendor", "0x1209");
        writeFile(GADGET / "idProduct", "0x0001");
        // One request in each direction: printer-sim makes each answer when
        // the host has taken the one before.
        writeFile(FUNCTION / "q_len", "1");
        fs::create_directories(GADGET / "configs/c.1");
        if (!fs::exists(GADGET / "configs/c.1/printer.usb0"))
            fs::create_directory_symlink(FUNCTION, GADGET / "configs/c.1/printer.usb0");
    }
    // The IEEE 1284 identity the host reads. The printer function sends as
    // the length the text's own length, where a device ID counts the two
    // length bytes too: two bytes more make the host see the whole text
    // (printer-sim --print-device-id adds them too).
    static void setIdentity(const QByteArray& identity) {
        writeFile(FUNCTION / "pnp_string", identity + "  ");
    }
    static void bind() {
        std::string controller;
        for (const auto& entry : fs::directory_iterator("/sys/class/udc"))
            controller = entry.path().filename();
        writeFile(GADGET / "UDC", QByteArray::fromStdString(controller));
        ASSERT_TRUE(waitFor([] { return fs::exists(USB_PRINTER) && fs::exists(GADGET_DEVICE); }, 10s))
            << "the host never saw the printer";
    }
    static void unbind() {
        writeFile(GADGET / "UDC", "\n");
        ASSERT_TRUE(waitFor([] { return !fs::exists(USB_PRINTER); }, 10s));
    }
    // The kernel's printer function reads its identity when it is bound,
    // and unbinding it while its device is open corrupts the kernel's list
    // of open devices: nothing may hold the gadget's device meanwhile.
    static void rebindWith(const QByteArray& identity) {
        unbind();
        setIdentity(identity);
        bind();
    }
    // Pulls the printer's cable: the controller drops off the bus, the
    // gadget stays bound (it cannot come back this way: rebindWith plugs
    // the printer in again).
    static void unplug() {
        writeFile(controllerPath() / "soft_connect", "disconnect");
        ASSERT_TRUE(waitFor([] { return !fs::exists(USB_PRINTER); }, 10s));
    }
    static fs::path controllerPath() {
        for (const auto& entry : fs::directory_iterator("/sys/class/udc")) return entry.path();
        return {};
    }
};

struct LoadRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    double seconds = 0;
    QJsonObject report() const {
        return QJsonDocument::fromJson(out)[QStringLiteral("printers")][0].toObject();
    }
};

class KernelDrivers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        morlix::printerData = {};
    }
    void TearDown() override {
        if (handle_ >= 3) ClosePrinterHandleVB(handle_);
        simulator_.reset();
    }

    printersim::Simulator& printer(const printersim::Faults& faults = {}) {
        printersim::PrinterConfig config;
        config.journalFolder = (dir_.path() + QStringLiteral("/journal")).toStdString();
        simulator_ = std::make_unique<printersim::Simulator>(config);
        simulator_->printer().setFaults(faults);
        simulator_->addGadget(GADGET_DEVICE);
        return *simulator_;
    }

    LoadRun load(const QStringList& arguments, QProcess* started = nullptr) {
        QProcess own;
        QProcess& process = started ? *started : own;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dir_.path() + QStringLiteral("/data"));
        process.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(VELQUIN_LOAD_PATH), arguments);
        EXPECT_TRUE(process.waitForFinished(300'000)) << arguments.join(' ').toStdString();
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput(), process.readAllStandardError(),
                static_cast<double>(clock.elapsed()) / 1000};
    }
    LoadRun send(const QStringList& files) {
        return load(
            QStringList{QStringLiteral("send")} + files +
            QStringList{QStringLiteral("--printer"), QStringLiteral("local"), QStringLiteral("--json")});
    }

    // Files the program loads, their bytes differing from place to place.
    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        writeFile(path.toStdString(), bytes);
        return path;
    }
    QString trueType(const QString& name, qsizetype size) {
        return file(name, velquin::testing::trueTypeFile(size, 1));
    }
    QString pcxList() {
        const QString list = dir_.filePath(QStringLiteral("images.pfl"));
        if (QFile::exists(list)) return list;
        writeFile(list.toStdString(),
                  (file(QStringLiteral("one.pcx"), velquin::testing::pcxFile(3000, 2)) + QLatin1Char('\n') +
                   file(QStringLiteral("two.pcx"), velquin::testing::pcxFile(9000, 3)) + QLatin1Char('\n'))
                      .toLocal8Bit());
        return list;
    }

    // The checksums of the files the printer stored, in order.
    static QStringList storedChecksums(printersim::Simulator& simulator) {
        QStringList checksums;
        for (const auto& entry : simulator.printer().journal())
            if (entry.kind != printersim::EntryKind::Erase) checksums << QString::fromStdString(entry.sha256);
        return checksums;
    }
    static QString checksum(const QByteArray& bytes) {
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }

    QTemporaryDir dir_;
    std::unique_ptr<printersim::Simulator> simulator_;
    std::int32_t handle_ = 0;
};

struct IdentityCase {
    const char* name;
    QByteArray identity;  // what the printer holds
    QByteArray kept;      // what the library keeps
    const char* model;
    std::int32_t printerType;  // command language
    std::int32_t logicBoard;
    const char* firmware;
};

TEST_F(KernelDrivers, TheSearchFindsTheUsbPrinterWithTheIdentityOfTheIoctl) {
    auto identity = [](qsizetype length) {
        const QByteArray keys = "MFG:Ticket printer;MDL:RVB 200G;CMD:KTL;FWV:x2.10 (9);DES:";
        return keys + QByteArray(length - keys.size() - 1, 'd') + ";";
    };
    // The printer function answers from a buffer of 1024 bytes, and the
    // driver asks for no more than 1023: 1020 bytes of text is the longest
    // identity that can cross. A longer one fails the request (EIO), and the
    // search keeps the identity it had.
    const QByteArray longest = identity(1020);
    const IdentityCase cases[] = {
        {"default", printersim::DEFAULT_IDENTITY, printersim::DEFAULT_IDENTITY, "RVA 300", 1, 2, "5.07"},
        {"as long as the driver carries", longest, longest, "RVB 200G", 0, 1, "2.10"},
        {"longer than the library's buffer", identity(1500), longest, "RVB 200G", 0, 1, "2.10"},
    };
    for (const IdentityCase& c : cases) {
        SCOPED_TRACE(c.name);
        Gadget::rebindWith(c.identity);
        printer();
        ASSERT_EQ(GetPrinterHandleVB(&handle_), 0);
        std::int32_t port = -1, board = -1, type = -1, model = -1;
        GetPrinterDetailVB(&port, &board, &type, &model);
        EXPECT_EQ(port, 0);
        EXPECT_EQ(board, c.logicBoard);
        EXPECT_EQ(type, c.printerType);
        EXPECT_STREQ(morlix::printerData.printerName, c.model);
        EXPECT_STREQ(morlix::printerData.firmwareVersion, c.firmware);
        EXPECT_EQ(morlix::fieldText(morlix::printerData.deviceId), c.kept.toStdString());
        ClosePrinterHandleVB(handle_);
        handle_ = 0;
        simulator_.reset();
    }
    Gadget::rebindWith(printersim::DEFAULT_IDENTITY);
}

TEST_F(KernelDrivers, UploadsArriveByteExactWithTheFlashHandshakeAndTheFreeFlashReadBack) {
    // The converter writes next to the soft font: a copy in a writable folder.
    const QString softFont = dir_.filePath(QStringLiteral("courier10.sfp"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELQUIN_TEST_DATA "/fonts/courier10.sfp"), softFont));
    const QString list = pcxList();
    // What is sent, and the files the printer must store: a soft font is
    // stored converted, as export writes it.
    const std::pair<QStringList, QStringList> uploads[] = {
        {{softFont}, {}},
        {{trueType(QStringLiteral("face.ttf"), 60'000)}, {dir_.filePath(QStringLiteral("face.ttf"))}},
        {{QStringLiteral("--list"), list},
         {dir_.filePath(QStringLiteral("one.pcx")), dir_.filePath(QStringLiteral("two.pcx"))}},
    };
    for (const auto& [upload, files] : uploads) {
        SCOPED_TRACE(upload.join(' ').toStdString());
        printersim::Simulator& simulator = printer();
        const std::uint64_t freeBefore = simulator.printer().freeFlash();
        const LoadRun run = send(upload);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QJsonObject report = run.report();
        EXPECT_EQ(report[QStringLiteral("outcome")].toString(), QStringLiteral("completed"));
        QStringList expected;
        for (const QString& path : files) expected << checksum(readFile(path));
        if (files.isEmpty()) expected << checksum(load(QStringList{QStringLiteral("export")} + upload).out);
        EXPECT_EQ(storedChecksums(simulator), expected);
        for (const auto& entry : simulator.printer().journal()) EXPECT_FALSE(entry.error) << entry.problem;
        EXPECT_EQ(report[QStringLiteral("free_flash")].toInteger(), static_cast<qint64>(freeBefore));
        EXPECT_TRUE(simulator.printer().waitUntilIdle(5s));
    }
}

TEST_F(KernelDrivers, APrinterThatStopsReadingEndsTheWriteAtItsDeadline) {
    constexpr std::uint64_t TAKEN = 100'000;
    printersim::Faults faults;
    faults.stopReadingAfterBytes = TAKEN;
    printersim::Simulator& simulator = printer(faults);
    const LoadRun run = send({trueType(QStringLiteral("big.ttf"), 1'000'000)});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.report()[QStringLiteral("outcome")].toString(), QStringLiteral("printer-gone"))
        << run.out.toStdString();
    EXPECT_EQ(simulator.printer().bytesReceived(), TAKEN);
    // The write waited for its deadline (the port's 10 s) before giving up.
    EXPECT_GE(run.seconds, 10.0);
    const QJsonObject file = run.report()[QStringLiteral("files")][0].toObject();
    EXPECT_EQ(file[QStringLiteral("outcome")].toString(), QStringLiteral("printer-gone"))
        << run.out.toStdString();
}

TEST_F(KernelDrivers, APrinterUnpluggedMidFileFailsAtOnceAndIsFoundAgainWhenPluggedBack) {
    printersim::Simulator& simulator = printer();
    std::chrono::steady_clock::time_point unplugged;
    std::thread unplug([&] {
        if (!simulator.printer().waitForBytesReceived(1'000'000, 60s)) return;
        unplugged = std::chrono::steady_clock::now();
        Gadget::unplug();
    });
    const LoadRun run = send({trueType(QStringLiteral("large.ttf"), 6'000'000)});
    const auto ended = std::chrono::steady_clock::now();
    unplug.join();
    ASSERT_NE(unplugged, std::chrono::steady_clock::time_point{}) << "the file never got going";
    // At once: the write deadline (10 s) was not waited out.
    EXPECT_LT(ended - unplugged, 10s);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.report()[QStringLiteral("outcome")].toString(), QStringLiteral("printer-gone"))
        << run.out.toStdString();
    EXPECT_LT(simulator.printer().bytesReceived(), 6'000'000u);

    // Plugged back: the printer-sim side of the gadget is let go first (see
    // rebindWith).
    simulator_.reset();
    Gadget::rebindWith(printersim::DEFAULT_IDENTITY);
    printer();
    const LoadRun again = send({trueType(QStringLiteral("small.ttf"), 30'000)});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(again.report()[QStringLiteral("outcome")].toString(), QStringLiteral("completed"));
}

TEST_F(KernelDrivers, StatusAndFlashReadsFollowThePrinterThroughTheReadPath) {
    // The driver reads ahead, so a status may be a read or two old: each
    // case looks at several reads, as the upload engine does.
    constexpr int READS = 4;
    struct Case {
        const char* name;
        bool busy;
        bool frozen;
        const char* uploadOutcome;
    } const cases[] = {
        {"idle", false, false, "completed"},
        {"busy", true, false, "printer-busy"},
        {"toggle frozen", false, true, "timed-out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        printersim::Faults faults;
        faults.stayBusy = c.busy;
        faults.freezeToggle = c.frozen;
        printersim::Simulator& simulator = printer(faults);
        auto statusReads = [&] {
            std::vector<std::uint8_t> flags;
            EXPECT_EQ(GetPrinterHandleVB(&handle_), 0);
            for (int i = 0; i < READS; ++i) {
                std::uint8_t status[512] = {};
                std::int32_t count = 0;
                EXPECT_EQ(GetPrinterStatusDataVB(handle_, status, &count, 0, nullptr, 0), 0);
                EXPECT_GE(count, 5);
                flags.push_back(status[4]);
            }
            return flags;
        };
        const std::vector<std::uint8_t> before = statusReads();
        // The first answers may be the last printer's, held by the driver.
        for (std::size_t i = 1; i < before.size(); ++i) EXPECT_EQ((before[i] & 0x20) != 0, c.busy);
        std::int32_t freeFlash = -1;
        GetFlashSpaceRemainingVB(&freeFlash);
        EXPECT_EQ(freeFlash, c.busy ? 0 : static_cast<std::int32_t>(simulator.printer().freeFlash()));
        ClosePrinterHandleVB(handle_);
        handle_ = 0;

        // The engine watches the toggle through the same reads.
        const LoadRun run = send({trueType(QStringLiteral("t.ttf"), 5'000)});
        EXPECT_EQ(run.report()[QStringLiteral("outcome")].toString(), QLatin1String(c.uploadOutcome));
        const std::vector<std::uint8_t> after = statusReads();
        const bool flipped = (after.back() & 0x02) != (before.back() & 0x02);
        EXPECT_EQ(flipped, !c.busy && !c.frozen);
        ClosePrinterHandleVB(handle_);
        handle_ = 0;
    }
}

TEST_F(KernelDrivers, APrinterHeldByOneProgramIsNotTakenByAnother) {
    printer();
    const int held = morlix::platform::openDevice(USB_PRINTER, morlix::platform::DeviceSharing::Shared);
    ASSERT_GE(held, 3);
    const LoadRun refused = send({trueType(QStringLiteral("a.ttf"), 5'000)});
    EXPECT_EQ(refused.report()[QStringLiteral("outcome")].toString(), QStringLiteral("not-found"));
    morlix::platform::handleClose(held);
    EXPECT_EQ(send({trueType(QStringLiteral("a.ttf"), 5'000)}).exitCode, 0);
}

TEST_F(KernelDrivers, AParallelPrinterTakesAPcxListByteExactUnderItsTimeOut) {
    // The emulated port has no reverse channel: no status and no identity,
    // so the search passes it over; the list goes through the device layer.
    const QString results = qEnvironmentVariable("KERNEL_RESULTS");
    ASSERT_FALSE(results.isEmpty());
    const QString arrived = results + QStringLiteral("/parallel.out");
    const qsizetype before = readFile(arrived).size();
    const QByteArray list = load({QStringLiteral("export"), QStringLiteral("--list"), pcxList()}).out;
    ASSERT_FALSE(list.isEmpty());

    const int port = morlix::platform::openDevice("/dev/lp0", morlix::platform::DeviceSharing::Exclusive);
    ASSERT_GE(port, 3) << std::strerror(errno);
    morlix::platform::PortTimeouts timeouts;
    ASSERT_TRUE(morlix::platform::getPortTimeouts(port, timeouts));
    timeouts.writeTotalConstant = 15'000;
    int error = 0;
    EXPECT_TRUE(morlix::platform::setPortTimeouts(port, timeouts, &error)) << std::strerror(error);
    const auto written = morlix::platform::handleWrite(
        port, std::span(reinterpret_cast<const std::uint8_t*>(list.constData()), list.size()));
    EXPECT_TRUE(written.ok) << std::strerror(written.error);
    morlix::platform::handleClose(port);
    EXPECT_TRUE(waitFor([&] { return readFile(arrived).size() >= before + list.size(); }, 10s));
    EXPECT_EQ(readFile(arrived).mid(before), list);
}

TEST_F(KernelDrivers, TheSpoolersUsbQueueLeavesThePrinterForALoadAndComesBackAfterAKill) {
    velquin::testing::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.start()) << cupsd.error();
    printer();
    // The queue as the spooler makes it: on the URI its own usb backend gives.
    std::string listing;
    velquin::testing::runProgram({"/usr/lib/cups/backend/usb"}, &listing);
    const std::size_t at = listing.find("usb://");
    ASSERT_NE(at, std::string::npos) << listing;
    const std::string uri = listing.substr(at, listing.find_first_of(" \t\n", at) - at);
    std::string refusal;
    ASSERT_EQ(velquin::testing::runProgram({"lpadmin", "-p", "ticket", "-E", "-v", uri}, &refusal), 0)
        << uri << ": " << refusal;
    // Stopped, so its job waits and the backend never takes the printer.
    ASSERT_TRUE(cupsd.stopQueue("ticket"));
    ASSERT_TRUE(cupsd.submitJob("ticket"));

    const LoadRun run = send({trueType(QStringLiteral("a.ttf"), 5'000)});
    EXPECT_EQ(run.report()[QStringLiteral("outcome")].toString(), QStringLiteral("completed"))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.indexOf("spooler could not be reached") < 0) << run.err.toStdString();
    EXPECT_EQ(cupsd.deviceUri("ticket"), uri);
    EXPECT_EQ(cupsd.unfinishedJobs("ticket"), 1);
    EXPECT_TRUE(cupsd.isStopped("ticket"));

    // A program killed while it holds the queue: its guardian puts it back.
    const pid_t child = velquin::testing::forkProgramHoldingPorts(MORLIX_LIBRARY_PATH);
    ASSERT_GT(child, 0);
    EXPECT_NE(cupsd.deviceUri("ticket"), uri);
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_TRUE(waitFor([&] { return cupsd.deviceUri("ticket") == uri; }, 10s));
    EXPECT_EQ(cupsd.unfinishedJobs("ticket"), 1);
}

class GadgetEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Gadget::create();
        Gadget::setIdentity(printersim::DEFAULT_IDENTITY);
        Gadget::bind();
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // It makes USB gadgets and drives printer devices: never on the host.
    if (qEnvironmentVariableIsEmpty("KERNEL_RESULTS")) {
        std::fprintf(stderr,
                     "kernel_driver_tests runs in the guest: scripts/kernel-guest.sh BUILD RESULTS %s\n",
                     argv[0]);
        return 2;
    }
    ::testing::AddGlobalTestEnvironment(new GadgetEnvironment);
    return RUN_ALL_TESTS();
}
