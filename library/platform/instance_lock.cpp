#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace morlix::platform {

std::string runtimeDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (runtime != nullptr && *runtime != '\0' && ::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode))
        return runtime;
    return "/tmp";
}

InstanceLock::~InstanceLock() {
    close();
}

unsigned long InstanceLock::create(const std::string& name) {
    close();
    const std::string path = runtimeDirectory() + "/" + name;
    descriptor_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor_ < 0) return static_cast<unsigned long>(errno);
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
