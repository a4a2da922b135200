// printer-sim as a library: a simulated printer served on loopback TCP and on
// simulated device sockets, each connection on a thread of its own. Tests
// start one in-process, set faults, read the journal, and let it go out of
// scope to stop it.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "printer_model.h"

namespace printersim {

// Where the library looks for USB printer N and parallel printer N under a
// device root.
std::filesystem::path usbDevicePath(const std::filesystem::path& root, int index);
std::filesystem::path parallelDevicePath(const std::filesystem::path& root, int index);

class Simulator {
public:
    explicit Simulator(PrinterConfig config = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    PrinterModel& printer() { return printer_; }

    // Listens on `address` (127.0.0.1 unless given; loopback only) at `port`
    // (0 picks a free port); gives the port. Throws std::system_error when
    // the port cannot be had, std::invalid_argument for an address outside
    // 127.0.0.0/8.
    std::uint16_t listenTcp(std::uint16_t port = 0, const std::string& address = "127.0.0.1");
    std::uint16_t port() const { return port_; }

    // Serves a simulated device: a UNIX-domain socket at `socketPath`, its
    // folders created, a stale socket there replaced. `name` tags the journal
    // entries (default: the file name). Throws std::system_error on failure.
    void addDevice(const std::filesystem::path& socketPath, std::string name = {});

    // Serves the printer side of a USB printer gadget (the kernel's printer
    // function, its queue length set to 1): what the host writes is read
    // from `device`, and each time the host has taken an answer the next is
    // written: the replies owed, else the status. The device is opened again
    // whenever it reappears (the gadget unbound and bound again: a printer
    // unplugged and plugged back). A fault that closes a connection leaves
    // the printer deaf until then.
    void addGadget(const std::filesystem::path& device, std::string name = "gadget");

    // Closes every listener and connection and joins the threads; the
    // journal stays readable. Called by the destructor.
    void stop();

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void spawn(std::function<void()> work);
    void spawnLocked(std::function<void()> work);
    void reapFinished();
    void acceptLoop(int listener, bool device, std::string name);
    void serveTcp(int connection);
    void serveDevice(int connection, const std::string& name);
    void serveGadget(const std::filesystem::path& device, const std::string& name);
    void serveGadgetOpen(int fd, const std::string& name);
    void untrack(int connection);

    PrinterModel printer_;
    int wake_ = -1;  // eventfd, readable once stop() begins
    std::atomic<bool> stopping_{false};
    std::uint16_t port_ = 0;
    std::mutex mutex_;
    std::vector<int> listeners_;
    std::vector<std::filesystem::path> deviceSockets_;
    std::set<int> connections_;
    std::list<Worker> workers_;
};

}  // namespace printersim
