// Spooler port redirection. The queues a search moves are remembered with
// the port each had before its first move, in memory and in the redirection
// record, until they are put back.
#include "spooler_ports.h"

#include <new>
#include <optional>
#include <set>
#include <utility>

#include "morlix/morlix.h"
#include "platform/debug_output.h"
#include "platform/guardian.h"
#include "platform/operator_message.h"
#include "platform/spooler.h"
#include "redirection_record.h"

namespace morlix {

using platform::debugOutput;
using platform::debugPrintf;

std::vector<PrinterRecord> enumeratedPrinters;
std::vector<PrinterRecord> redirectedPrinters;
std::size_t printerCount = 0;

namespace {

// Queues this process moved (or took over from a process that ended) and
// has not put back yet, as entered in the redirection record.
Redirections ownQueues;

bool ownedByUs(const RedirectionEntry& entry) {
    return entry.owner == currentProcess();
}

void noteRecordFailure(bool written) {
    if (!written) debugPrintf("Redirection record not written: %s", redirectionRecordPath().c_str());
}

// Enters the queue in the record as ours, unless another live process has
// it entered already (it moved the queue and will put it back). An entry
// left by a process that ended is taken over as it stands: it knew the queue
// before anyone moved it.
std::optional<RedirectionEntry> claimQueue(const std::string& name, const std::string& originalUri,
                                           bool wasStopped) {
    std::optional<RedirectionEntry> claimed;
    noteRecordFailure(updateRedirectionRecord([&](Redirections& record) {
        auto held = record.find(name);
        if (held == record.end()) {
            claimed = RedirectionEntry{originalUri, wasStopped, currentProcess()};
            record.emplace(name, *claimed);
        } else if (ownedByUs(held->second) || !isAlive(held->second.owner)) {
            held->second.owner = currentProcess();
            claimed = held->second;
        }
    }));
    if (claimed) ownQueues.insert_or_assign(name, *claimed);
    return claimed;
}

void releaseQueue(const std::string& name) {
    ownQueues.erase(name);
    noteRecordFailure(updateRedirectionRecord([&](Redirections& record) {
        auto held = record.find(name);
        if (held != record.end() && (ownedByUs(held->second) || !isAlive(held->second.owner)))
            record.erase(held);
    }));
}

// Takes over the entries of processes that ended without putting their
// queues back; those of live processes stay theirs.
void adoptRecordedQueues() {
    noteRecordFailure(updateRedirectionRecord([](Redirections& record) {
        for (auto& [name, entry] : record) {
            if (ownedByUs(entry)) {
                ownQueues.insert_or_assign(name, entry);
            } else if (!isAlive(entry.owner)) {
                entry.owner = currentProcess();
                ownQueues.insert_or_assign(name, entry);
            }
        }
    }));
}

// Gives each freshly enumerated queue that stands on the file device because
// of us its original port again; forgets queues that are gone or that
// somebody else has moved since.
void recallOriginalPorts() {
    std::set<std::string> stillMoved;
    for (PrinterRecord& record : enumeratedPrinters) {
        auto moved = ownQueues.find(record.printerName);
        if (moved == ownQueues.end()) continue;
        if (record.portName == FILE_PORT) {
            record.portName = moved->second.originalUri;
            stillMoved.insert(moved->first);
        } else {
            debugPrintf("EnumeratePrinters - Printer = %s was moved to %s meanwhile, left as it is",
                        record.printerName.c_str(), record.portName.c_str());
        }
    }
    const Redirections known = ownQueues;
    for (const auto& [name, entry] : known)
        if (!stillMoved.count(name)) releaseQueue(name);
}

int bytesNeeded(const std::vector<platform::SpoolerQueue>& queues) {
    std::size_t bytes = 0;
    for (const auto& queue : queues)
        bytes += sizeof(PrinterRecord) + queue.name.size() + queue.deviceUri.size() + 2;
    return static_cast<int>(bytes);
}

}  // namespace

bool EnumeratePrinters() {
    debugOutput("EnumeratePrinters - entry");
    std::string error;
    bool absent = false;
    std::optional<std::vector<platform::SpoolerQueue>> queues =
        platform::hostSpooler().localQueues(error, absent);
    // The operator hears of a spooler that is there but fails once, not at
    // every search; with none running at all no queue can use the device.
    static bool outageTold = false;
    if (!queues) {
        debugPrintf("EnumeratePrinters - Spooler not reachable: %s", error.c_str());
        if (!absent && !std::exchange(outageTold, true))
            platform::operatorMessagef(
                "The print spooler could not be reached (%s): its printer queues were not moved off "
                "their devices",
                error.c_str());
    } else {
        outageTold = false;
    }
    if (!queues || queues->empty()) {
        debugOutput("EnumeratePrinters - No printer driver installed");
        return true;
    }
    debugPrintf("EnumeratePrinters - Bytes needed = %d", bytesNeeded(*queues));
    try {
        std::vector<PrinterRecord> enumerated;
        enumerated.reserve(queues->size());
        for (auto& queue : *queues) enumerated.push_back({std::move(queue.name), std::move(queue.deviceUri)});
        std::vector<PrinterRecord> redirected = enumerated;
        enumeratedPrinters = std::move(enumerated);
        redirectedPrinters = std::move(redirected);
    } catch (const std::bad_alloc&) {
        platform::operatorMessage("EnumeratePrinters - Could not allocate memory for port reassigment");
        return false;
    }
    printerCount = enumeratedPrinters.size();
    debugPrintf("EnumeratePrinters - Printers found = %d", static_cast<int>(printerCount));
    for (const PrinterRecord& record : enumeratedPrinters)
        debugPrintf("EnumeratePrinters - Printer = %s, port = %s", record.printerName.c_str(),
                    record.portName.c_str());
    recallOriginalPorts();
    return true;
}

bool isPortSwap(std::string_view portName) {
    debugPrintf("isPortSwap - Entry, port name =  %.*s", static_cast<int>(portName.size()), portName.data());
    const std::string_view scheme = portName.substr(0, portName.find(':'));
    const bool hasScheme = scheme.size() < portName.size();
    if (hasScheme && scheme == "usb") {
        debugPrintf("isPortSwap - Found USB port %.*s", static_cast<int>(portName.size()), portName.data());
        return true;
    }
    if (hasScheme && scheme == "parallel") {
        debugPrintf("isPortSwap - Found parallel port %.*s", static_cast<int>(portName.size()),
                    portName.data());
        return true;
    }
    debugOutput("isPortSwap - Port is not USB or parallel");
    return false;
}

namespace {

// After the box naming the queue, the spooler's own reason and what the
// operator can do about it.
void tellWhyRefused(const std::string& queue, const platform::SpoolerError& error) {
    debugPrintf("SetPortToFile - %s", error.reason.c_str());
    if (error.notPermitted)
        platform::operatorMessagef(
            "The print system refused to change the printer queue %s: %s. This account may not administer "
            "printers: ask an administrator to allow it (on most systems, membership of the lpadmin group), "
            "then start the program again.",
            queue.c_str(), error.reason.c_str());
    else
        platform::operatorMessagef(
            "The print system could not change the printer queue %s: %s. Check that the print system is "
            "running and that the queue still exists, then start the program again.",
            queue.c_str(), error.reason.c_str());
}

}  // namespace

bool SetPortToFile(PrinterRecord& record, std::uint8_t redirect) {
    platform::SpoolerError error;
    std::unique_ptr<platform::SpoolerQueueHandle> queue =
        platform::hostSpooler().openQueue(record.printerName, error);
    if (!queue) {
        platform::operatorMessagef("SetPortToFile - OpenPrinter failed %s", record.printerName.c_str());
        tellWhyRefused(record.printerName, error);
        return false;
    }
    auto failed = [&] {
        platform::operatorMessagef("SetPortToFile - SetPrinter failed %s", record.printerName.c_str());
        tellWhyRefused(record.printerName, error);
        return false;
    };
    if (redirect) {
        // Entered before the move: a crash right after it must not lose the port.
        const std::optional<RedirectionEntry> entry =
            claimQueue(record.printerName, record.portName, queue->isStopped());
        if (!entry) {
            debugPrintf("SetPortToFile - Printer %s is moved by another process, left as it is",
                        record.printerName.c_str());
            return true;
        }
        platform::startGuardian();
        // Stopped first, so that no job, waiting or printing, reaches the
        // file device: they all wait in the queue until it is put back.
        const bool stopped = queue->isStopped() || queue->setStopped(true, error);
        if (!stopped || !queue->setDeviceUri(std::string(FILE_PORT), error)) {
            platform::SpoolerError ignored;
            if (stopped && !entry->wasStopped) queue->setStopped(false, ignored);
            // A queue an ended process left on the file device keeps its entry.
            if (queue->deviceUri() != FILE_PORT) releaseQueue(record.printerName);
            return failed();
        }
        record.portName = FILE_PORT;
        return true;
    }

    auto own = ownQueues.find(record.printerName);
    const bool wasStopped = own != ownQueues.end() && own->second.wasStopped;
    if (queue->deviceUri() != FILE_PORT) {
        debugPrintf("SetPortToFile - Printer %s is on %s now, left as it is", record.printerName.c_str(),
                    queue->deviceUri().c_str());
    } else if (!queue->setDeviceUri(record.portName, error)) {
        return failed();
    }
    // A queue the operator had stopped before the move stays stopped.
    if (!wasStopped && queue->isStopped() && !queue->setStopped(false, error)) return failed();
    releaseQueue(record.printerName);
    return true;
}

}  // namespace morlix

using morlix::platform::debugOutput;
using morlix::platform::debugPrintf;

extern "C" int32_t SetPortsToFile(void) {
    try {
        debugOutput("SetPortsToFile - entry");
        morlix::adoptRecordedQueues();
        if (!morlix::EnumeratePrinters()) return 1;
        for (std::size_t i = 0; i < morlix::printerCount; ++i) {
            morlix::PrinterRecord& record = morlix::redirectedPrinters[i];
            debugPrintf("SetPortsToFile - Printer to file = %s, port = %s", record.printerName.c_str(),
                        record.portName.c_str());
            if (record.portName == morlix::FILE_PORT || !morlix::isPortSwap(record.portName)) continue;
            if (!morlix::SetPortToFile(record, 1)) return 2;
        }
        return 0;
    } catch (...) {
        return 1;
    }
}

extern "C" int32_t RestorePortsToOriginal(void) {
    try {
        debugOutput("RestorePortsToOriginal - entry");
        morlix::adoptRecordedQueues();
        std::set<std::string> tried;
        auto restore = [&](morlix::PrinterRecord record) {
            tried.insert(record.printerName);
            morlix::SetPortToFile(record, 0);
        };
        for (std::size_t i = 0; i < morlix::printerCount; ++i) {
            const morlix::PrinterRecord& original = morlix::enumeratedPrinters[i];
            debugPrintf("RestorePortsToOriginal - Printer to original = %s, port = %s",
                        original.printerName.c_str(), original.portName.c_str());
            if (original.portName != morlix::redirectedPrinters[i].portName &&
                morlix::isPortSwap(original.portName) && morlix::ownQueues.count(original.printerName))
                restore(original);
        }
        // Queues an earlier run moved and could not put back.
        const morlix::Redirections leftOver = morlix::ownQueues;
        for (const auto& [name, entry] : leftOver) {
            if (tried.count(name)) continue;
            debugPrintf("RestorePortsToOriginal - Printer to original = %s, port = %s", name.c_str(),
                        entry.originalUri.c_str());
            if (morlix::isPortSwap(entry.originalUri))
                restore({name, entry.originalUri});
            else
                morlix::releaseQueue(name);
        }
        morlix::enumeratedPrinters.clear();
        morlix::enumeratedPrinters.shrink_to_fit();
        morlix::redirectedPrinters.clear();
        morlix::redirectedPrinters.shrink_to_fit();
        morlix::printerCount = 0;
        return 0;
    } catch (...) {
        return 0;
    }
}
