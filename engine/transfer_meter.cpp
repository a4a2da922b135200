#include "transfer_meter.h"

#include <QFileInfo>
#include <QLocale>

#include "printer_facts.h"

namespace velquin {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

std::int64_t FileProgress::bytesPerSecond() const {
    if (sendingTime.count() <= 0) return 0;
    return bytesSent * 1'000 / sendingTime.count();
}

void TransferMeter::setFiles(const QStringList& paths) {
    records_.clear();
    records_.reserve(static_cast<std::size_t>(paths.size()));
    for (const QString& path : paths) {
        Record record;
        record.progress.row = static_cast<int>(records_.size()) + 1;
        record.progress.path = path;
        record.progress.size = QFileInfo(path).size();
        records_.push_back(std::move(record));
    }
    current_ = 0;
    inTransfer_ = false;
    lastNotice_.reset();
    runStart_.reset();
    runEnd_.reset();
    lastFileEnd_.reset();
    filesDone_ = 0;
    confirmed_ = 0;
}

RunProgress TransferMeter::run() const {
    RunProgress run;
    run.files = static_cast<int>(records_.size());
    run.row = current_;
    run.filesDone = filesDone_;
    run.confirmed = confirmed_;
    run.ended = runEnd_.has_value();
    for (const Record& record : records_) {
        run.bytesSent += record.progress.bytesSent;
        if (record.progress.bytesSent > 0) ++run.filesSent;
    }
    if (!runStart_) return run;
    const Clock::time_point now = runEnd_.value_or(Clock::now());
    run.elapsed = duration_cast<milliseconds>(now - *runStart_);
    if (!run.ended && filesDone_ > 0 && lastFileEnd_) {
        const auto perFile = (*lastFileEnd_ - *runStart_) / filesDone_;
        const auto sinceLast = now - *lastFileEnd_;
        run.remaining = std::max(milliseconds(0),
                                 duration_cast<milliseconds>(perFile * (run.files - filesDone_) - sinceLast));
    }
    return run;
}

void TransferMeter::setListener(Listener listener, milliseconds interval) {
    listener_ = std::move(listener);
    interval_ = interval;
}

std::optional<FileProgress> TransferMeter::file(int row) const {
    if (row < 1 || row > static_cast<int>(records_.size())) return std::nullopt;
    return snapshot(records_[static_cast<std::size_t>(row - 1)]);
}

std::vector<FileProgress> TransferMeter::files() const {
    std::vector<FileProgress> result;
    result.reserve(records_.size());
    for (const Record& record : records_) result.push_back(snapshot(record));
    return result;
}

TransferMeter::Record* TransferMeter::currentRecord() {
    if (current_ < 1 || current_ > static_cast<int>(records_.size())) return nullptr;
    return &records_[static_cast<std::size_t>(current_ - 1)];
}

// The clocks of a file that is still running are read now.
FileProgress TransferMeter::snapshot(const Record& record) const {
    FileProgress progress = record.progress;
    if (record.timeFrozen || !record.firstByte) return progress;
    const auto now = Clock::now();
    progress.elapsed = duration_cast<milliseconds>(now - *record.firstByte);
    if (progress.stage == FileStage::Sending)
        progress.sendingTime = duration_cast<milliseconds>(now - *record.firstByte);
    if (progress.stage == FileStage::FlashWriting && record.flashStart)
        progress.flashWriting = duration_cast<milliseconds>(now - *record.flashStart);
    return progress;
}

void TransferMeter::stopClock(Record& record) {
    if (record.timeFrozen || !record.firstByte) return;
    record.progress = snapshot(record);
    record.timeFrozen = true;
}

// A file's time ends when the upload moves on to another one. (A soft font
// list visits every row once to convert before it visits them again to send.)
void TransferMeter::enterRow(int row) {
    if (row == current_) return;
    if (Record* previous = currentRecord()) stopClock(*previous);
    current_ = row;
}

void TransferMeter::transferStarting(std::int64_t size) {
    inTransfer_ = true;
    if (Record* record = currentRecord()) record->progress.transferSize = size;
}

void TransferMeter::transferEnded() {
    inTransfer_ = false;
}

void TransferMeter::sent(std::int64_t bytes) {
    Record* record = currentRecord();
    if (record == nullptr || record->timeFrozen) return;
    const auto now = Clock::now();
    FileProgress& progress = record->progress;
    progress.bytesSent += bytes;
    if (inTransfer_) progress.transferSent += bytes;
    record->lastByte = now;
    if (!record->firstByte) record->firstByte = now;
    progress.sendingTime = duration_cast<milliseconds>(now - *record->firstByte);
    const bool started = progress.stage == FileStage::Waiting;
    if (started) progress.stage = FileStage::Sending;
    notify(started);
}

void TransferMeter::flashWriteStarted() {
    Record* record = currentRecord();
    if (record == nullptr || record->timeFrozen || record->progress.stage != FileStage::Sending) return;
    record->flashStart = Clock::now();
    record->progress.sendingTime = duration_cast<milliseconds>(record->lastByte - *record->firstByte);
    record->progress.stage = FileStage::FlashWriting;
    notify(true);
}

void TransferMeter::flashWriteEnded() {
    Record* record = currentRecord();
    if (record == nullptr || record->progress.stage != FileStage::FlashWriting) return;
    record->progress.flashWriting = duration_cast<milliseconds>(Clock::now() - *record->flashStart);
    record->progress.stage = FileStage::Finished;
    notify(true);
}

void TransferMeter::fileStarted(const FileStarted& file) {
    if (!runStart_) runStart_ = Clock::now();
    enterRow(file.row);
    if (Record* record = currentRecord()) record->progress.freeFlashBefore = file.freeFlashBefore;
}

void TransferMeter::transferStarted(int, std::int64_t size) {
    transferStarting(size);
}

void TransferMeter::bytesSent(int, std::int64_t count, bool ofTransfer) {
    inTransfer_ = ofTransfer;
    sent(count);
}

void TransferMeter::flashWriteBegan(int) {
    flashWriteStarted();
}

void TransferMeter::flashWriteEnded(int) {
    flashWriteEnded();
}

void TransferMeter::fileEnded(const FileEnded& file) {
    inTransfer_ = false;
    ++filesDone_;
    lastFileEnd_ = Clock::now();
    if (Record* record = currentRecord(); record != nullptr && file.row == current_)
        record->progress.freeFlashAfter = file.freeFlashAfter;
}

void TransferMeter::runEnded(const RunEnded& run) {
    confirmed_ = run.confirmed;
    finish();
    runEnd_ = Clock::now();
}

void TransferMeter::tick() {
    notify(false);
}

void TransferMeter::finish() {
    if (Record* record = currentRecord()) {
        if (record->progress.stage == FileStage::FlashWriting) flashWriteEnded();
        stopClock(*record);
    }
}

void TransferMeter::notify(bool stageChanged) {
    const Record* record = currentRecord();
    if (!listener_ || record == nullptr || record->progress.stage == FileStage::Waiting) return;
    const auto now = Clock::now();
    if (!stageChanged && lastNotice_ && now - *lastNotice_ < interval_) return;
    lastNotice_ = now;
    listener_(snapshot(*record));
}

QString rateText(std::int64_t bytesPerSecond) {
    constexpr std::int64_t KB = 1'024;
    if (bytesPerSecond < KB) return formatGrouped(bytesPerSecond) + QStringLiteral(" bytes/s");
    if (bytesPerSecond < KB * KB)
        return formatGrouped((bytesPerSecond + KB / 2) / KB) + QStringLiteral(" KB/s");
    QLocale locale;
    return locale.toString(static_cast<double>(bytesPerSecond) / double(KB * KB), 'f', 1) +
           QStringLiteral(" MB/s");
}

QString durationText(milliseconds duration) {
    const std::int64_t seconds = std::max<std::int64_t>(duration.count(), 0) / 1'000;
    if (seconds < 60) return QString::number(seconds) + QStringLiteral(" s");
    if (seconds < 3'600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min").arg(seconds / 3'600).arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'));
}

// The bytes of the file as streamed once its transfer started; before that
// what went out against the listed size.
QString sendingText(const FileProgress& file) {
    const bool streaming = file.transferSize > 0;
    QString text = formatGrouped(streaming ? file.transferSent : file.bytesSent) + QStringLiteral(" of ") +
                   formatGrouped(streaming ? file.transferSize : file.size) + QStringLiteral(" bytes");
    if (const std::int64_t rate = file.bytesPerSecond(); rate > 0)
        text += QStringLiteral(", ") + rateText(rate);
    return text;
}

QString runText(const RunProgress& run) {
    if (run.ended) {
        QString text = QStringLiteral("Sent %1 of %2 files, %3 bytes, in %4")
                           .arg(run.filesSent)
                           .arg(run.files)
                           .arg(formatGrouped(run.bytesSent), durationText(run.elapsed));
        if (run.filesSent > 0) text += QStringLiteral("; %1 stored").arg(run.confirmed);
        return text;
    }
    if (run.row < 1) return {};
    QString text = QStringLiteral("File %1 of %2, %3 elapsed")
                       .arg(run.row)
                       .arg(run.files)
                       .arg(durationText(run.elapsed));
    if (run.remaining)
        text += QStringLiteral(", about ") + durationText(*run.remaining) + QStringLiteral(" left");
    return text;
}

QString flashWritingText(const FileProgress& file) {
    return QStringLiteral("Printer writing flash: ") + durationText(file.flashWriting);
}

QString progressText(const FileProgress& file) {
    switch (file.stage) {
        case FileStage::Waiting:
            return QStringLiteral("Waiting to send");
        case FileStage::Sending:
            return sendingText(file);
        case FileStage::FlashWriting:
            return flashWritingText(file);
        case FileStage::Finished:
            break;
    }
    return sendingText(file) + QStringLiteral("; flash write: ") + durationText(file.flashWriting);
}

}  // namespace velquin
