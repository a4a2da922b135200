// The operator's side of a job that runs on the engine thread: every line,
// caption and dialog goes to the front end's own view on its own thread, in
// the order the job produced them; a dialog waits for the operator's answer.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "engine_thread.h"
#include "operation_view.h"
#include "operator_prompts.h"
#include "printer_discovery.h"
#include "upload_events.h"

namespace velquin {

// Dialogs asked from any thread, shown by `inner` on the home thread. Once
// the hop is abandoned (the program ends) messages go nowhere and questions
// are answered No, as nobody is there to answer them.
class HoppingPrompts final : public OperatorPrompts {
public:
    HoppingPrompts(OperatorPrompts& inner, ThreadHop& hop) : inner_(inner), hop_(hop) {}

    void message(const QString& text, const QString& title, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& title, DefaultAnswer defaultAnswer) override;
    std::optional<QString> openFileName(const FileDialogRequest& request) override;
    std::optional<QString> saveFileName(const FileDialogRequest& request) override;
    std::optional<QString> inputText(const QString& prompt, const QString& title,
                                     const QString& defaultText) override;

private:
    OperatorPrompts& inner_;
    ThreadHop& hop_;
};

// The diagnostics list written from any thread. A wait's poll line that
// repeats faster than the front end draws is passed on as one line with the
// number of its repeats, so the front end's queue never floods.
class HoppingStatusLog final : public StatusLog {
public:
    HoppingStatusLog(StatusLog& inner, ThreadHop& hop) : inner_(inner), hop_(hop) {}
    void clearStatus() override;
    void addStatusLine(const QString& line) override;
    void addRepeatedStatusLine(const QString& line) override;
    void selectLastStatusLine() override;
    // Anything else passed on after this comes after the repeats before it.
    void post(std::function<void()> call);

private:
    struct Repeats {
        std::mutex mutex;
        QString line;
        int times = 0;
        bool drawn = false;
    };

    StatusLog& inner_;
    ThreadHop& hop_;
    std::mutex mutex_;
    std::shared_ptr<Repeats> open_;  // repeats not yet drawn, joined by the next one
};

// The operation view of a job: drawing goes to `inner` on the home thread;
// the progress value and the operator's Cancel are kept here, so the job
// reads nothing back from the front end.
class HoppingView final : public OperationView {
public:
    HoppingView(OperationView& inner, ThreadHop& hop, const StopRequest& stop)
        : inner_(inner), hop_(hop), stop_(stop), log_(inner, hop), prompts_(inner.prompts(), hop) {}

    void clearStatus() override { log_.clearStatus(); }
    void addStatusLine(const QString& line) override { log_.addStatusLine(line); }
    void addRepeatedStatusLine(const QString& line) override { log_.addRepeatedStatusLine(line); }
    void selectLastStatusLine() override { log_.selectLastStatusLine(); }
    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(int value) override;
    int progressValue() const override { return progress_; }
    void setProgressCaption(const QString& caption) override;
    void setFlashSpaceRemaining(std::optional<std::int64_t> freeBytes) override;
    void setFlashNeededCaption(const QString& caption) override;
    void setCurrentListRow(int row) override;
    // A new wait forgets a Cancel pressed before it.
    void setCancelOffered(bool offered) override;
    void cancel() { cancelled_ = true; }
    bool cancelRequested() const override { return cancelled_ || stop_.requested(); }
    OperatorPrompts& prompts() override { return prompts_; }

private:
    OperationView& inner_;
    ThreadHop& hop_;
    const StopRequest& stop_;
    HoppingStatusLog log_;
    HoppingPrompts prompts_;
    std::atomic<int> progress_ = 0;
    std::atomic<bool> cancelled_ = false;
};

// An upload's events passed on to `inner` on the home thread, in order with
// the lines and captions of the job's view. The calls hold `inner`, not this
// observer, which may end before they run.
class HoppingUploadObserver final : public UploadObserver {
public:
    HoppingUploadObserver(UploadObserver& inner, ThreadHop& hop) : inner_(inner), hop_(hop) {}
    void fileStarted(const FileStarted& file) override {
        hop_.post([&inner = inner_, file] { inner.fileStarted(file); });
    }
    void transferStarted(int row, std::int64_t size) override {
        hop_.post([&inner = inner_, row, size] { inner.transferStarted(row, size); });
    }
    void bytesSent(int row, std::int64_t count, bool ofTransfer) override {
        hop_.post([&inner = inner_, row, count, ofTransfer] { inner.bytesSent(row, count, ofTransfer); });
    }
    void flashWriteBegan(int row) override {
        hop_.post([&inner = inner_, row] { inner.flashWriteBegan(row); });
    }
    void flashWriteEnded(int row) override {
        hop_.post([&inner = inner_, row] { inner.flashWriteEnded(row); });
    }
    void fileEnded(const FileEnded& file) override {
        hop_.post([&inner = inner_, file] { inner.fileEnded(file); });
    }
    void runEnded(const RunEnded& run) override {
        hop_.post([&inner = inner_, run] { inner.runEnded(run); });
    }

private:
    UploadObserver& inner_;
    ThreadHop& hop_;
};

// What discovery draws, passed on to `inner` on the home thread in order
// with the diagnostics lines of `log`; the questions about the front end are
// asked there too. Once the hop is abandoned the program is ending: the
// answers then say so (an empty list, the end requested).
class HoppingDiscoveryView final : public DiscoveryView {
public:
    HoppingDiscoveryView(DiscoveryView& inner, ThreadHop& hop, HoppingStatusLog& log)
        : inner_(inner), hop_(hop), log_(log) {}
    void showPanel(const PrinterPanel& panel) override {
        log_.post([&inner = inner_, panel] { inner.showPanel(panel); });
    }
    void showFlash(const PanelFact& flash, std::optional<std::int64_t> freeBytes) override {
        log_.post([&inner = inner_, flash, freeBytes] { inner.showFlash(flash, freeBytes); });
    }
    void setCommandAvailable(DiscoveryCommand command, bool available) override {
        log_.post([&inner = inner_, command, available] { inner.setCommandAvailable(command, available); });
    }
    void holdCommands(bool held) override {
        log_.post([&inner = inner_, held] { inner.holdCommands(held); });
    }
    void printerFound(const ledger::PrinterKey& printer, std::optional<qint64> freeFlash) override {
        log_.post([&inner = inner_, printer, freeFlash] { inner.printerFound(printer, freeFlash); });
    }
    void printerLost() override {
        log_.post([&inner = inner_] { inner.printerLost(); });
    }
    bool listHasFiles() const override {
        return hop_.ask<bool>([&inner = inner_] { return inner.listHasFiles(); }, false);
    }
    bool endRequested() const override {
        return hop_.ask<bool>([&inner = inner_] { return inner.endRequested(); }, true);
    }
    void endProgram(int exitCode) override {
        log_.post([&inner = inner_, exitCode] { inner.endProgram(exitCode); });
    }

private:
    DiscoveryView& inner_;
    ThreadHop& hop_;
    HoppingStatusLog& log_;
};

}  // namespace velquin
