#include "operator_prompts.h"

#include <QFileDialog>
#include <QFileInfo>
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

QString withDefaultExtension(const QString& path, const QString& extension) {
    if (extension.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return path + QLatin1Char('.') + extension;
}

}  // namespace

void QtOperatorPrompts::message(const QString& text, const QString& title, MessageIcon icon) {
    QMessageBox box(qtIcon(icon), title, text, QMessageBox::Ok, parent_);
    box.exec();
}

bool QtOperatorPrompts::askYesNo(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent_);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtOperatorPrompts::openFileName(const FileDialogRequest& request) {
    QFileDialog dialog(parent_, request.title, QString(), qtFileFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // A list file named without its extension is the mode's list file.
    dialog.setDefaultSuffix(request.defaultExtension);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> QtOperatorPrompts::saveFileName(const FileDialogRequest& request) {
    QFileDialog dialog(parent_, request.title, QString(), qtFileFilter(request.filter));
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

void ScriptedOperatorPrompts::record(Prompt prompt) {
    prompts_.push_back(std::move(prompt));
    if (observer_) observer_(prompts_.back());
}

QStringList ScriptedOperatorPrompts::messages() const {
    QStringList texts;
    for (const Prompt& prompt : prompts_)
        if (prompt.kind == Kind::Message) texts << prompt.text;
    return texts;
}

int ScriptedOperatorPrompts::countMessages(const QString& text) const {
    return static_cast<int>(messages().count(text));
}

void ScriptedOperatorPrompts::message(const QString& text, const QString& title, MessageIcon icon) {
    record({Kind::Message, text, title, icon, {}});
}

bool ScriptedOperatorPrompts::askYesNo(const QString& text, const QString& title) {
    record({Kind::YesNo, text, title, MessageIcon::None, {}});
    if (yesNoAnswers_.empty()) return false;
    const bool answer = yesNoAnswers_.front();
    yesNoAnswers_.pop_front();
    return answer;
}

std::optional<QString> ScriptedOperatorPrompts::takeAnswer(std::deque<QString>& answers) {
    if (answers.empty()) return std::nullopt;
    const QString answer = answers.front();
    answers.pop_front();
    if (answer.isNull()) return std::nullopt;
    return answer;
}

std::optional<QString> ScriptedOperatorPrompts::openFileName(const FileDialogRequest& request) {
    record({Kind::OpenFile, request.title, request.filter, MessageIcon::None, request.defaultExtension});
    return takeAnswer(fileAnswers_);
}

std::optional<QString> ScriptedOperatorPrompts::saveFileName(const FileDialogRequest& request) {
    record({Kind::SaveFile, request.title, request.filter, MessageIcon::None, request.defaultExtension});
    const std::optional<QString> answer = takeAnswer(fileAnswers_);
    if (!answer) return std::nullopt;
    return withDefaultExtension(*answer, request.defaultExtension);
}

std::optional<QString> ScriptedOperatorPrompts::inputText(const QString& prompt, const QString& title,
                                                          const QString& defaultText) {
    Q_UNUSED(defaultText);
    record({Kind::Input, prompt, title, MessageIcon::None, {}});
    return takeAnswer(inputAnswers_);
}

}  // namespace velquin
