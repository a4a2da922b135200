// The test tickets: short strings of the printer's ticket language that
// print the loaded fonts and images (or the printer's resident fonts).
#pragma once

#include <QByteArray>
#include <vector>

#include "app_state.h"

namespace velquin {

class PrinterConnection;

enum class TicketButton { Test1 = 1, Test2, Test3, Test4, Test5, TestAll, ResidentFonts };

// The strings a test button sends in a mode, one write each, in order. A
// numbered button in BMP mode sends one empty string: there are no BMP tests.
std::vector<QByteArray> testTicketStrings(TicketButton button, LoaderMode mode);

// Sends the button's strings over the link, one write each; a failed write
// does not stop the rest. False when a write was not taken whole.
bool sendTestTickets(TicketButton button, LoaderMode mode, PrinterConnection& link);

}  // namespace velquin
