#include "guardian.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "debug_output.h"
#include "process_identity.h"

namespace morlix::platform {
namespace {

// The process the running guardian watches, and the write end of its pipe.
pid_t guardedProcess = 0;
int guardianPipe = -1;

}  // namespace

std::string guardianPath() {
    // Set, it names the program; set empty, there is none (as for a library
    // used without the program that moves queues).
    if (const char* chosen = std::getenv("MORLIX_GUARDIAN")) return chosen;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&startGuardian), &info) != 0 && info.dli_fname) {
        std::unique_ptr<char, decltype(&std::free)> code(::realpath(info.dli_fname, nullptr), &std::free);
        if (code) {
            std::string beside = code.get();
            beside = beside.substr(0, beside.rfind('/') + 1) + GUARDIAN_PROGRAM;
            if (::access(beside.c_str(), X_OK) == 0) return beside;
        }
    }
#ifdef MORLIX_GUARDIAN_INSTALL_PATH
    if (::access(MORLIX_GUARDIAN_INSTALL_PATH, X_OK) == 0) return MORLIX_GUARDIAN_INSTALL_PATH;
#endif
    return "";
}

void startGuardian() noexcept {
    try {
        if (guardedProcess == ::getpid()) return;
        // A forked child holds its parent's pipe end: that guardian is not its own.
        if (guardianPipe >= 0) ::close(guardianPipe);
        guardianPipe = -1;
        guardedProcess = ::getpid();

        const std::string path = guardianPath();
        if (path.empty()) {
            debugOutput("startGuardian - No guardian program found");
            return;
        }
        const ProcessIdentity& self = currentProcess();
        const std::string pid = std::to_string(self.pid), start = std::to_string(self.startTime);
        char* const argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(pid.c_str()),
                              const_cast<char*>(start.c_str()), nullptr};
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            debugPrintf("startGuardian - pipe failed, errno = %d", errno);
            return;
        }
        // Started through a child that ends at once, so the guardian is
        // nobody's child here (no zombie) and outlives this process.
        const pid_t child = ::fork();
        if (child == 0) {
            if (::fork() != 0) ::_exit(0);
            ::setsid();
            ::dup2(ends[0], STDIN_FILENO);
            const int devNull = ::open("/dev/null", O_WRONLY);
            if (devNull >= 0) ::dup2(devNull, STDOUT_FILENO);
            // Nothing of the program's (devices, locks, its display) stays open in the guardian.
            ::syscall(SYS_close_range, 3U, ~0U, 0U);
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        ::close(ends[0]);
        if (child < 0) {
            ::close(ends[1]);
            debugPrintf("startGuardian - fork failed, errno = %d", errno);
            return;
        }
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        guardianPipe = ends[1];
        debugPrintf("startGuardian - Guardian %s started", path.c_str());
    } catch (...) {
        debugOutput("startGuardian - Guardian not started");
    }
}

}  // namespace morlix::platform
