#include "termination_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace velquin {

namespace {

int signalPipe[2] = {-1, -1};
int lastSignal = 0;

extern "C" void forwardSignal(int signalNumber) {
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (::read(signalPipe[0], &byte, 1) > 0) received_ = lastSignal = byte;
        if (onSignal_) onSignal_();
    });
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signalNumber, &action, nullptr);
}

int TerminationSignals::lastReceived() {
    return lastSignal;
}

TerminationSignals::~TerminationSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signalNumber, &action, nullptr);
    notifier_.reset();
    for (int& end : signalPipe) {
        if (end >= 0) ::close(end);
        end = -1;
    }
}

}  // namespace velquin
