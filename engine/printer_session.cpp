#include "printer_session.h"

#include <utility>

#include "morlix_library.h"

namespace velquin {

void PrinterSession::holdLocal(std::int32_t handle, SessionLink link) {
    const std::lock_guard lock(mutex_);
    PrinterHandle = handle;
    link_ = link;
}

void PrinterSession::holdSocket(MorlixLibrary& library, std::int32_t socket) {
    std::int32_t held = 0;
    {
        const std::lock_guard lock(mutex_);
        held = std::exchange(Socket, socket);
        link_ = SessionLink::Tcp;
    }
    if (held != 0 && held != socket) library.CloseEthernetSocketVB(held);
}

void PrinterSession::closeLocal(MorlixLibrary& library) {
    library.ClosePrinterHandleVB(localHandle());
    write(&PrinterSession::PrinterHandle, 0);
}

void PrinterSession::closeSocket(MorlixLibrary& library) {
    library.CloseEthernetSocketVB(takeSocket());
}

std::int32_t PrinterSession::takeSocket() {
    const std::lock_guard lock(mutex_);
    link_ = PrinterHandle != 0 ? SessionLink::Local : SessionLink::None;
    return std::exchange(Socket, 0);
}

void PrinterSession::setFacts(const PrinterFacts& facts) {
    const std::lock_guard lock(mutex_);
    facts_ = facts;
    PrinterVersion = facts.version;
}

}  // namespace velquin
