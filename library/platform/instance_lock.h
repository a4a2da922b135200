// A per-user named lock that tells whether another process of the user
// holds it. Stands on an advisory flock on a file of the user's own: in
// $XDG_RUNTIME_DIR, else NAME-UID with mode 0600 in $TMPDIR or /tmp; a file
// of that name owned by anybody else is refused, never held.
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
    // lock file could not be opened (EACCES when it is not the user's own).
    unsigned long create(const std::string& name);

    // Releases and closes the lock (nothing when none is open).
    void close();

    bool isOpen() const { return descriptor_ >= 0; }

private:
    int descriptor_ = -1;
};

// The file that stands for the lock named `name`.
std::string instanceLockPath(const std::string& name);

}  // namespace morlix::platform
