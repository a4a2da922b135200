#include "printer_holds.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QFontDatabase>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "conversion.h"
#include "file_list.h"
#include "operator_prompts.h"
#include "upload.h"

namespace velquin {

namespace {

QString flashNumber(std::optional<qint64> value) {
    return value ? QString::number(*value) : QStringLiteral("unknown");
}

// Record times are kept to the second.
QDateTime nowToTheSecond() {
    QDateTime now = QDateTime::currentDateTimeUtc();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    return now;
}

}  // namespace

PrinterHolds::PrinterHolds(QWidget& buttonParent, OperatorPrompts& prompts, const QString& ledgerFile)
    : parent_(buttonParent), prompts_(prompts) {
    // The ledger tells its problem from its own thread, which ends before
    // this object does: shown on the window's thread.
    ledger_ = std::make_unique<ledger::Ledger>(ledgerFile, [this](const QString& problem) {
        QMetaObject::invokeMethod(
            this,
            [this, problem] {
                prompts_.message(QStringLiteral("The record of what the printer holds cannot be kept: ") +
                                     problem + QStringLiteral("\n\nLoads go on, but are not recorded."),
                                 QStringLiteral("Printer Holds"), MessageIcon::Exclamation);
            },
            Qt::QueuedConnection);
    });
    button_ = new QPushButton(QStringLiteral("Printer Holds"), &buttonParent);
    button_->setObjectName(QStringLiteral("cmdPrinterHolds"));
    button_->setEnabled(false);
}

PrinterHolds::~PrinterHolds() = default;

void PrinterHolds::printerFound(const ledger::PrinterKey& printer, std::optional<qint64> freeFlash) {
    printer_ = printer;
    freeNow_ = freeFlash;
    believedSince_.reset();
    if (!ledger_->verifyHolds(printer, freeFlash).recordTrusted()) believedSince_ = nowToTheSecond();
    button_->setEnabled(true);
}

void PrinterHolds::printerLost() {
    printer_.reset();
    freeNow_.reset();
    button_->setEnabled(false);
}

ledger::PrinterLedger PrinterHolds::recorder() {
    if (!printer_) return {};
    return ledger::PrinterLedger(ledger_.get(), *printer_);
}

std::vector<bool> PrinterHolds::heldRows(const FileList& list, LoaderMode mode) {
    if (!printer_) return std::vector<bool>(static_cast<std::size_t>(list.count()), false);
    const ledger::Holdings holdings =
        ledger_->holdings(*printer_, freeNow_, filesAsSent(list.paths(), mode), believedSince_);
    // A record the printer disagrees with stays doubted once it agrees
    // again: what it said before may be gone.
    if (holdings.verdict.changed() && !believedSince_) believedSince_ = nowToTheSecond();
    return holdings.held;
}

void PrinterHolds::markHeldRows(FileList& list, LoaderMode mode) {
    list.setHeld(heldRows(list, mode));
}

QString PrinterHolds::holdsText() {
    if (!printer_) return QStringLiteral("No printer found.");
    QString text = QStringLiteral("Printer %1 (%2)\n").arg(printer_->identity.text(), printer_->link);
    const ledger::FlashCheck check = ledger_->checkFreeFlash(*printer_, freeNow_);
    switch (check.agreement) {
        case ledger::FlashAgreement::NeverSeen:
            text += QStringLiteral("No load or erase of this printer is recorded yet.\n");
            break;
        case ledger::FlashAgreement::Agrees:
            text += QStringLiteral("Free flash %1 bytes, as last seen.\n").arg(flashNumber(freeNow_));
            break;
        case ledger::FlashAgreement::ChangedSinceLastSeen:
            text += QStringLiteral(
                        "changed since last seen: the printer reports %1 bytes free, the record "
                        "expects %2 (loaded or erased elsewhere).\n")
                        .arg(flashNumber(freeNow_), flashNumber(check.expected));
            break;
        case ledger::FlashAgreement::Unknown:
            text += QStringLiteral("Free flash unknown, cannot compare with the record.\n");
            break;
    }
    if (!ledger_->usable())
        text += QStringLiteral("The record cannot be read: ") + ledger_->problem() + QLatin1Char('\n');
    const std::vector<ledger::LoadRecord> loads = ledger_->loads(*printer_);
    text += loads.empty() ? QStringLiteral("\nNothing loaded since the last erase.\n")
                          : QStringLiteral("\nLoaded since the last erase, newest first:\n");
    for (const ledger::LoadRecord& load : loads)
        text += QStringLiteral("%1  %2  %3  %4 bytes  %5\n")
                    .arg(load.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                         ledger::outcomeName(load.outcome), ledger::modeName(load.mode))
                    .arg(load.size)
                    .arg(load.path);
    return text;
}

std::unique_ptr<QDialog> PrinterHolds::holdsDialog() {
    auto dialog = std::make_unique<QDialog>(&parent_);
    dialog->setObjectName(QStringLiteral("PrinterHoldsDialog"));
    dialog->setWindowTitle(QStringLiteral("Printer Holds"));
    auto* layout = new QVBoxLayout(dialog.get());
    auto* view = new QPlainTextEdit(holdsText(), dialog.get());
    view->setReadOnly(true);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog.get());
    connect(buttons, &QDialogButtonBox::rejected, dialog.get(), &QDialog::reject);
    layout->addWidget(buttons);
    dialog->resize(640, 320);
    return dialog;
}

void PrinterHolds::showHolds() {
    holdsDialog()->exec();
}

}  // namespace velquin
