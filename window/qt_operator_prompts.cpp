#include "qt_operator_prompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace velquin {

QString qtFileFilter(const QString& commonDialogFilter) {
    const QStringList parts = commonDialogFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString trimmed = pattern.trimmed();
            patterns << trimmed;
            // Linux names are case-sensitive: offer "*.ttf" beside "*.TTF".
            if (trimmed.toLower() != trimmed) patterns << trimmed.toLower();
        }
        QString description = parts[i].trimmed();
        description.remove(QRegularExpression(QStringLiteral("[()]")));
        filters << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
    }
    return filters.join(QStringLiteral(";;"));
}

namespace {

QMessageBox::Icon qtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Critical:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// Window managers cut a title wider than its box ("True … onts"): the box
// is made wide enough for its title and the frame's own buttons.
void widenForTitle(QMessageBox& box) {
    constexpr int FRAME_BUTTONS_ALLOWANCE = 160;
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr) return;
    const int wanted = box.fontMetrics().horizontalAdvance(box.windowTitle()) + FRAME_BUTTONS_ALLOWANCE;
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0,
                  1, grid->columnCount());
}

}  // namespace

void QtOperatorPrompts::message(const QString& text, const QString& title, MessageIcon icon) {
    QMessageBox box(qtIcon(icon), title, text, QMessageBox::Ok, parent_);
    widenForTitle(box);
    box.exec();
}

bool QtOperatorPrompts::askYesNo(const QString& text, const QString& title, DefaultAnswer defaultAnswer) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(defaultAnswer == DefaultAnswer::No ? QMessageBox::No : QMessageBox::Yes);
    widenForTitle(box);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtOperatorPrompts::openFileName(const FileDialogRequest& request) {
    QFileDialog dialog(parent_, request.title, request.folder, qtFileFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // A list file named without its extension is the mode's list file.
    dialog.setDefaultSuffix(request.defaultExtension);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> QtOperatorPrompts::saveFileName(const FileDialogRequest& request) {
    QFileDialog dialog(parent_, request.title, request.folder, qtFileFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(request.defaultExtension);
    // Replacing a list file is what the operator asked for; no second question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return withDefaultExtension(dialog.selectedFiles().constFirst(), request.defaultExtension);
}

std::optional<QString> QtOperatorPrompts::inputText(const QString& prompt, const QString& title,
                                                    const QString& defaultText) {
    bool accepted = false;
    const QString text =
        QInputDialog::getText(parent_, title, prompt, QLineEdit::Normal, defaultText, &accepted);
    if (!accepted) return std::nullopt;
    return text;
}

}  // namespace velquin
