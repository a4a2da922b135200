// The program's state: the printer session that discovery, the printer I/O
// and the jobs keep, and the few facts of the front end's own that the engine
// obeys. It lives in the front end (the main window, or one velquin-load
// worker) and dies with it.
#pragma once

#include <array>
#include <cstdint>

#include "printer_session.h"

namespace velquin {

// The four operating modes; the numbers are those of the mode file.
enum class LoaderMode : int { ModeTTF = 0, ModeSF = 1, ModePCX = 2, ModeBMP = 3 };

inline constexpr std::size_t FILE_LIST_CAPACITY = 100;

struct AppState {
    // The printer in use and what it is.
    PrinterSession printer;
    // Set once at start-up from the demo marker.
    bool DemoMode = false;
    // True while the start-up sequence runs; the mode handlers then do nothing.
    bool FormLoading = false;

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
