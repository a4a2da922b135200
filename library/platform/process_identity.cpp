#include "process_identity.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace morlix {
namespace {

std::string bootId() {
    std::string id;
    std::getline(std::ifstream("/proc/sys/kernel/random/boot_id"), id);
    return id;
}

// The fields of /proc/PID/stat after the command name, which may itself hold
// blanks and parentheses: [0] is the state, [19] the start time.
std::vector<std::string> statFields(pid_t pid) {
    std::string line;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), line);
    std::vector<std::string> fields;
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return fields;
    std::istringstream rest(line.substr(close + 1));
    for (std::string field; rest >> field;) fields.push_back(field);
    return fields;
}

}  // namespace

const ProcessIdentity& currentProcess() {
    // Asked afresh after a fork: the child is another process.
    static thread_local ProcessIdentity self;
    if (self.pid != ::getpid()) self = identityOf(::getpid());
    return self;
}

ProcessIdentity identityOf(pid_t pid) {
    const std::vector<std::string> fields = statFields(pid);
    if (fields.size() < 20) return {};
    return {pid, std::strtoull(fields[19].c_str(), nullptr, 10), bootId()};
}

bool isAlive(const ProcessIdentity& process) {
    if (process.pid <= 0) return false;
    const std::vector<std::string> fields = statFields(process.pid);
    if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X") return false;
    return std::strtoull(fields[19].c_str(), nullptr, 10) == process.startTime && bootId() == process.bootId;
}

}  // namespace morlix
