#include "test_tickets.h"

#include "printer_connection.h"

namespace velquin {

namespace {

QByteArray numberedTicket(int number, LoaderMode mode) {
    const QByteArray n = QByteArray::number(number);
    switch (mode) {
        case LoaderMode::ModeTTF:
            return "<RC100,000><TTF" + n + ",30>True type Font Number " + n + "<p>";
        case LoaderMode::ModeSF:
            return "<RC100,000><SF" + n + ",30>Soft Font Number " + n + "<p>";
        case LoaderMode::ModePCX:
            return "<NR><SP100,000><LD" + n + "><RR><SP100,300><LD" + n + "><RC100,500><F3><NR>PCX " + n +
                   "<p>";
        case LoaderMode::ModeBMP:
            break;
    }
    return {};
}

// Five lines on one ticket: only the last ends it with "<p>".
std::vector<QByteArray> fiveLineTicket(const QByteArray& command, const QByteArray& text,
                                       const QByteArray& lastText) {
    std::vector<QByteArray> lines;
    for (int n = 1; n <= 5; ++n) {
        const QByteArray number = QByteArray::number(n);
        QByteArray line = "<RC" + number + "00,000><" + command + number + ",20>";
        line += n < 5 ? text + number : lastText + number + "<p>";
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::vector<QByteArray> testTicketStrings(TicketButton button, LoaderMode mode) {
    switch (button) {
        case TicketButton::TestAll:
            if (mode == LoaderMode::ModeTTF) {
                return fiveLineTicket("TTF", "True type Font Number ", "True type Font Number ");
            }
            return fiveLineTicket("SF", "Soft Font Number ", "Soft Font Number ");
        case TicketButton::ResidentFonts:
            return fiveLineTicket("RTF", "Resident True type Font Number ",
                                  "Resident True type Font Number Five ");
        default:
            return {numberedTicket(static_cast<int>(button), mode)};
    }
}

bool sendTestTickets(TicketButton button, LoaderMode mode, PrinterConnection& link) {
    bool allTaken = true;
    for (const QByteArray& ticket : testTicketStrings(button, mode)) {
        allTaken = link.send(std::span(reinterpret_cast<const std::uint8_t*>(ticket.constData()),
                                       static_cast<std::size_t>(ticket.size()))) &&
                   allTaken;
    }
    return allTaken;
}

}  // namespace velquin
