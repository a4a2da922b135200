// The printer the program drives: how it is reached, what it reported of
// itself and what the program made of it, and its free flash. The engine's
// jobs keep it up to date; a front end learns of it from discovery's and the
// jobs' events, and reads it directly only between jobs (tests do). Every
// access is guarded, so a read from another thread never sees half a change.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "printer_facts.h"

namespace velquin {

class MorlixLibrary;

// The link to the printer in use: none, the local port, a TCP connection,
// or the demo printer, which is not there.
enum class SessionLink { None, Local, Tcp, Demo };

class PrinterSession {
public:
    SessionLink link() const { return read(&PrinterSession::link_); }
    // PrinterHandle: the local printer's handle from discovery; 0 when none.
    std::int32_t localHandle() const { return read(&PrinterSession::PrinterHandle); }
    // Socket: the connected TCP socket of a network printer; 0 when none.
    std::int32_t socket() const { return read(&PrinterSession::Socket); }
    // PrinterFoundHandle: a printer link was obtained by discovery.
    bool linkHeld() const { return read(&PrinterSession::PrinterFoundHandle); }
    // PrinterFound: a printer has been found; sending is offered only then.
    bool found() const { return read(&PrinterSession::PrinterFound); }
    // PrinterSuitable: every fact the printer reported is acceptable.
    bool suitable() const { return read(&PrinterSession::PrinterSuitable); }
    // PrinterVersion: the firmware version the printer reported.
    float version() const { return read(&PrinterSession::PrinterVersion); }
    // What the printer reported of itself, as codes; none before a search.
    std::optional<PrinterFacts> facts() const { return read(&PrinterSession::facts_); }
    // The last reading of the printer's free flash; none when unknown.
    std::optional<std::int64_t> freeFlash() const { return read(&PrinterSession::freeFlash_); }

    // The local printer's handle is in use (`link` Local or Demo).
    void holdLocal(std::int32_t handle, SessionLink link);
    // A network printer's connection is in use; the one held before, when
    // another, is closed.
    void holdSocket(MorlixLibrary& library, std::int32_t socket);
    // Closes the local handle through the library, which opened it, and
    // forgets it: its number may soon belong to another file.
    void closeLocal(MorlixLibrary& library);
    // Closes the network connection (the library is told also when none is
    // held); the local handle, when one is held, is the link left.
    void closeSocket(MorlixLibrary& library);
    // Forgets the network connection without closing it, for whoever closes
    // it later; 0 when none was held.
    [[nodiscard]] std::int32_t takeSocket();
    void setLink(SessionLink link) { write(&PrinterSession::link_, link); }
    void setLinkHeld(bool held) { write(&PrinterSession::PrinterFoundHandle, held); }
    void setFound(bool found) { write(&PrinterSession::PrinterFound, found); }
    void setSuitable(bool suitable) { write(&PrinterSession::PrinterSuitable, suitable); }
    // Records the facts, and their firmware version as PrinterVersion.
    void setFacts(const PrinterFacts& facts);
    void setFreeFlash(std::optional<std::int64_t> freeFlash) {
        write(&PrinterSession::freeFlash_, freeFlash);
    }

private:
    template <typename T>
    T read(T PrinterSession::*member) const {
        const std::lock_guard lock(mutex_);
        return this->*member;
    }
    template <typename T>
    void write(T PrinterSession::*member, T value) {
        const std::lock_guard lock(mutex_);
        this->*member = std::move(value);
    }

    mutable std::mutex mutex_;
    SessionLink link_ = SessionLink::None;
    std::int32_t PrinterHandle = 0;
    std::int32_t Socket = 0;
    bool PrinterFoundHandle = false;
    bool PrinterFound = false;
    bool PrinterSuitable = false;
    float PrinterVersion = 0.0f;
    std::optional<PrinterFacts> facts_;
    std::optional<std::int64_t> freeFlash_;
};

}  // namespace velquin
