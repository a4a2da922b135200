// printer-sim: a stand-in ticket printer on loopback TCP and on simulated
// device sockets, for tests, benchmarks and the demo.
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "simulator.h"
#include "velquin/build_info.h"

namespace {

const char* const USAGE =
    "Usage: printer-sim [options]\n"
    "\n"
    "A simulated ticket printer. It listens on 127.0.0.1 only, answers \"<SA08>\"\n"
    "(identity), \"<SS>\" (status) and \"<SA07>\" (free flash), stores the fonts,\n"
    "images, soft fonts and tickets it receives in a journal, and inverts its flash\n"
    "toggle bit each time it has written a file or erased its font space.\n"
    "Runs until interrupted. The first line printed is \"port N\"; each journal\n"
    "entry is then printed as: order kind size sha256 source stored|not-stored [ERROR why].\n"
    "\n"
    "Link:\n"
    "  --port N              TCP port (default 0: pick a free one)\n"
    "  --address 127.0.0.N   loopback address to listen on (default 127.0.0.1;\n"
    "                        nothing outside 127.0.0.0/8)\n"
    "  --no-tcp              serve no TCP port (devices only)\n"
    "  --device-root DIR     folder under which simulated devices are served\n"
    "                        (default: $MORLIX_DEVICE_ROOT)\n"
    "  --usb N               serve a USB printer at DIR/dev/usb/lpN (repeatable)\n"
    "  --lpt N               serve a parallel printer at DIR/dev/lpN (repeatable)\n"
    "  --gadget DEVICE       serve the printer side of a USB printer gadget, such as\n"
    "                        /dev/g_printer0 (its queue length set to 1)\n"
    "  --print-device-id     print the gadget's pnp_string for the identity and exit\n"
    "\n"
    "Printer:\n"
    "  --identity TEXT       identity text (default: a model RVA, firmware 5.07)\n"
    "  --flash-size BYTES    flash size (default 8388608)\n"
    "  --write-speed BPS     flash write speed in bytes per second, 0 = instant\n"
    "                        (default 50000000)\n"
    "  --erase-ms MS         time an erase takes (default 20)\n"
    "  --journal DIR         keep every journal entry's bytes in DIR, with journal.txt\n"
    "  --no-checksums        do not checksum files (the sha256 column is then \"-\")\n"
    "  --quiet               print only the port line\n"
    "\n"
    "Faults:\n"
    "  --stay-busy           the busy bit never clears\n"
    "  --freeze-toggle       the flash toggle bit never changes\n"
    "  --close-on-accept     close every connection at once\n"
    "  --close-after BYTES   close a connection after it delivered BYTES bytes\n"
    "  --close-mid-file      close a connection when half of a file has arrived\n"
    "  --stop-reading-after BYTES\n"
    "                        stop reading a connection after BYTES bytes (it stays open)\n"
    "  --long-identity       pad the identity to 300 bytes\n"
    "  --reply-pieces N      send replies in pieces of N bytes\n"
    "  --piece-delay MS      pause between pieces (default 20)\n"
    "  --reply-delay MS      wait before each reply\n"
    "  --garbage-replies     answer every request with garbage\n"
    "  --bad-flash-replies N the first N flash replies start with \"X\", not \"A\"\n"
    "  --status HEX          status bytes to report, e.g. 00000000 01\n"
    "  --status-length N     status reads give N bytes (e.g. 3)\n"
    "  --fail-reads          device reads fail\n"
    "  --device-id-prefix K  device ID length prefix: normal, absent, swapped, too-long\n"
    "  --help                this text\n"
    "  --version             the version\n";

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "printer-sim: %s (see --help)\n", message.c_str());
    std::exit(2);
}

std::uint64_t number(std::string_view option, const char* text) {
    std::uint64_t value = 0;
    std::string_view digits = text;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        fail(std::string(option) + " needs a number, not \"" + text + "\"");
    return value;
}

std::vector<std::uint8_t> hexBytes(const char* text) {
    std::vector<std::uint8_t> bytes;
    std::string digits;
    for (const char* c = text; *c; ++c)
        if (*c != ' ' && *c != ':') digits.push_back(*c);
    if (digits.size() % 2 != 0) fail("--status needs whole bytes in hex");
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        unsigned value = 0;
        auto [end, error] = std::from_chars(digits.data() + i, digits.data() + i + 2, value, 16);
        if (error != std::errc() || end != digits.data() + i + 2) fail("--status needs hex digits");
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    printersim::PrinterConfig config;
    printersim::Faults faults;
    std::uint16_t port = 0;
    std::string address = "127.0.0.1";
    bool tcp = true, quiet = false;
    std::string deviceRoot = std::getenv("MORLIX_DEVICE_ROOT") ? std::getenv("MORLIX_DEVICE_ROOT") : "";
    std::vector<int> usbDevices, parallelDevices;
    std::vector<std::string> gadgets;
    bool printDeviceId = false;

    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) fail(std::string(option) + " needs a value");
            return argv[++i];
        };
        if (option == "--help" || option == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (option == "--version") {
            std::printf("printer-sim %s\n", VELQUIN_VERSION);
            return 0;
        } else if (option == "--port") {
            std::uint64_t wanted = number(option, value());
            if (wanted > 65535) fail("--port must be 0 to 65535");
            port = static_cast<std::uint16_t>(wanted);
        } else if (option == "--address") {
            address = value();
        } else if (option == "--no-tcp") {
            tcp = false;
        } else if (option == "--device-root") {
            deviceRoot = value();
        } else if (option == "--usb") {
            usbDevices.push_back(static_cast<int>(number(option, value())));
        } else if (option == "--lpt") {
            parallelDevices.push_back(static_cast<int>(number(option, value())));
        } else if (option == "--gadget") {
            gadgets.emplace_back(value());
        } else if (option == "--print-device-id") {
            printDeviceId = true;
        } else if (option == "--stop-reading-after") {
            faults.stopReadingAfterBytes = number(option, value());
        } else if (option == "--identity") {
            config.identity = value();
        } else if (option == "--flash-size") {
            config.flashSize = number(option, value());
        } else if (option == "--write-speed") {
            config.writeBytesPerSecond = number(option, value());
        } else if (option == "--erase-ms") {
            config.eraseTime = std::chrono::milliseconds(number(option, value()));
        } else if (option == "--journal") {
            config.journalFolder = value();
        } else if (option == "--no-checksums") {
            config.checksumFiles = false;
        } else if (option == "--quiet") {
            quiet = true;
        } else if (option == "--stay-busy") {
            faults.stayBusy = true;
        } else if (option == "--freeze-toggle") {
            faults.freezeToggle = true;
        } else if (option == "--close-on-accept") {
            faults.closeOnAccept = true;
        } else if (option == "--close-after") {
            faults.closeAfterBytes = number(option, value());
        } else if (option == "--close-mid-file") {
            faults.closeMidFile = true;
        } else if (option == "--long-identity") {
            faults.longIdentity = true;
        } else if (option == "--reply-pieces") {
            faults.replyPieceSize = number(option, value());
        } else if (option == "--piece-delay") {
            faults.pieceDelay = std::chrono::milliseconds(number(option, value()));
        } else if (option == "--reply-delay") {
            faults.replyDelay = std::chrono::milliseconds(number(option, value()));
        } else if (option == "--garbage-replies") {
            faults.garbageReplies = true;
        } else if (option == "--bad-flash-replies") {
            faults.badFlashReplies = static_cast<int>(number(option, value()));
        } else if (option == "--status") {
            faults.statusBytes = hexBytes(value());
        } else if (option == "--status-length") {
            faults.statusLength = number(option, value());
        } else if (option == "--fail-reads") {
            faults.failReads = true;
        } else if (option == "--device-id-prefix") {
            std::string_view kind = value();
            if (kind == "normal")
                faults.deviceIdPrefix = printersim::DeviceIdPrefix::Normal;
            else if (kind == "absent")
                faults.deviceIdPrefix = printersim::DeviceIdPrefix::Absent;
            else if (kind == "swapped")
                faults.deviceIdPrefix = printersim::DeviceIdPrefix::Swapped;
            else if (kind == "too-long")
                faults.deviceIdPrefix = printersim::DeviceIdPrefix::TooLong;
            else
                fail("unknown --device-id-prefix \"" + std::string(kind) + "\"");
        } else {
            fail("unknown option \"" + std::string(option) + "\"");
        }
    }
    if (printDeviceId) {
        printersim::PrinterModel printer(config);
        printer.setFaults(faults);
        // The printer function sends the text's length where a device ID
        // counts its two length bytes too: two bytes more, so that the host
        // reads the whole text. One write, as the attribute takes it.
        std::vector<std::uint8_t> pnp = printer.identityBytes();
        pnp.insert(pnp.end(), {' ', ' '});
        std::fwrite(pnp.data(), 1, pnp.size(), stdout);
        return 0;
    }
    if ((!usbDevices.empty() || !parallelDevices.empty()) && deviceRoot.empty())
        fail("--usb and --lpt need --device-root (or MORLIX_DEVICE_ROOT)");
    if (!tcp && usbDevices.empty() && parallelDevices.empty() && gadgets.empty()) fail("nothing to serve");

    // The stop signals are taken by sigwait below; every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        printersim::Simulator simulator(config);
        simulator.printer().setFaults(faults);
        if (!quiet)
            simulator.printer().setJournalListener([](const printersim::JournalEntry& entry) {
                std::printf("%s\n", printersim::describe(entry).c_str());
                std::fflush(stdout);
            });
        if (tcp) std::printf("port %u\n", static_cast<unsigned>(simulator.listenTcp(port, address)));
        for (int index : usbDevices) {
            auto path = printersim::usbDevicePath(deviceRoot, index);
            simulator.addDevice(path, "usb" + std::to_string(index));
            std::printf("device %s\n", path.c_str());
        }
        for (int index : parallelDevices) {
            auto path = printersim::parallelDevicePath(deviceRoot, index);
            simulator.addDevice(path, "lpt" + std::to_string(index));
            std::printf("device %s\n", path.c_str());
        }
        for (const std::string& gadget : gadgets) {
            simulator.addGadget(gadget);
            std::printf("gadget %s\n", gadget.c_str());
        }
        std::fflush(stdout);
        int received = 0;
        sigwait(&stopSignals, &received);
        simulator.stop();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "printer-sim: %s\n", error.what());
        return 1;
    }
    return 0;
}
