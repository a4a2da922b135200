// Spooler port redirection. The queues a search moves are remembered with
// the port each had before its first move, in memory and in the redirection
// record, until they are put back.
#include "spooler_ports.h"

#include <new>
#include <set>

#include "morlix/morlix.h"
#include "platform/debug_output.h"
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

// Queues moved and not yet put back, with their original ports.
Redirections movedQueues;

void saveMovedQueues() {
    if (!saveRedirectionRecord(movedQueues))
        debugPrintf("Redirection record not written: %s", redirectionRecordPath().c_str());
}

// Takes over what an earlier run recorded and did not put back.
void adoptRecordedQueues() {
    for (auto& [name, port] : loadRedirectionRecord()) movedQueues.emplace(name, port);
}

// Gives each freshly enumerated queue that stands on the file device because
// of us its original port again; forgets queues that are gone or that
// somebody else has moved since.
void recallOriginalPorts() {
    Redirections stillMoved;
    for (PrinterRecord& record : enumeratedPrinters) {
        auto moved = movedQueues.find(record.printerName);
        if (moved == movedQueues.end()) continue;
        if (record.portName == FILE_PORT) {
            record.portName = moved->second;
            stillMoved.insert(*moved);
        } else {
            debugPrintf("EnumeratePrinters - Printer = %s was moved to %s meanwhile, left as it is",
                        record.printerName.c_str(), record.portName.c_str());
        }
    }
    if (stillMoved != movedQueues) {
        movedQueues = std::move(stillMoved);
        saveMovedQueues();
    }
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
    std::optional<std::vector<platform::SpoolerQueue>> queues = platform::hostSpooler().localQueues(error);
    if (!queues) debugPrintf("EnumeratePrinters - Spooler not reachable: %s", error.c_str());
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

bool SetPortToFile(PrinterRecord& record, std::uint8_t redirect) {
    std::string error;
    std::unique_ptr<platform::SpoolerQueueHandle> queue =
        platform::hostSpooler().openQueue(record.printerName, error);
    if (!queue) {
        debugPrintf("SetPortToFile - %s", error.c_str());
        platform::operatorMessagef("SetPortToFile - OpenPrinter failed %s", record.printerName.c_str());
        return false;
    }
    if (!redirect && queue->deviceUri() != FILE_PORT) {
        debugPrintf("SetPortToFile - Printer %s is on %s now, left as it is", record.printerName.c_str(),
                    queue->deviceUri().c_str());
        return true;
    }
    const std::string port = redirect ? std::string(FILE_PORT) : record.portName;
    if (!queue->setDeviceUri(port, error)) {
        debugPrintf("SetPortToFile - %s", error.c_str());
        platform::operatorMessagef("SetPortToFile - SetPrinter failed %s", record.printerName.c_str());
        return false;
    }
    record.portName = port;
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
            // Recorded before the move: a crash right after it must not lose the port.
            morlix::movedQueues.insert_or_assign(record.printerName, morlix::enumeratedPrinters[i].portName);
            morlix::saveMovedQueues();
            if (!morlix::SetPortToFile(record, 1)) {
                morlix::movedQueues.erase(record.printerName);
                morlix::saveMovedQueues();
                return 2;
            }
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
            if (morlix::SetPortToFile(record, 0)) morlix::movedQueues.erase(record.printerName);
        };
        for (std::size_t i = 0; i < morlix::printerCount; ++i) {
            const morlix::PrinterRecord& original = morlix::enumeratedPrinters[i];
            debugPrintf("RestorePortsToOriginal - Printer to original = %s, port = %s",
                        original.printerName.c_str(), original.portName.c_str());
            if (original.portName != morlix::redirectedPrinters[i].portName &&
                morlix::isPortSwap(original.portName))
                restore(original);
        }
        // Queues an earlier run moved and could not put back.
        const morlix::Redirections leftOver = morlix::movedQueues;
        for (const auto& [name, port] : leftOver) {
            if (tried.count(name)) continue;
            debugPrintf("RestorePortsToOriginal - Printer to original = %s, port = %s", name.c_str(),
                        port.c_str());
            if (morlix::isPortSwap(port))
                restore({name, port});
            else
                morlix::movedQueues.erase(name);
        }
        morlix::saveMovedQueues();
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
