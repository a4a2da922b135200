// The operator prompts as Qt's own dialogs, owned by the main window.
#pragma once

#include "operator_prompts.h"

class QWidget;

namespace velquin {

// Turns "desc|pattern|desc|pattern" into Qt's "desc (pattern);;..." form,
// with patterns that match the extension in either case.
QString qtFileFilter(const QString& commonDialogFilter);

// Qt's dialogs, owned by the given parent window.
class QtOperatorPrompts final : public OperatorPrompts {
public:
    explicit QtOperatorPrompts(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void message(const QString& text, const QString& title, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& title, DefaultAnswer defaultAnswer) override;
    std::optional<QString> openFileName(const FileDialogRequest& request) override;
    std::optional<QString> saveFileName(const FileDialogRequest& request) override;
    std::optional<QString> inputText(const QString& prompt, const QString& title,
                                     const QString& defaultText) override;

private:
    QWidget* parent_;
};

}  // namespace velquin
