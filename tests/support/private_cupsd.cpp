#include "private_cupsd.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace velquin::testing {
namespace {

constexpr const char* CUPSD = "/usr/sbin/cupsd";

bool canConnect(const std::string& socketPath) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

int runProgram(const std::vector<std::string>& arguments, std::string* output) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
    pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::dup2(pipeEnds[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0;) text.append(chunk, got);
    ::close(pipeEnds[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return -1;
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string PrivateCupsd::unavailableReason() {
    if (::geteuid() != 0) return "the private cupsd needs root (it runs jobs as lp)";
    if (::access(CUPSD, X_OK) != 0) return "cupsd is not installed (scripts/setup.sh installs cups)";
    if (::getpwnam("lp") == nullptr || ::getgrnam("lp") == nullptr) return "no lp user or group";
    return "";
}

PrivateCupsd::~PrivateCupsd() {
    stop();
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool PrivateCupsd::writeConfiguration() {
    const std::string& d = folder_;
    std::ofstream(d + "/cupsd.conf")
        << "Listen " << d << "/cups.sock\n"
        << "Browsing No\nWebInterface No\nLogLevel warn\nDefaultAuthType None\n"
        << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
        << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n"
        // Queues under this policy refuse every change of their settings.
        << "<Policy locked>\n  <Limit CUPS-Add-Modify-Printer>\n"
        << "    AuthType Default\n    Require user nobody-may-change-this\n  </Limit>\n"
        << "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    std::ofstream(d + "/cups-files.conf") << "ServerRoot " << d << "/root\nRequestRoot " << d << "/spool\n"
                                          << "CacheDir " << d << "/cache\nStateDir " << d << "/state\n"
                                          << "AccessLog " << d << "/log/access_log\nErrorLog " << d
                                          << "/log/error_log\nPageLog " << d << "/log/page_log\n"
                                          << "TempDir " << d << "/tmp\nFileDevice Yes\nUser lp\nGroup lp\n";
    const passwd* lp = ::getpwnam("lp");
    const group* lpGroup = ::getgrnam("lp");
    if (!lp || !lpGroup) return false;
    // cupsd runs its helpers as lp: the folders they use must be theirs, and
    // the test folder passable.
    if (::chmod(d.c_str(), 0755) != 0) return false;
    for (const char* sub : {"root", "log", "spool", "cache", "state", "tmp"}) {
        const std::string path = d + "/" + sub;
        if (::mkdir(path.c_str(), 0755) != 0) return false;
        if (std::strcmp(sub, "root") != 0 && std::strcmp(sub, "log") != 0 &&
            ::chown(path.c_str(), lp->pw_uid, lpGroup->gr_gid) != 0)
            return false;
    }
    return ::mkdir(stateHome().c_str(), 0700) == 0;
}

bool PrivateCupsd::start() {
    if (std::string reason = unavailableReason(); !reason.empty()) {
        error_ = reason;
        return false;
    }
    char pattern[] = "/tmp/morlix-cups-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        error_ = "no temporary folder";
        return false;
    }
    folder_ = pattern;
    if (!writeConfiguration()) {
        error_ = "cannot prepare " + folder_;
        return false;
    }
    const std::string socketPath = folder_ + "/cups.sock";
    server_ = ::fork();
    if (server_ == 0) {
        int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::execl(CUPSD, CUPSD, "-f", "-c", (folder_ + "/cupsd.conf").c_str(), "-s",
                (folder_ + "/cups-files.conf").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!canConnect(socketPath)) {
        int status = 0;
        if (::waitpid(server_, &status, WNOHANG) == server_) {
            server_ = -1;
            error_ = "cupsd ended at start; see " + folder_ + "/log/error_log";
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            error_ = "cupsd did not answer";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::setenv("CUPS_SERVER", socketPath.c_str(), 1);
    ::setenv("XDG_STATE_HOME", stateHome().c_str(), 1);
    return true;
}

void PrivateCupsd::freeze(bool frozen) {
    if (server_ > 0) ::kill(server_, frozen ? SIGSTOP : SIGCONT);
}

void PrivateCupsd::stop() {
    if (server_ <= 0) return;
    ::kill(server_, SIGTERM);
    ::kill(server_, SIGCONT);  // a frozen server ends too
    int status = 0;
    ::waitpid(server_, &status, 0);
    server_ = -1;
}

bool PrivateCupsd::addQueue(const std::string& name, const std::string& uri, const std::string& policy) {
    std::vector<std::string> command = {"lpadmin", "-p", name, "-E", "-v", uri};
    if (!policy.empty()) command.insert(command.end(), {"-o", "printer-op-policy=" + policy});
    return runProgram(command) == 0;
}

bool PrivateCupsd::setDeviceUri(const std::string& name, const std::string& uri) {
    return runProgram({"lpadmin", "-p", name, "-v", uri}) == 0;
}

bool PrivateCupsd::deleteQueue(const std::string& name) {
    return runProgram({"lpadmin", "-x", name}) == 0;
}

std::string PrivateCupsd::deviceUri(const std::string& name) const {
    std::string output;
    if (runProgram({"lpstat", "-v", name}, &output) != 0) return "";
    const std::string marker = "device for " + name + ": ";
    const std::size_t at = output.find(marker);
    if (at == std::string::npos) return "";
    const std::size_t end = output.find('\n', at);
    return output.substr(at + marker.size(), end - at - marker.size());
}

bool PrivateCupsd::submitJob(const std::string& name) const {
    return runProgram({"lp", "-d", name, "-o", "raw", folder_ + "/cupsd.conf"}) == 0;
}

int PrivateCupsd::unfinishedJobs(const std::string& name) const {
    std::string output;
    if (runProgram({"lpstat", "-W", "not-completed", "-o", name}, &output) != 0) return -1;
    int lines = 0;
    for (char c : output) lines += c == '\n';
    return lines;
}

bool PrivateCupsd::stopQueue(const std::string& name) const {
    return runProgram({"cupsdisable", name}) == 0;
}

bool PrivateCupsd::isStopped(const std::string& name) const {
    std::string output;
    return runProgram({"lpstat", "-p", name}, &output) == 0 && output.find("disabled") != std::string::npos;
}

pid_t forkProgramHoldingPorts(const char* libraryPath) {
    int moved[2];
    if (::pipe(moved) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::unsetenv("MORLIX_GUARDIAN");
        void* library = ::dlopen(libraryPath, RTLD_NOW);
        auto move = library ? reinterpret_cast<int32_t (*)()>(::dlsym(library, "SetPortsToFile")) : nullptr;
        if (move) move();
        [[maybe_unused]] auto written = ::write(moved[1], "M", 1);
        for (;;) ::pause();
    }
    ::close(moved[1]);
    char done;
    const bool ready = child > 0 && ::read(moved[0], &done, 1) == 1;
    ::close(moved[0]);
    if (child > 0 && !ready) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    return ready ? child : -1;
}

}  // namespace velquin::testing
