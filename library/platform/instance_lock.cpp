#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace morlix::platform {
namespace {

// A folder only its owner, this user, can change.
bool isOwnFolder(const char* path) {
    struct stat info {};
    return path != nullptr && path[0] == '/' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::string instanceLockPath(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (isOwnFolder(runtime)) return std::string(runtime) + "/" + name;
    // A shared folder: the name carries the user, and the file is checked when opened.
    const char* temporary = std::getenv("TMPDIR");
    const std::string folder = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
    return folder + "/" + name + "-" + std::to_string(::geteuid());
}

InstanceLock::~InstanceLock() {
    close();
}

unsigned long InstanceLock::create(const std::string& name) {
    close();
    const std::string path = instanceLockPath(name);
    descriptor_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (descriptor_ < 0) return static_cast<unsigned long>(errno);
    // A file somebody else made there is not our lock: holding it would let
    // that user tell us another instance runs.
    struct stat info {};
    if (::fstat(descriptor_, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        close();
        return static_cast<unsigned long>(EACCES);
    }
    if ((info.st_mode & 0077) != 0) ::fchmod(descriptor_, 0600);
    if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0) return 0;
    // The lock file stays open either way, as a named mutex handle would.
    return errno == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : static_cast<unsigned long>(errno);
}

void InstanceLock::close() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

}  // namespace morlix::platform
