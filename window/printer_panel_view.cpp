#include "printer_panel_view.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <initializer_list>
#include <utility>

#include "file_list.h"
#include "main_window.h"
#include "printer_holds.h"

namespace velquin {

void drawFact(QLabel& label, const PanelFact& fact) {
    label.setText(fact.text);
    if (!fact.acceptable) return;
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, factColour(*fact.acceptable));
    label.setPalette(palette);
}

void showFreeFlash(QLabel& label, std::optional<std::int64_t> freeBytes, bool demo) {
    drawFact(label, freeFlashFact(freeBytes, demo));
}

void PrinterPanelView::showPanel(const PrinterPanel& panel) {
    for (const auto& [label, fact] :
         {std::pair{window_.lblPrinterFound, &panel.printerFound},
          std::pair{window_.lblPortType, &panel.portType}, std::pair{window_.lblHardware, &panel.hardware},
          std::pair{window_.lblPrinterType, &panel.printerType},
          std::pair{window_.lblPrinterModel, &panel.printerModel},
          std::pair{window_.lblVersion, &panel.version}})
        drawFact(*label, *fact);
    const QStringList reasons = unsuitabilityReasons(panel);
    window_.lblPrinterFound->setToolTip(reasons.isEmpty() ? QString()
                                                          : QStringLiteral("Not suitable for uploads:\n") +
                                                                reasons.join(QLatin1Char('\n')));
}

void PrinterPanelView::showFlash(const PanelFact& flash, std::optional<std::int64_t> freeBytes) {
    drawFact(*window_.lblFlashSpaceRemaining, flash);
    window_.noteFreeFlash(freeBytes);
}

// Each command discovery decides on is one control of the window (the list
// edits are two).
void PrinterPanelView::setCommandAvailable(DiscoveryCommand command, bool available) {
    switch (command) {
        case DiscoveryCommand::Sending:
            window_.cmdSendListToPrinter->setEnabled(available);
            return;
        case DiscoveryCommand::ListEditing:
            window_.cmdDeleteLastItem->setEnabled(available);
            window_.cmdDeleteAllItems->setEnabled(available);
            return;
        case DiscoveryCommand::Erasing:
            window_.cmdClearFont->setEnabled(available);
            return;
        case DiscoveryCommand::NetworkSearch:
            window_.cmdFindNetworkPrinter->setEnabled(available);
            return;
        case DiscoveryCommand::FreeFlashShown:
            window_.lblFlashSpaceRemaining->setEnabled(available);
            return;
    }
}

// Greys the controls whose commands an abandoned connect holds off (all
// that reach the library or the list); Exit stays, its shutdown waits.
void PrinterPanelView::holdCommands(bool held) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             window_.FrameAddToList, window_.FrameDeleteFromList, window_.FrameFileOperations,
             window_.FramePrinterOperations, window_.FrameTest, window_.FrameMode, window_.cmdFindPrinter,
             window_.cmdFindNetworkPrinter, window_.CmdGetFlash, window_.CmdGetStatus})
        control->setEnabled(!held);
}

void PrinterPanelView::printerFound(const ledger::PrinterKey& printer, std::optional<qint64> freeFlash) {
    window_.printerHolds().printerFound(printer, freeFlash);
    window_.markHeldRows();
}

void PrinterPanelView::printerLost() {
    window_.printerHolds().printerLost();
}

bool PrinterPanelView::listHasFiles() const {
    return window_.fileList().count() > 0;
}

bool PrinterPanelView::endRequested() const {
    return window_.endRequested();
}

void PrinterPanelView::endProgram(int exitCode) {
    window_.endProgram(exitCode);
}

}  // namespace velquin
