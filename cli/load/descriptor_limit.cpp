#include "descriptor_limit.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace velquin::load {

namespace {

// What a running worker keeps open here: its standard input, output and
// error pipes and its process handle, with one to spare.
constexpr rlim_t DESCRIPTORS_PER_WORKER = 5;
// The program's own: standard streams, the event loop, the signal pipe, and
// the descriptors a worker's start holds for a moment.
constexpr rlim_t DESCRIPTORS_RESERVED = 16;

}  // namespace

void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

std::optional<int> workersWithinDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    const rlim_t spare = limit.rlim_cur > DESCRIPTORS_RESERVED ? limit.rlim_cur - DESCRIPTORS_RESERVED : 0;
    return static_cast<int>(std::clamp<rlim_t>(spare / DESCRIPTORS_PER_WORKER, 1, 1'000'000));
}

int workersAtOnce(int jobs, int printers, QString* notice) {
    const int wanted = jobs > 0 ? std::min(jobs, printers) : printers;
    const std::optional<int> allowed = workersWithinDescriptorLimit();
    if (!allowed || wanted <= *allowed) return std::max(wanted, 1);
    if (notice != nullptr) {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        *notice = QStringLiteral("%1 printers at a time, not %2: the limit of %3 open files allows no more")
                      .arg(*allowed)
                      .arg(wanted)
                      .arg(static_cast<qulonglong>(limit.rlim_cur));
    }
    return *allowed;
}

QString workerStartFailure(const QString& qtReason) {
    // As many pipes as a start opens (its three streams, its own report and
    // the process handle): the first that cannot be opened gives the reason.
    constexpr int PIPES_OF_A_START = 5;
    std::vector<int> opened;
    QString reason = qtReason;
    for (int pipe = 0; pipe < PIPES_OF_A_START; ++pipe) {
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            reason = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        opened.insert(opened.end(), {ends[0], ends[1]});
    }
    for (int descriptor : opened) ::close(descriptor);
    return QStringLiteral("the worker could not start: ") + reason;
}

}  // namespace velquin::load
