#include "simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <system_error>

#include "session.h"
#include "velquin/sim_device_protocol.h"

namespace printersim {
namespace {

namespace frame = velquin::simdevice;

constexpr std::size_t RECEIVE_CHUNK = 256 * 1024;
// Answers a simulated device holds for reads that have not come yet. A
// printer whose answers are not read stops taking data at this point.
constexpr std::size_t MAX_PENDING_ANSWERS = std::size_t{1} << 20;
// A written frame is taken in slices this small, so that the answers it
// causes pass the limit above by little.
constexpr std::size_t WRITE_SLICE = 4096;

std::system_error systemError(const std::string& what) {
    return {errno, std::generic_category(), what};
}

enum class Wait { Ready, Stopped, TimedOut };

// Waits for `fd` to become readable, for the stop signal, or for the time-out
// (negative: none).
Wait waitFor(int fd, int wake, int timeoutMs) {
    pollfd fds[2] = {{wake, POLLIN, 0}, {fd, POLLIN, 0}};
    for (;;) {
        int count = ::poll(fds, fd >= 0 ? 2 : 1, timeoutMs);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 || fds[0].revents != 0) return Wait::Stopped;
        if (count == 0) return Wait::TimedOut;
        return Wait::Ready;
    }
}

bool sendAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

bool receiveExactly(int fd, int wake, std::uint8_t* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        if (waitFor(fd, wake, -1) != Wait::Ready) return false;
        ssize_t got = ::recv(fd, buffer + done, size - done, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
           (std::uint32_t{bytes[3]} << 24);
}

bool sendFrame(int fd, std::uint8_t kind, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> message(frame::FRAME_HEADER_SIZE + payload.size());
    std::uint32_t length = static_cast<std::uint32_t>(payload.size());
    message[0] = kind;
    for (int i = 0; i < 4; ++i) message[1 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    std::copy(payload.begin(), payload.end(), message.begin() + frame::FRAME_HEADER_SIZE);
    return sendAll(fd, message);
}

bool sendNumberFrame(int fd, std::uint8_t kind, std::uint32_t value) {
    std::uint8_t payload[4];
    for (int i = 0; i < 4; ++i) payload[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return sendFrame(fd, kind, payload);
}

}  // namespace

std::filesystem::path usbDevicePath(const std::filesystem::path& root, int index) {
    return root / "dev" / "usb" / ("lp" + std::to_string(index));
}

std::filesystem::path parallelDevicePath(const std::filesystem::path& root, int index) {
    return root / "dev" / ("lp" + std::to_string(index));
}

Simulator::Simulator(PrinterConfig config) : printer_(std::move(config)) {
    wake_ = ::eventfd(0, EFD_CLOEXEC);
    if (wake_ < 0) throw systemError("eventfd");
}

Simulator::~Simulator() {
    stop();
}

std::uint16_t Simulator::listenTcp(std::uint16_t port, const std::string& loopbackAddress) {
    in_addr wanted{};
    if (::inet_pton(AF_INET, loopbackAddress.c_str(), &wanted) != 1 || (ntohl(wanted.s_addr) >> 24) != 127)
        throw std::invalid_argument("not a loopback address (127.0.0.0/8): " + loopbackAddress);
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) throw systemError("socket");
    int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = wanted;  // loopback only, always
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        auto error = systemError("listen on " + loopbackAddress + ":" + std::to_string(port));
        ::close(listener);
        throw error;
    }
    port_ = ntohs(address.sin_port);
    {
        std::lock_guard lock(mutex_);
        listeners_.push_back(listener);
    }
    spawn([this, listener] { acceptLoop(listener, false, "tcp"); });
    return port_;
}

void Simulator::addDevice(const std::filesystem::path& socketPath, std::string name) {
    if (name.empty()) name = socketPath.filename().string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = socketPath.string();
    if (path.size() >= sizeof address.sun_path)
        throw std::system_error(ENAMETOOLONG, std::generic_category(), "device socket path " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    std::filesystem::create_directories(socketPath.parent_path());
    std::error_code ignored;
    if (std::filesystem::is_socket(socketPath, ignored)) std::filesystem::remove(socketPath, ignored);
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) throw systemError("socket");
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0) {
        auto error = systemError("listen on " + path);
        ::close(listener);
        throw error;
    }
    {
        std::lock_guard lock(mutex_);
        listeners_.push_back(listener);
        deviceSockets_.push_back(socketPath);
    }
    spawn([this, listener, name] { acceptLoop(listener, true, name); });
}

void Simulator::spawn(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    spawnLocked(std::move(work));
}

void Simulator::spawnLocked(std::function<void()> work) {
    reapFinished();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([done, work = std::move(work)] {
        work();
        *done = true;
    });
    workers_.push_back(Worker{std::move(thread), std::move(done)});
}

void Simulator::reapFinished() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (*it->done) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void Simulator::untrack(int connection) {
    std::lock_guard lock(mutex_);
    connections_.erase(connection);
    ::close(connection);
}

void Simulator::acceptLoop(int listener, bool device, std::string name) {
    while (waitFor(listener, wake_, -1) == Wait::Ready) {
        int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            // Out of descriptors: give the open connections time to end.
            if ((errno == EMFILE || errno == ENFILE) && waitFor(-1, wake_, 50) == Wait::Stopped) break;
            continue;
        }
        printer_.noteConnection();
        if (printer_.faults().closeOnAccept) {
            ::close(connection);
            continue;
        }
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(connection);
            break;
        }
        connections_.insert(connection);
        spawnLocked([this, connection, device, name] {
            if (device)
                serveDevice(connection, name);
            else
                serveTcp(connection);
            untrack(connection);
        });
    }
}

void Simulator::serveTcp(int connection) {
    auto reply = [this, connection](std::vector<std::uint8_t> bytes) {
        Faults faults = printer_.faults();
        if (faults.replyDelay.count() > 0 &&
            waitFor(-1, wake_, static_cast<int>(faults.replyDelay.count())) == Wait::Stopped)
            return;
        std::span<const std::uint8_t> rest(bytes);
        while (!rest.empty()) {
            std::size_t piece =
                faults.replyPieceSize > 0 ? std::min(faults.replyPieceSize, rest.size()) : rest.size();
            if (!sendAll(connection, rest.first(piece))) return;
            rest = rest.subspan(piece);
            if (!rest.empty() &&
                waitFor(-1, wake_, static_cast<int>(faults.pieceDelay.count())) == Wait::Stopped)
                return;
        }
    };
    Session session(printer_, "tcp", reply);
    std::vector<std::uint8_t> buffer(RECEIVE_CHUNK);
    while (waitFor(connection, wake_, -1) == Wait::Ready) {
        const std::uint64_t limit = session.receiveLimit();
        if (limit == 0) {
            // The printer stopped reading: the connection stays open, untaken.
            waitFor(-1, wake_, -1);
            break;
        }
        ssize_t got = ::recv(connection, buffer.data(), std::min<std::uint64_t>(buffer.size(), limit), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (!session.receive(std::span(buffer.data(), static_cast<std::size_t>(got)))) break;
    }
    session.finish();
}

void Simulator::serveDevice(int connection, const std::string& name) {
    std::deque<std::uint8_t> pending;  // replies owed to the next reads
    Session session(printer_, name, [&pending](std::vector<std::uint8_t> bytes) {
        pending.insert(pending.end(), bytes.begin(), bytes.end());
    });
    std::vector<std::uint8_t> payload;
    for (;;) {
        std::uint8_t header[frame::FRAME_HEADER_SIZE];
        if (!receiveExactly(connection, wake_, header, sizeof header)) break;
        std::uint32_t length = littleEndian32(header + 1);
        if (length > frame::MAX_FRAME_PAYLOAD) break;
        payload.resize(length);
        if (length > 0 && !receiveExactly(connection, wake_, payload.data(), length)) break;

        std::uint8_t kind = header[0];
        Faults faults = printer_.faults();
        bool answered = true;
        if (kind == frame::WRITE) {
            if (pending.size() >= MAX_PENDING_ANSWERS || session.receiveLimit() == 0) {
                // Full: the request stays unanswered, as a printer's write
                // stays untaken, until the other side gives up and hangs up.
                waitFor(connection, wake_, -1);
                break;
            }
            std::size_t taken = 0;
            bool closed = false;
            while (taken < length && pending.size() < MAX_PENDING_ANSWERS && session.receiveLimit() > 0) {
                const std::size_t slice =
                    std::min<std::uint64_t>({WRITE_SLICE, length - taken, session.receiveLimit()});
                if (!session.receive(std::span(payload).subspan(taken, slice))) {
                    closed = true;  // the fault closes the device
                    break;
                }
                taken += slice;
            }
            if (closed) break;
            answered = sendNumberFrame(connection, frame::WROTE, static_cast<std::uint32_t>(taken));
        } else if ((kind == frame::READ || kind == frame::DEVICE_ID) && length == 4) {
            std::size_t most = littleEndian32(payload.data());
            std::vector<std::uint8_t> data;
            if (kind == frame::DEVICE_ID) {
                data = printer_.deviceIdBytes();
            } else if (faults.failReads) {
                answered = sendNumberFrame(connection, frame::FAILED, EIO);
                if (!answered) break;
                continue;
            } else if (!pending.empty()) {
                if (faults.replyDelay.count() > 0 &&
                    waitFor(-1, wake_, static_cast<int>(faults.replyDelay.count())) == Wait::Stopped)
                    break;
                std::size_t take = std::min(pending.size(), most);
                if (faults.replyPieceSize > 0) take = std::min(take, faults.replyPieceSize);
                data.assign(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(take));
                pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(take));
            } else {
                data = printer_.statusBytes();
            }
            if (data.size() > most) data.resize(most);
            answered = sendFrame(connection, frame::DATA, data);
        } else {
            answered = sendNumberFrame(connection, frame::FAILED, EINVAL);
        }
        if (!answered) break;
    }
    session.finish();
}

void Simulator::addGadget(const std::filesystem::path& device, std::string name) {
    spawn([this, device, name = std::move(name)] { serveGadget(device, name); });
}

void Simulator::serveGadget(const std::filesystem::path& device, const std::string& name) {
    // Until the gadget is bound its device does not exist; after an unbind
    // it is gone until the next bind.
    constexpr int REOPEN_PAUSE_MS = 20;
    while (!stopping_) {
        int fd = ::open(device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (waitFor(-1, wake_, REOPEN_PAUSE_MS) == Wait::Stopped) return;
            continue;
        }
        printer_.noteConnection();
        serveGadgetOpen(fd, name);
        ::close(fd);
        if (waitFor(-1, wake_, REOPEN_PAUSE_MS) == Wait::Stopped) return;
    }
}

void Simulator::serveGadgetOpen(int fd, const std::string& name) {
    std::deque<std::uint8_t> pending;  // replies owed, sent ahead of the status
    Session session(printer_, name, [&pending](std::vector<std::uint8_t> bytes) {
        pending.insert(pending.end(), bytes.begin(), bytes.end());
    });
    std::vector<std::uint8_t> buffer(RECEIVE_CHUNK);
    bool deaf = false;  // a closing fault: nothing more is read from the host
    bool firstPiece = true;
    for (;;) {
        const bool reading = !deaf && session.receiveLimit() > 0;
        pollfd fds[2] = {{wake_, POLLIN, 0}, {fd, static_cast<short>(POLLOUT | (reading ? POLLIN : 0)), 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0 || (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;
        if (reading && (fds[1].revents & POLLIN) != 0) {
            const auto want =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), session.receiveLimit()));
            ssize_t got = ::read(fd, buffer.data(), want);
            if (got < 0 && errno != EAGAIN && errno != EINTR) break;
            if (got > 0 && !session.receive(std::span(buffer.data(), static_cast<std::size_t>(got))))
                deaf = true;
        }
        if ((fds[1].revents & POLLOUT) == 0) continue;
        // The host took the last answer (the queue holds one): make the next.
        const Faults faults = printer_.faults();
        std::vector<std::uint8_t> answer;
        if (!pending.empty()) {
            std::size_t take = pending.size();
            if (faults.replyPieceSize > 0) take = std::min(take, faults.replyPieceSize);
            const int pause =
                static_cast<int>(firstPiece ? faults.replyDelay.count() : faults.pieceDelay.count());
            if (pause > 0 && waitFor(-1, wake_, pause) == Wait::Stopped) break;
            answer.assign(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(take));
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(take));
            firstPiece = pending.empty();
        } else {
            answer = printer_.statusBytes();
        }
        if (answer.empty()) {
            // Nothing to say (a status cut to no bytes): ask again shortly.
            if (waitFor(fd, wake_, 50) == Wait::Stopped) break;
            continue;
        }
        ssize_t put = ::write(fd, answer.data(), answer.size());
        if (put < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    session.finish();
}

void Simulator::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
        for (int connection : connections_) ::shutdown(connection, SHUT_RDWR);
    }
    for (;;) {
        std::thread thread;
        {
            std::lock_guard lock(mutex_);
            if (workers_.empty()) break;
            thread = std::move(workers_.front().thread);
            workers_.pop_front();
        }
        if (thread.joinable()) thread.join();
    }
    for (int listener : listeners_) ::close(listener);
    listeners_.clear();
    std::error_code ignored;
    for (const auto& path : deviceSockets_) std::filesystem::remove(path, ignored);
    ::close(wake_);
    wake_ = -1;
}

}  // namespace printersim
