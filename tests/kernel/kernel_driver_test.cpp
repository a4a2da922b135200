// The local printer path through the kernel's own printer drivers, run inside
// the guest scripts/kernel-guest.sh boots: usblp on the host side of a USB
// printer gadget (dummy_hcd and the configfs printer function) whose printer
// side printer-sim serves, and lp on QEMU's emulated parallel port, whose
// bytes land in a file on the host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "link/printer_data.h"
#include "morlix/morlix.h"
#include "platform/device_io.h"
#include "simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path GADGET = "/sys/kernel/config/usb_gadget/velquin";
const fs::path FUNCTION = GADGET / "functions/printer.usb0";
constexpr const char* GADGET_DEVICE = "/dev/g_printer0";
constexpr const char* USB_PRINTER = "/dev/usb/lp0";

void writeFile(const fs::path& path, const QByteArray& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.constData(), bytes.size());
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
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
    // length bytes too: two bytes more make the host see the whole text.
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
        Gadget::setIdentity(printersim::DEFAULT_IDENTITY);
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

    // A file of `size` bytes that differ from place to place, after `head`.
    QString file(const QString& name, const QByteArray& head, qsizetype size, unsigned seed = 1) {
        QByteArray bytes = head;
        std::uint32_t state = seed * 2654435761u + 1;
        while (bytes.size() < size) {
            state = state * 1103515245u + 12345u;
            bytes.append(static_cast<char>(state >> 16));
        }
        const QString path = dir_.filePath(name);
        writeFile(path.toStdString(), bytes);
        return path;
    }
    QString trueType(const QString& name, qsizetype size) {
        return file(name, QByteArray("\x00\x01\x00\x00", 4), size);
    }
    QString pcxList() {
        const QString list = dir_.filePath(QStringLiteral("images.pfl"));
        const QByteArray pcxHead("\x0a\x05\x01\x08", 4);
        writeFile(list.toStdString(), (file(QStringLiteral("one.pcx"), pcxHead, 3000, 2) + QLatin1Char('\n') +
                                       file(QStringLiteral("two.pcx"), pcxHead, 9000, 3) + QLatin1Char('\n'))
                                          .toLocal8Bit());
        return list;
    }

    // What the printer stored, as the stream of each file's header and bytes.
    static QByteArray receivedStream(printersim::Simulator& simulator) {
        QByteArray stream;
        for (const auto& entry : simulator.printer().journal()) {
            if (entry.kind == printersim::EntryKind::Erase) continue;
            stream +=
                QByteArray::fromStdString(entry.text) + readFile(QString::fromStdString(entry.file.string()));
        }
        return stream;
    }

    QTemporaryDir dir_;
    std::unique_ptr<printersim::Simulator> simulator_;
    std::int32_t handle_ = 0;
};

struct IdentityCase {
    const char* name;
    QByteArray identity;
    const char* model;
    std::int32_t printerType;  // command language
    std::int32_t logicBoard;
    const char* firmware;
    std::size_t deviceIdLength;  // what the library keeps of it
};

TEST_F(KernelDrivers, TheSearchFindsTheUsbPrinterWithTheIdentityOfTheIoctl) {
    const QByteArray longIdentity =
        "MFG:Ticket printer;MDL:RVB 200G;CMD:KTL;FWV:x2.10 (9);DES:" + QByteArray(1500, 'd') + ";";
    const IdentityCase cases[] = {
        {"default", printersim::DEFAULT_IDENTITY, "RVA 300", 1, 2, "5.07",
         std::strlen(printersim::DEFAULT_IDENTITY)},
        // The driver keeps at most 1023 bytes, length bytes included.
        {"longer than the buffer", longIdentity, "RVB 200G", 0, 1, "2.10", 1021},
    };
    printer();
    for (const IdentityCase& c : cases) {
        SCOPED_TRACE(c.name);
        Gadget::setIdentity(c.identity);
        ASSERT_EQ(GetPrinterHandleVB(&handle_), 0);
        std::int32_t port = -1, board = -1, type = -1, model = -1;
        GetPrinterDetailVB(&port, &board, &type, &model);
        EXPECT_EQ(port, 0);
        EXPECT_EQ(board, c.logicBoard);
        EXPECT_EQ(type, c.printerType);
        EXPECT_STREQ(morlix::printerData.printerName, c.model);
        EXPECT_STREQ(morlix::printerData.firmwareVersion, c.firmware);
        const std::string_view kept = morlix::fieldText(morlix::printerData.deviceId);
        EXPECT_EQ(kept.size(), c.deviceIdLength);
        EXPECT_EQ(kept, std::string_view(c.identity.constData(), kept.size()));
        ClosePrinterHandleVB(handle_);
        handle_ = 0;
    }
}

TEST_F(KernelDrivers, UploadsArriveByteExactWithTheFlashHandshakeAndTheFreeFlashReadBack) {
    const QString fonts = QStringLiteral(VELQUIN_TEST_DATA "/fonts/");
    const QStringList uploads[] = {
        {fonts + QStringLiteral("courier10.sfp")},
        {trueType(QStringLiteral("face.ttf"), 60'000)},
        {QStringLiteral("--list"), pcxList()},
    };
    for (const QStringList& upload : uploads) {
        SCOPED_TRACE(upload.join(' ').toStdString());
        printersim::Simulator& simulator = printer();
        const std::uint64_t freeBefore = simulator.printer().freeFlash();
        const LoadRun run = send(upload);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QJsonObject report = run.report();
        EXPECT_EQ(report[QStringLiteral("outcome")].toString(), QStringLiteral("completed"));
        const QByteArray exported = load(QStringList{QStringLiteral("export")} + upload).out;
        ASSERT_FALSE(exported.isEmpty());
        EXPECT_EQ(receivedStream(simulator), exported);
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
    std::cout << "stalled write ended after " << run.seconds << " s\n";
}

TEST_F(KernelDrivers, APrinterUnpluggedMidFileFailsAtOnceAndIsFoundAgainWhenPluggedBack) {
    printersim::PrinterConfig slow;
    printersim::Simulator& simulator = printer();
    QProcess process;
    std::thread unplug([&] {
        if (simulator.printer().waitForBytesReceived(1'000'000, 60s)) Gadget::unbind();
    });
    const LoadRun run = send({trueType(QStringLiteral("large.ttf"), 6'000'000)});
    unplug.join();
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.report()[QStringLiteral("outcome")].toString(), QStringLiteral("printer-gone"))
        << run.out.toStdString();
    EXPECT_LT(simulator.printer().bytesReceived(), 6'000'000u);

    Gadget::bind();
    const LoadRun again = send({trueType(QStringLiteral("small.ttf"), 30'000)});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(again.report()[QStringLiteral("outcome")].toString(), QStringLiteral("completed"));
}

TEST_F(KernelDrivers, StatusAndFlashReadsFollowThePrinterThroughTheReadPath) {
    struct Case {
        bool busy;
        bool frozen;
    } const cases[] = {{false, false}, {true, false}, {false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "busy " << c.busy << " frozen " << c.frozen);
        printersim::Faults faults;
        faults.stayBusy = c.busy;
        faults.freezeToggle = c.frozen;
        printersim::Simulator& simulator = printer(faults);
        ASSERT_EQ(GetPrinterHandleVB(&handle_), 0);
        std::uint8_t status[512] = {};
        std::int32_t count = 0;
        ASSERT_EQ(GetPrinterStatusDataVB(handle_, status, &count, 0, nullptr, 0), 0);
        ASSERT_GE(count, 5);
        EXPECT_EQ((status[4] & 0x20) != 0, c.busy);
        const bool toggle = (status[4] & 0x02) != 0;
        std::int32_t freeFlash = -1;
        GetFlashSpaceRemainingVB(&freeFlash);
        EXPECT_EQ(freeFlash, c.busy ? 0 : static_cast<std::int32_t>(simulator.printer().freeFlash()));
        ClosePrinterHandleVB(handle_);
        handle_ = 0;
        // A file stored flips the toggle, unless it is frozen.
        if (!c.busy) {
            ASSERT_EQ(send({trueType(QStringLiteral("t.ttf"), 5'000)}).exitCode, c.frozen ? 1 : 0);
            ASSERT_EQ(GetPrinterHandleVB(&handle_), 0);
            ASSERT_EQ(GetPrinterStatusDataVB(handle_, status, &count, 0, nullptr, 0), 0);
            EXPECT_EQ((status[4] & 0x02) != 0, c.frozen ? toggle : !toggle);
            ClosePrinterHandleVB(handle_);
            handle_ = 0;
        }
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
    ::testing::AddGlobalTestEnvironment(new GadgetEnvironment);
    return RUN_ALL_TESTS();
}
