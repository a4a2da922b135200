// Draws what discovery found onto the main window: the printer information
// panel's labels in their colours, the free flash, and the commands
// discovery enables, disables or holds off.
#pragma once

#include <QColor>
#include <cstdint>
#include <optional>

#include "printer_discovery.h"
#include "printer_facts.h"

class QLabel;

namespace velquin {

class MainWindow;

inline const QColor FACT_ACCEPTABLE_COLOUR{0, 255, 0};
inline const QColor FACT_UNACCEPTABLE_COLOUR{255, 0, 0};
inline QColor factColour(bool acceptable) {
    return acceptable ? FACT_ACCEPTABLE_COLOUR : FACT_UNACCEPTABLE_COLOUR;
}

// A value label: its text, and its colour once the fact is judged.
void drawFact(QLabel& label, const PanelFact& fact);
// Shows a free-flash reading: digit groups in the good reading's green, or
// "unknown" in red; a demo figure says it is one.
void showFreeFlash(QLabel& label, std::optional<std::int64_t> freeBytes, bool demo = false);

class PrinterPanelView final : public DiscoveryView {
public:
    explicit PrinterPanelView(MainWindow& window) : window_(window) {}

    void showPanel(const PrinterPanel& panel) override;
    void showFlash(const PanelFact& flash, std::optional<std::int64_t> freeBytes) override;
    void setCommandAvailable(DiscoveryCommand command, bool available) override;
    void holdCommands(bool held) override;
    void printerFound(const ledger::PrinterKey& printer, std::optional<qint64> freeFlash) override;
    void printerLost() override;
    bool listHasFiles() const override;
    bool endRequested() const override;
    void endProgram(int exitCode) override;

private:
    MainWindow& window_;
};

}  // namespace velquin
