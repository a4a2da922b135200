// What the printer found holds, as the ledger recorded it: the window's
// "Printer Holds" button and its view, the marks on list rows whose bytes
// the printer already holds, and the recorder the upload and the erase use.
#pragma once

#include <QColor>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "app_state.h"
#include "ledger.h"

class QDialog;
class QPushButton;
class QWidget;

namespace velquin {

class OperatorPrompts;

class FileList;

// The tooltip and text colour of a row whose file the printer holds.
inline const QColor HELD_ROW_COLOUR{0, 110, 0};
inline const QString HELD_ROW_TOOLTIP =
    QStringLiteral("The printer already holds this file (loaded since its last erase)");

class PrinterHolds : public QObject {
public:
    // `buttonParent` holds the "Printer Holds" button; ledger problems are
    // shown once through `prompts`, on the window's thread.
    PrinterHolds(QWidget& buttonParent, OperatorPrompts& prompts,
                 const QString& ledgerFile = ledger::Ledger::defaultFile());
    ~PrinterHolds() override;

    // A printer was found (free flash as read then), or none is.
    void printerFound(const ledger::PrinterKey& printer, std::optional<qint64> freeFlash);
    void printerLost();
    const std::optional<ledger::PrinterKey>& printer() const { return printer_; }
    // The printer's free flash as it was read last (unknown when the last
    // reading failed): what the record is checked against.
    void noteFreeFlash(std::optional<qint64> freeFlash) { freeNow_ = freeFlash; }

    // What the upload and the erase record into (nothing without a printer).
    ledger::PrinterLedger recorder();

    // What the printer holds of the list's files, by the ledger checked
    // against the last free flash reading. A record the printer did not
    // confirm when it was found, or later, counts only for what was loaded
    // since.
    std::vector<bool> heldRows(const FileList& list, LoaderMode mode);
    // Marks the list's rows whose file the printer holds (the grid shows
    // them with a tooltip and a text colour; no cell text changes) and
    // unmarks the others.
    void markHeldRows(FileList& list, LoaderMode mode);

    // The view's text: the printer, whether its last free flash reading
    // agrees with the ledger, and what was loaded since its last erase,
    // newest first.
    QString holdsText();
    // holdsText() in a small dialog, and that dialog shown until closed.
    std::unique_ptr<QDialog> holdsDialog();
    void showHolds();

    QPushButton* button() const { return button_; }
    ledger::Ledger& ledger() { return *ledger_; }

private:
    QWidget& parent_;
    OperatorPrompts& prompts_;
    std::unique_ptr<ledger::Ledger> ledger_;
    std::optional<ledger::PrinterKey> printer_;
    std::optional<qint64> freeNow_;
    // Set when the record could not be believed (when the printer was found
    // or at a later reading): only what was loaded from then on counts.
    std::optional<QDateTime> believedSince_;
    QPushButton* button_;
};

}  // namespace velquin
