// How far each file of a running upload has got: the bytes sent of its
// size, the rate, and while the printer writes it to flash, since how long.
// The upload's events feed the meter, so the window and velquin-load follow
// a file the same way; the texts below are what the operator reads.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "upload_events.h"

namespace velquin {

enum class FileStage {
    Waiting,       // no byte of it has gone out yet
    Sending,       // its bytes are going out
    FlashWriting,  // all sent; the program waits while the printer writes its flash
    Finished,      // the wait for its flash write is over
};

// One file of the list, as measured up to now.
struct FileProgress {
    int row = 0;   // 1 for the first file of the list
    QString path;  // as listed
    std::int64_t size = 0;
    // Everything that went out for the file: its header, the file, trailing bytes.
    std::int64_t bytesSent = 0;
    // The file as streamed (a soft font's converted file) and how much of it
    // went out; the size is 0 until its transfer starts.
    std::int64_t transferSize = 0;
    std::int64_t transferSent = 0;
    FileStage stage = FileStage::Waiting;
    // From the first byte to the last byte sent (up to now while sending).
    std::chrono::milliseconds sendingTime{0};
    // From the first byte until the upload moved on to the next file.
    std::chrono::milliseconds elapsed{0};
    // How long the printer has been writing the file to flash (or took).
    std::chrono::milliseconds flashWriting{0};
    // The printer's free flash read before the file and after it, when it answered.
    std::optional<std::int64_t> freeFlashBefore;
    std::optional<std::int64_t> freeFlashAfter;

    // Bytes a second while the file was being sent; 0 before a measurable time.
    std::int64_t bytesPerSecond() const;
};

// The whole list as the upload has got through it up to now.
struct RunProgress {
    int files = 0;      // in the list
    int row = 0;        // the file under way (0 before the first)
    int filesDone = 0;  // whose turn has ended
    int filesSent = 0;  // of which any byte went out
    int confirmed = 0;  // stored, as the printer's free flash showed (once ended)
    std::int64_t bytesSent = 0;
    // Since the first file started (up to the end, once ended).
    std::chrono::milliseconds elapsed{0};
    // What is left at the pace of the files done so far; none before the
    // first is done, nor once the run has ended.
    std::optional<std::chrono::milliseconds> remaining;
    bool ended = false;
};

class TransferMeter final : public UploadObserver {
public:
    using Listener = std::function<void(const FileProgress&)>;
    static constexpr std::chrono::milliseconds DEFAULT_INTERVAL{250};

    TransferMeter() = default;
    // The files of the list about to be sent, in order; their sizes are read now.
    explicit TransferMeter(const QStringList& paths) { setFiles(paths); }
    void setFiles(const QStringList& paths);

    // Told at once of every change of stage, and of bytes and waiting time
    // at most once per `interval`.
    void setListener(Listener listener, std::chrono::milliseconds interval = DEFAULT_INTERVAL);

    // The file the upload works on (0 before the first); a snapshot of a row.
    int currentRow() const { return current_; }
    std::optional<FileProgress> file(int row) const;
    std::vector<FileProgress> files() const;
    RunProgress run() const;

    // The upload's events.
    void fileStarted(const FileStarted& file) override;
    void transferStarted(int row, std::int64_t size) override;
    void bytesSent(int row, std::int64_t count, bool ofTransfer) override;
    void flashWriteBegan(int row) override;
    void flashWriteEnded(int row) override;
    void fileEnded(const FileEnded& file) override;
    void runEnded(const RunEnded& run) override;

    void enterRow(int row);
    void transferStarting(std::int64_t size);
    void transferEnded();
    void sent(std::int64_t bytes);
    void flashWriteStarted();
    void flashWriteEnded();
    // Time passes in a wait: the listener may hear of it.
    void tick();
    // The upload has ended: the current file's clocks stop.
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    struct Record {
        FileProgress progress;
        std::optional<Clock::time_point> firstByte;
        Clock::time_point lastByte;
        std::optional<Clock::time_point> flashStart;
        bool timeFrozen = false;
    };

    Record* currentRecord();
    FileProgress snapshot(const Record& record) const;
    void stopClock(Record& record);
    void notify(bool stageChanged);

    std::vector<Record> records_;
    int current_ = 0;
    bool inTransfer_ = false;
    Listener listener_;
    std::chrono::milliseconds interval_ = DEFAULT_INTERVAL;
    std::optional<Clock::time_point> lastNotice_;
    // The run's clock and counts, from its first file to its end.
    std::optional<Clock::time_point> runStart_;
    std::optional<Clock::time_point> runEnd_;
    std::optional<Clock::time_point> lastFileEnd_;
    int filesDone_ = 0;
    int confirmed_ = 0;
};

// The operator's texts, with digit groups:
// "12,288 of 40,960 bytes, 35 KB/s" while a file is sent,
QString sendingText(const FileProgress& file);
// "Printer writing flash: 4 s" while the printer writes it,
QString flashWritingText(const FileProgress& file);
// and the one that fits the file's stage.
QString progressText(const FileProgress& file);
// A rate: "512 bytes/s", "35 KB/s", "1.4 MB/s" (1 KB = 1,024 bytes).
QString rateText(std::int64_t bytesPerSecond);
// The list's progress: "File 3 of 100, 2 min 05 s elapsed, about 1 min 10 s
// left" while it runs; once ended, how many files and bytes went
// ("Sent 100 of 100 files, 6,543,210 bytes, in 1 min 54 s; 100 stored").
QString runText(const RunProgress& run);
// A duration: "4 s", "1 min 05 s", "1 h 02 min".
QString durationText(std::chrono::milliseconds duration);

}  // namespace velquin
