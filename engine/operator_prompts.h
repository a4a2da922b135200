// The one seam through which the program talks to the operator in dialogs:
// message boxes, yes/no questions, file open/save dialogs and the input box.
// The window shows Qt's dialogs (window/qt_operator_prompts.h); tests script
// the answers and read what was asked.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace velquin {

// The title used by message boxes that set none of their own.
inline const QString APPLICATION_TITLE = QStringLiteral("Velquin");

enum class MessageIcon { None, Information, Exclamation, Critical };
// The answer that Enter gives to a yes/no question; a destructive one defaults to No.
enum class DefaultAnswer { Yes, No };

struct FileDialogRequest {
    QString title;
    // Filter in the common-dialog form "description|pattern|description|pattern".
    QString filter;
    // Extension (without dot) appended when the operator types a name
    // without one; empty for none.
    QString defaultExtension;
    // The folder the dialog opens in; empty for the dialog's own choice.
    QString folder = {};
};

class OperatorPrompts {
public:
    virtual ~OperatorPrompts() = default;
    // A message box with a single OK button.
    virtual void message(const QString& text, const QString& title = APPLICATION_TITLE,
                         MessageIcon icon = MessageIcon::None) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool askYesNo(const QString& text, const QString& title,
                          DefaultAnswer defaultAnswer = DefaultAnswer::Yes) = 0;
    // The chosen file's full path, or nothing on Cancel.
    virtual std::optional<QString> openFileName(const FileDialogRequest& request) = 0;
    virtual std::optional<QString> saveFileName(const FileDialogRequest& request) = 0;
    // The typed text, or nothing on Cancel.
    virtual std::optional<QString> inputText(const QString& prompt, const QString& title,
                                             const QString& defaultText) = 0;
};

// The path with `extension` appended when its name has none.
QString withDefaultExtension(const QString& path, const QString& extension);

// Answers from a script and records every prompt, for tests. Unscripted
// questions are answered No, unscripted file dialogs and input boxes are
// cancelled.
class ScriptedOperatorPrompts final : public OperatorPrompts {
public:
    enum class Kind { Message, YesNo, OpenFile, SaveFile, Input };
    struct Prompt {
        Kind kind;
        QString text;   // message, question or input prompt; dialog title for files
        QString title;  // box title; the filter for file dialogs
        MessageIcon icon = MessageIcon::None;
        QString defaultExtension;
        DefaultAnswer defaultAnswer = DefaultAnswer::Yes;  // questions only
    };

    void answerYesNo(bool yes) { yesNoAnswers_.push_back(yes); }
    // Queue the answer of the next file dialog; nothing cancels it.
    void answerFile(const std::optional<QString>& path) { fileAnswers_.push_back(path.value_or(QString())); }
    // Queue the answer of the next input box; nothing cancels it.
    void answerInput(const std::optional<QString>& text) {
        inputAnswers_.push_back(text ? (text->isNull() ? QLatin1String("") : *text) : QString());
    }

    const std::vector<Prompt>& prompts() const { return prompts_; }
    // Texts of the message boxes shown, in order.
    QStringList messages() const;
    int countMessages(const QString& text) const;
    void clear() { prompts_.clear(); }
    // Called with each prompt as it is shown (before it is answered).
    void setObserver(std::function<void(const Prompt&)> observer) { observer_ = std::move(observer); }

    void message(const QString& text, const QString& title, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& title, DefaultAnswer defaultAnswer) override;
    std::optional<QString> openFileName(const FileDialogRequest& request) override;
    std::optional<QString> saveFileName(const FileDialogRequest& request) override;
    std::optional<QString> inputText(const QString& prompt, const QString& title,
                                     const QString& defaultText) override;

private:
    void record(Prompt prompt);
    static std::optional<QString> takeAnswer(std::deque<QString>& answers);

    std::function<void(const Prompt&)> observer_;
    std::vector<Prompt> prompts_;
    std::deque<bool> yesNoAnswers_;
    // A null text stands for Cancel.
    std::deque<QString> fileAnswers_;
    std::deque<QString> inputAnswers_;
};

}  // namespace velquin
