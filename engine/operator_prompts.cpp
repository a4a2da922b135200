#include "operator_prompts.h"

#include <QFileInfo>

namespace velquin {

QString withDefaultExtension(const QString& path, const QString& extension) {
    if (extension.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return path + QLatin1Char('.') + extension;
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

bool ScriptedOperatorPrompts::askYesNo(const QString& text, const QString& title,
                                       DefaultAnswer defaultAnswer) {
    record({Kind::YesNo, text, title, MessageIcon::None, {}, defaultAnswer});
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
