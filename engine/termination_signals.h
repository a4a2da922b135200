// Turns SIGINT, SIGTERM and SIGHUP into a call on the event loop, so the
// program ends through its normal shutdown (spooler ports restored, links
// closed, the single-instance guard released) instead of dying mid-way.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace velquin {

class TerminationSignals : public QObject {
public:
    // onSignal runs on the event loop's thread after a signal arrived.
    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals() override;
    // The last signal that arrived (SIGINT, SIGTERM, SIGHUP), 0 before any.
    int received() const { return received_; }
    // The last signal any instance of this process heard, 0 before any.
    static int lastReceived();

private:
    std::function<void()> onSignal_;
    int received_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace velquin
