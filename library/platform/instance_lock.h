// A host-wide named lock that tells whether another process holds it.
// Stands on an advisory flock on a file in $XDG_RUNTIME_DIR (else /tmp).
#pragma once

#include <string>

namespace morlix::platform {

inline constexpr unsigned long ERROR_ALREADY_EXISTS = 183;

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Opens (or creates) the lock named `name` and tries to take it.
    // Returns the error code to record: 0 when this process took it,
    // ERROR_ALREADY_EXISTS when another process holds it, errno when the
    // lock file could not be opened.
    unsigned long create(const std::string& name);

    // Releases and closes the lock (nothing when none is open).
    void close();

    bool isOpen() const { return descriptor_ >= 0; }

private:
    int descriptor_ = -1;
};

// The folder that holds lock files.
std::string runtimeDirectory();

}  // namespace morlix::platform
