#include "printer_finder.h"

#include "morlix/printer_codes.h"
#include "morlix_library.h"

namespace velquin {

PrinterIdentity PrinterFacts::identity() const {
    return printerIdentity(logicBoard, printerType, printerModel, version);
}

QStringList PrinterFacts::unsuitability() const {
    const PrinterIdentity values = identity();
    QStringList reasons;
    const auto judge = [&reasons](bool acceptable, const QString& reason) {
        if (!acceptable) reasons << reason;
    };
    judge(portTypeAcceptable(portType, link), QStringLiteral("port type ") + portTypeName(portType));
    judge(logicBoardAcceptable(logicBoard, link), QStringLiteral("logic board ") + values.logicBoard);
    judge(printerTypeAcceptable(printerType), QStringLiteral("command language ") + values.language);
    judge(printerModelAcceptable(printerModel), QStringLiteral("model ") + values.model);
    judge(firmwareVersionAcceptable(version, link), QStringLiteral("firmware ") + values.firmware);
    return reasons;
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
