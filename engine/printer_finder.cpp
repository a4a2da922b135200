#include "printer_finder.h"

#include "morlix/printer_codes.h"
#include "morlix_library.h"

namespace velquin {

std::optional<PrinterLock::Attempt> PrinterFinder::claim(const QString& key,
                                                         const std::function<bool()>& keepWaiting) {
    {
        const std::lock_guard lock(locksMutex_);
        if (locks_.contains(key)) return std::nullopt;
    }
    PrinterLock::Attempt attempt =
        keepWaiting ? PrinterLock::acquireWaiting(key, keepWaiting) : PrinterLock::tryAcquire(key);
    if (!attempt.lock) return attempt;
    const std::lock_guard lock(locksMutex_);
    locks_.emplace(key, std::move(attempt.lock));
    return std::nullopt;
}

void PrinterFinder::release(const QString& key) {
    const std::lock_guard lock(locksMutex_);
    locks_.erase(key);
}

bool PrinterFinder::redirectSpooler() {
    return library_.SetPortsToFile() == 0;
}

std::optional<std::int32_t> PrinterFinder::openLocal() {
    std::int32_t handle = 0;
    if (library_.GetPrinterHandleVB(&handle) != 0 || library_.failed()) return std::nullopt;
    return handle;
}

std::optional<std::int32_t> PrinterFinder::connect(const NetworkAddress& address) {
    std::int32_t socket = 0;
    const std::int32_t result = library_.CreateEthernetSocketVB(
        &socket, address.octet1.toLocal8Bit().constData(), address.octet2.toLocal8Bit().constData(),
        address.octet3.toLocal8Bit().constData(), address.octet4.toLocal8Bit().constData(),
        address.port.toLocal8Bit().constData());
    if (result == 0 || socket == 0) return std::nullopt;
    return socket;
}

PrinterFacts PrinterFinder::readFacts(PrinterLink link) {
    PrinterFacts facts;
    facts.link = link;
    library_.GetPrinterDetailVB(&facts.portType, &facts.logicBoard, &facts.printerType, &facts.printerModel);
    if (link == PrinterLink::Network) facts.portType = morlix::PORT_TYPE_ETHERNET;
    library_.GetPrinterVersionVB(&facts.version);
    return facts;
}

}  // namespace velquin
