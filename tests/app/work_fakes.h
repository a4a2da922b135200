// In-memory stand-ins for the window and the printer, for the tests of the
// upload engine, the flash commands and the test tickets.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <vector>

#include "operation_view.h"
#include "operator_prompts.h"
#include "printer_connection.h"
#include "upload_events.h"

namespace velquin::testing {

// The window: records lines, progress and labels; the prompts are scripted.
class FakeView final : public OperationView {
public:
    void clearStatus() override { lines.clear(); }
    // Each line is a moment at which the operator may act (onEvents).
    void addStatusLine(const QString& line) override {
        lines << line;
        allLines << line;
        if (onEvents) onEvents();
    }
    void selectLastStatusLine() override {}
    void setProgressRange(int minimum, int maximum) override {
        progressMinimum = minimum;
        progressMaximum = maximum;
    }
    void setProgressValue(int value) override { progress = value; }
    int progressValue() const override { return progress; }
    void setProgressCaption(const QString& caption) override { progressCaption = caption; }
    void setFlashSpaceRemaining(std::optional<std::int64_t> freeBytes) override {
        flashSpaceRemaining = freeBytes.value_or(-2);
    }
    void setFlashNeededCaption(const QString& caption) override { flashNeededCaption = caption; }
    void setCurrentListRow(int row) override { currentRow = row; }
    void setCancelOffered(bool offered) override {
        cancelOffered = offered;
        if (!offered) cancelPressed = false;
    }
    bool cancelRequested() const override { return cancelPressed; }
    OperatorPrompts& prompts() override { return scripted; }

    int count(const QString& line) const { return static_cast<int>(allLines.count(line)); }

    QStringList lines;     // the diagnostics list as it stands
    QStringList allLines;  // every line ever added, clears included
    int progressMinimum = -1;
    int progressMaximum = -1;
    int progress = -1;
    QString progressCaption;
    std::int64_t flashSpaceRemaining = -1;
    QString flashNeededCaption;
    int currentRow = -1;
    bool cancelOffered = false;
    bool cancelPressed = false;
    std::function<void()> onEvents;
    ScriptedOperatorPrompts scripted;
};

// A printer that takes bytes, answers status reads and inverts its flash
// toggle a given number of reads after each file has arrived.
class FakePrinter final : public PrinterConnection {
public:
    bool isEthernet() const override { return ethernet; }
    bool printerBusy() override {
        ++busyTests;
        const bool busy = busyAnswers.empty() ? false : busyAnswers.front();
        if (!busyAnswers.empty()) busyAnswers.erase(busyAnswers.begin());
        return busy;
    }
    PrinterStatus readStatus() override {
        ++statusReads;
        PrinterStatus status;
        if (statusFails) return status;
        if (failingReads > 0) {
            --failingReads;
            return status;
        }
        status.read = true;
        status.byteCount = 5;
        if (pendingFlashWrites > 0 && !neverToggles) {
            if (readsUntilDone > 0) {
                --readsUntilDone;
                if (busyWhileWriting) status.bytes[4] |= 0x20;
            } else {
                --pendingFlashWrites;
                toggle = !toggle;
                readsUntilDone = readsPerFlashWrite;
            }
        } else if (neverToggles && busyWhileWriting) {
            status.bytes[4] |= 0x20;
        }
        if (toggle) status.bytes[4] |= 0x02;
        return status;
    }
    FlashSpace readFlashSpace() override {
        ++flashReads;
        return {freeFlash, 0, freeFlash > 0};
    }
    bool send(std::span<const std::uint8_t> bytes) override {
        ++sendAttempts;
        if (writesLeftBeforeFailure == 0) return false;
        if (writesLeftBeforeFailure > 0) --writesLeftBeforeFailure;
        writes.emplace_back(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<qsizetype>(bytes.size()));
        received += writes.back();
        if (onWrite) onWrite(writes.back());
        return true;
    }
    FileTransfer sendFile(const QString& path, OperationView& view) override {
        return streamFileToPrinter(path, chunk, *this, view);
    }
    // Called for files whose bytes count as one flash write each.
    void fileArrived() {
        ++pendingFlashWrites;
        readsUntilDone = readsPerFlashWrite;
        freeFlash -= flashPerFile;
    }

    bool ethernet = false;
    std::vector<bool> busyAnswers;  // answers of the busy tests, in order; then not busy
    bool statusFails = false;
    int failingReads = 0;  // this many reads fail, then they succeed again
    bool neverToggles = false;
    bool busyWhileWriting = false;
    int readsPerFlashWrite = 0;  // unchanged reads before the toggle inverts
    int writesLeftBeforeFailure = -1;
    std::int32_t freeFlash = 1'000'000;
    std::int32_t flashPerFile = 1'000;  // each stored file uses flash

    bool toggle = false;
    int pendingFlashWrites = 0;
    int readsUntilDone = 0;
    int busyTests = 0;
    int statusReads = 0;
    int flashReads = 0;
    int sendAttempts = 0;
    std::function<void(const QByteArray&)> onWrite;
    std::vector<QByteArray> writes;
    QByteArray received;
    std::array<std::uint8_t, 8192> chunk{};
};

// Each file an upload has sent whole is one flash write of the printer;
// every event is kept.
class FlashWritingObserver final : public UploadObserver {
public:
    explicit FlashWritingObserver(FakePrinter& printer) : printer_(printer) {}
    void fileStarted(const FileStarted& file) override { started.push_back(file); }
    void flashWriteBegan(int) override { printer_.fileArrived(); }
    void fileEnded(const FileEnded& file) override { ended.push_back(file); }
    void runEnded(const RunEnded& run) override { runs.push_back(run); }

    std::vector<FileStarted> started;
    std::vector<FileEnded> ended;
    std::vector<RunEnded> runs;

private:
    FakePrinter& printer_;
};

}  // namespace velquin::testing
