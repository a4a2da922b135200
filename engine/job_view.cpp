#include "job_view.h"

namespace velquin {

void HoppingPrompts::message(const QString& text, const QString& title, MessageIcon icon) {
    hop_.ask<bool>(
        [this, text, title, icon] {
            inner_.message(text, title, icon);
            return true;
        },
        false);
}

bool HoppingPrompts::askYesNo(const QString& text, const QString& title, DefaultAnswer defaultAnswer) {
    return hop_.ask<bool>(
        [this, text, title, defaultAnswer] { return inner_.askYesNo(text, title, defaultAnswer); }, false);
}

std::optional<QString> HoppingPrompts::openFileName(const FileDialogRequest& request) {
    return hop_.ask<std::optional<QString>>([this, request] { return inner_.openFileName(request); },
                                            std::nullopt);
}

std::optional<QString> HoppingPrompts::saveFileName(const FileDialogRequest& request) {
    return hop_.ask<std::optional<QString>>([this, request] { return inner_.saveFileName(request); },
                                            std::nullopt);
}

std::optional<QString> HoppingPrompts::inputText(const QString& prompt, const QString& title,
                                                 const QString& defaultText) {
    return hop_.ask<std::optional<QString>>(
        [this, prompt, title, defaultText] { return inner_.inputText(prompt, title, defaultText); },
        std::nullopt);
}

void HoppingStatusLog::post(std::function<void()> call) {
    {
        const std::lock_guard lock(mutex_);
        open_.reset();
    }
    hop_.post(std::move(call));
}

void HoppingStatusLog::clearStatus() {
    post([&inner = inner_] { inner.clearStatus(); });
}

void HoppingStatusLog::addStatusLine(const QString& line) {
    post([&inner = inner_, line] { inner.addStatusLine(line); });
}

void HoppingStatusLog::addRepeatedStatusLine(const QString& line) {
    if (hop_.onHome()) {
        inner_.addRepeatedStatusLine(line);
        return;
    }
    std::shared_ptr<Repeats> repeats;
    {
        const std::lock_guard lock(mutex_);
        if (open_) {
            const std::lock_guard joined(open_->mutex);
            if (!open_->drawn && open_->line == line) {
                ++open_->times;
                return;
            }
        }
        open_ = std::make_shared<Repeats>();
        open_->line = line;
        open_->times = 1;
        repeats = open_;
    }
    hop_.post([&inner = inner_, repeats] {
        int times = 0;
        {
            const std::lock_guard lock(repeats->mutex);
            repeats->drawn = true;
            times = repeats->times;
        }
        inner.addRepeatedStatusLines(repeats->line, times);
    });
}

void HoppingStatusLog::selectLastStatusLine() {
    post([&inner = inner_] { inner.selectLastStatusLine(); });
}

void HoppingView::setProgressRange(int minimum, int maximum) {
    log_.post([&inner = inner_, minimum, maximum] { inner.setProgressRange(minimum, maximum); });
}

void HoppingView::setProgressValue(int value) {
    progress_ = value;
    log_.post([&inner = inner_, value] { inner.setProgressValue(value); });
}

void HoppingView::setProgressCaption(const QString& caption) {
    log_.post([&inner = inner_, caption] { inner.setProgressCaption(caption); });
}

void HoppingView::setFlashSpaceRemaining(std::optional<std::int64_t> freeBytes) {
    log_.post([&inner = inner_, freeBytes] { inner.setFlashSpaceRemaining(freeBytes); });
}

void HoppingView::setFlashNeededCaption(const QString& caption) {
    log_.post([&inner = inner_, caption] { inner.setFlashNeededCaption(caption); });
}

void HoppingView::setCurrentListRow(int row) {
    log_.post([&inner = inner_, row] { inner.setCurrentListRow(row); });
}

void HoppingView::setCancelOffered(bool offered) {
    cancelled_ = false;
    log_.post([&inner = inner_, offered] { inner.setCancelOffered(offered); });
}

}  // namespace velquin
