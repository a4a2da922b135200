// The host's print spooler: its printers are queues, and the port of a queue
// is its device URI. The library moves queues off the devices it opens
// itself and back again through this contract.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morlix::platform {

// Why the spooler did not do what was asked, in its own words; `notPermitted`
// when it refused this account the right to do it.
struct SpoolerError {
    std::string reason;
    bool notPermitted = false;
};

struct SpoolerQueue {
    std::string name;
    std::string deviceUri;
};

// A queue opened for administration; closed when destroyed.
class SpoolerQueueHandle {
public:
    virtual ~SpoolerQueueHandle() = default;
    // The queue's device URI as the spooler had it when opened.
    virtual const std::string& deviceUri() const = 0;
    // Gives the queue a new device URI; false with a reason in `error`.
    virtual bool setDeviceUri(const std::string& uri, SpoolerError& error) = 0;
    // Whether the queue was stopped when opened: its jobs wait, none prints.
    virtual bool isStopped() const = 0;
    // Stops the queue (jobs wait, a job being printed goes back to waiting)
    // or starts it again; false with a reason in `error`.
    virtual bool setStopped(bool stopped, SpoolerError& error) = 0;
};

class Spooler {
public:
    virtual ~Spooler() = default;
    // Every printer queue of this host (no classes, no queues of other
    // hosts) in the spooler's order; nullopt with a reason when the spooler
    // could not be asked, with `absent` set when none runs at all (nothing
    // listens), as opposed to one that is there but fails or hangs.
    virtual std::optional<std::vector<SpoolerQueue>> localQueues(std::string& error, bool& absent) = 0;
    // Opens a queue for administration; nullptr with a reason when it does
    // not exist or the spooler refuses.
    virtual std::unique_ptr<SpoolerQueueHandle> openQueue(const std::string& name, SpoolerError& error) = 0;
};

// The spooler of this host (the CUPS server named by CUPS_SERVER or the
// client configuration, asked afresh on every call). Each request is given
// SPOOLER_TIMEOUT_MS to be answered: a hung spooler is a failure, not a wait.
inline constexpr int SPOOLER_TIMEOUT_MS = 3000;
Spooler& hostSpooler();

}  // namespace morlix::platform
