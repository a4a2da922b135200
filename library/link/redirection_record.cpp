#include "redirection_record.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

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

}  // namespace

std::string redirectionRecordPath() {
    const std::string home = stateHome();
    return home.empty() ? "" : home + "/" + RECORD_FOLDER + "/" + RECORD_NAME;
}

Redirections loadRedirectionRecord() {
    Redirections redirections;
    const std::string path = redirectionRecordPath();
    if (path.empty()) return redirections;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        std::string name = line.substr(0, tab), uri = line.substr(tab + 1);
        if (isCleanField(name) && isCleanField(uri)) redirections.emplace(std::move(name), std::move(uri));
    }
    return redirections;
}

bool saveRedirectionRecord(const Redirections& redirections) {
    const std::string path = redirectionRecordPath();
    if (path.empty()) return redirections.empty();
    if (redirections.empty()) return ::unlink(path.c_str()) == 0 || errno == ENOENT;

    const std::string folder = path.substr(0, path.rfind('/'));
    if (!makeFolders(folder)) return false;
    std::ostringstream text;
    for (const auto& [name, uri] : redirections)
        if (isCleanField(name) && isCleanField(uri)) text << name << '\t' << uri << '\n';
    const std::string content = text.str();

    // Written beside the record and renamed over it, so a crash leaves either
    // the old record or the new one, never half of one.
    const std::string temporary = path + ".new";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t done = 0;
    bool written = true;
    while (written && done < content.size()) {
        ssize_t put = ::write(fd, content.data() + done, content.size() - done);
        if (put < 0 && errno == EINTR) continue;
        written = put > 0;
        if (written) done += static_cast<std::size_t>(put);
    }
    written = ::fsync(fd) == 0 && written;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace morlix
