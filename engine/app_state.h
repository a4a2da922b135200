// The main window's shared state: what discovery, the printer I/O, the file
// list, the upload engine and the flash commands read and write. It lives in
// the main window and dies with it.
#pragma once

#include <array>
#include <cstdint>

namespace velquin {

// The link to the printer in use: none, the local port, a TCP connection,
// or the demo printer, which is not there.
enum class SessionLink { None, Local, Tcp, Demo };

// The four operating modes; the numbers are those of the mode file.
enum class LoaderMode : int { ModeTTF = 0, ModeSF = 1, ModePCX = 2, ModeBMP = 3 };

inline constexpr std::size_t FILE_LIST_CAPACITY = 100;

struct AppState {
    // A printer link was obtained by discovery (local search or network dialog).
    bool PrinterFoundHandle = false;
    // The printer link in use: over TCP every write goes to Socket, over the
    // local port to PrinterHandle.
    SessionLink link = SessionLink::None;
    // A printer has been found; the file list enables sending only then.
    bool PrinterFound = false;
    // The connected TCP socket of a network printer; 0 when none.
    std::int32_t Socket = 0;
    // Set once at start-up from the demo marker.
    bool DemoMode = false;
    // True while the start-up sequence runs; the mode handlers then do nothing.
    bool FormLoading = false;

    // The local printer handle from discovery; 0 when none.
    std::int32_t PrinterHandle = 0;

    float PrinterVersion = 0.0f;
    bool PrinterSuitable = false;

    // A command that talks to the printer is running (the window stays live
    // while the engine thread works, so another click could otherwise start
    // a second one beside it).
    bool OperationRunning = false;
    // A library call abandoned after its time limit is still running on a
    // worker thread; no other printer command may call the library meanwhile.
    bool LibraryCallPending = false;
};

// Marks a printer command as running for its lifetime; when another one
// already runs it acquires nothing and the caller returns at once.
class OperationGuard {
public:
    explicit OperationGuard(AppState& state)
        : state_(state), acquired_(!state.OperationRunning && !state.LibraryCallPending) {
        if (acquired_) state_.OperationRunning = true;
    }
    ~OperationGuard() {
        if (acquired_) state_.OperationRunning = false;
    }
    OperationGuard(const OperationGuard&) = delete;
    OperationGuard& operator=(const OperationGuard&) = delete;
    explicit operator bool() const { return acquired_; }

private:
    AppState& state_;
    bool acquired_;
};

}  // namespace velquin
