#include "redirection_record.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace morlix {
namespace {

constexpr const char* RECORD_FOLDER = "morlix";
constexpr const char* RECORD_NAME = "redirected-queues";

std::string stateHome() {
    const char* xdg = std::getenv("XDG_STATE_HOME");
    // Relative values are to be ignored, as the base-directory rules say.
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    std::string base = home && home[0] == '/' ? home : "";
    if (base.empty())
        if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir && user->pw_dir[0] == '/')
            base = user->pw_dir;
    return base.empty() ? "" : base + "/.local/state";
}

// Creates `path` and the folders above it that are missing, private to the user.
bool makeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

bool isCleanField(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

// Lines "name TAB uri TAB stopped TAB pid TAB start TAB boot"; a line of only
// name and uri (an older record) has no owner, so anyone may put it back.
Redirections parseRecord(std::istream& in) {
    Redirections redirections;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
        if (fields.size() < 2 || !isCleanField(fields[0]) || !isCleanField(fields[1])) continue;
        RedirectionEntry entry{fields[1], false, {}};
        if (fields.size() >= 6) {
            entry.wasStopped = fields[2] == "1";
            char* end = nullptr;
            const long pid = std::strtol(fields[3].c_str(), &end, 10);
            entry.owner.pid = *end == '\0' && pid > 0 ? static_cast<pid_t>(pid) : 0;
            entry.owner.startTime = std::strtoull(fields[4].c_str(), nullptr, 10);
            entry.owner.bootId = fields[5];
        }
        redirections.emplace(std::move(fields[0]), std::move(entry));
    }
    return redirections;
}

std::string formatRecord(const Redirections& redirections) {
    std::ostringstream text;
    for (const auto& [name, entry] : redirections) {
        if (!isCleanField(name) || !isCleanField(entry.originalUri)) continue;
        text << name << '\t' << entry.originalUri << '\t' << (entry.wasStopped ? 1 : 0) << '\t'
             << entry.owner.pid << '\t' << entry.owner.startTime << '\t'
             << (isCleanField(entry.owner.bootId) ? entry.owner.bootId : "-") << '\n';
    }
    return text.str();
}

bool writeAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t put = ::write(fd, content.data() + done, content.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Replaces the record: written beside it and renamed over it, so a crash
// leaves either the old record or the new one, never half of one.
bool replaceRecord(const std::string& path, const Redirections& redirections) {
    if (redirections.empty()) return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    const std::string temporary = path + ".new";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    // Not synced: the rename already guards against a crash of the process,
    // and a sync per moved queue would slow a search down.
    bool written = writeAll(fd, formatRecord(redirections));
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// An exclusive flock on the lock file beside the record, held while it lives.
class RecordLock {
public:
    explicit RecordLock(const std::string& recordPath) {
        const std::string folder = recordPath.substr(0, recordPath.rfind('/'));
        if (!makeFolders(folder)) return;
        fd_ = ::open((recordPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) return;
        int locked;
        while ((locked = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~RecordLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace

std::string redirectionRecordPath() {
    const std::string home = stateHome();
    return home.empty() ? "" : home + "/" + RECORD_FOLDER + "/" + RECORD_NAME;
}

Redirections loadRedirectionRecord() {
    const std::string path = redirectionRecordPath();
    if (path.empty()) return {};
    std::ifstream file(path);
    return parseRecord(file);
}

bool updateRedirectionRecord(const std::function<void(Redirections&)>& change) {
    const std::string path = redirectionRecordPath();
    if (path.empty()) {
        Redirections none;
        change(none);
        return none.empty();
    }
    // Nothing recorded and nothing to record: no folder or lock file is made.
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
        Redirections none;
        change(none);
        if (none.empty()) return true;
    }
    RecordLock lock(path);
    Redirections redirections = loadRedirectionRecord();
    const Redirections before = redirections;
    change(redirections);
    if (!lock.held()) return false;
    return redirections == before || replaceRecord(path, redirections);
}

}  // namespace morlix
