// morlix-guardian PID START: waits until standard input, the pipe held by
// the process PID (started at START clock ticks after boot), closes, then,
// once that process has ended, puts back the spooler queues it moved and
// did not put back itself.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "link/redirection_record.h"
#include "morlix/morlix.h"

namespace {

constexpr std::chrono::minutes RETRY_LIMIT{10};
constexpr std::chrono::seconds FIRST_PAUSE{1};
constexpr std::chrono::seconds LONGEST_PAUSE{60};

// Whether the record still holds a queue of an ended process, or one this
// guardian took over from it and could not put back.
bool queuesLeftOfEndedOwners() {
    for (const auto& [queue, entry] : morlix::loadRedirectionRecord())
        if (entry.owner == morlix::currentProcess() || !morlix::isAlive(entry.owner)) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    // Its messages have no program to show them any more.
    ::unsetenv("MORLIX_OPERATOR_FD");
    // Outlives a closed terminal and the program's interrupt.
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);

    morlix::ProcessIdentity watched = morlix::identityOf(static_cast<pid_t>(std::atol(argv[1])));
    if (watched.startTime != std::strtoull(argv[2], nullptr, 10)) watched = {};

    for (char byte;;) {
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got == 0 || (got < 0 && errno != EINTR)) break;
    }

    // The pipe closes while the process ends: wait for the end itself, a little.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (morlix::isAlive(watched) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // Puts back only entries whose owner has ended. A spooler that does not
    // answer (frozen, restarting) is tried again with a growing pause for a
    // bounded time; what is still moved then stays in the record for the
    // next program that starts.
    RestorePortsToOriginal();
    const auto giveUp = std::chrono::steady_clock::now() + RETRY_LIMIT;
    for (auto pause = FIRST_PAUSE; queuesLeftOfEndedOwners(); pause = std::min(pause * 2, LONGEST_PAUSE)) {
        if (std::chrono::steady_clock::now() + pause >= giveUp) break;
        std::this_thread::sleep_for(pause);
        RestorePortsToOriginal();
    }
    return 0;
}
