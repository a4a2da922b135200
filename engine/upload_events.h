// What an upload reports as it goes, as data: each file's start, its bytes,
// the printer's flash write, each file's end and the run's end. The window,
// velquin-load and the ledger all follow a run through these; none of them
// reads a result back from a text.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "app_state.h"

namespace velquin {

enum class UploadOutcome {
    Completed,
    NoUploadInMode,    // BMP mode has no upload
    NotReady,          // the printer was busy at entry or before a file
    ConversionFailed,  // a soft font did not convert; nothing was sent
    NotEnoughFlash,    // the operator chose not to send a list larger than the free flash
    FileMissing,       // a listed file cannot be opened or read to its end
    PrinterGone,       // a write or status read failed
    TimedOut,          // the printer never reported the end of a flash write
    Cancelled,         // the operator cancelled a wait
    NotConfirmed,      // every file was sent, but the printer did not confirm storing some
};

// How one file's turn ended.
enum class FileOutcome {
    Confirmed,     // sent, and the printer's free flash went down
    NotConfirmed,  // sent, but the printer did not confirm storing it
    NotSent,       // the run stopped before any byte of it went out
    Interrupted,   // the run stopped after some of it went out
};

struct FileStarted {
    int row = 0;  // 1 for the first file of the list
    QString path;
    std::int64_t size = 0;  // of the listed file
    LoaderMode mode = LoaderMode::ModeTTF;
    // The file whose bytes go out when it is not `path` (a converted soft font).
    QString sentFile;
    std::optional<std::int64_t> freeFlashBefore;
    std::optional<int> fontId;
};

struct FileEnded {
    int row = 0;
    QString path;
    FileOutcome outcome = FileOutcome::Confirmed;
    std::int64_t bytesSent = 0;  // header, file and trailing bytes
    std::optional<std::int64_t> freeFlashBefore;
    std::optional<std::int64_t> freeFlashAfter;
    // Why a file that was not stored was not, as the operator was told.
    QString reason;
};

struct RunEnded {
    UploadOutcome outcome = UploadOutcome::Completed;
    int files = 0;        // in the list
    int confirmed = 0;    // stored, as the printer's free flash shows
    int unconfirmed = 0;  // sent, not confirmed
    // The row the run was on when it stopped; 0 when it went through the list.
    int stoppedAtRow = 0;
    // What the operator was told of a run that did not complete.
    QString reason;
    std::optional<std::int64_t> freeFlashAfter;
};

// Told, on the engine thread, of everything an upload does.
class UploadObserver {
public:
    virtual ~UploadObserver() = default;
    virtual void fileStarted(const FileStarted&) {}
    // A file's own bytes begin to stream (after its header), `size` of them.
    virtual void transferStarted(int /*row*/, std::int64_t /*size*/) {}
    virtual void bytesSent(int /*row*/, std::int64_t /*count*/, bool /*ofTransfer*/) {}
    // The file's own bytes the printer took, as they went out; told on the
    // engine thread only, while the bytes are there (not passed across threads).
    virtual void fileBytesTaken(int /*row*/, std::span<const std::uint8_t> /*bytes*/) {}
    virtual void flashWriteBegan(int /*row*/) {}
    virtual void flashWriteEnded(int /*row*/) {}
    virtual void fileEnded(const FileEnded&) {}
    virtual void runEnded(const RunEnded&) {}
};

// Passes every event on to each of its observers, in order.
class UploadObservers final : public UploadObserver {
public:
    void add(UploadObserver& observer) { observers_.push_back(&observer); }
    void fileStarted(const FileStarted& event) override {
        for (UploadObserver* o : observers_) o->fileStarted(event);
    }
    void transferStarted(int row, std::int64_t size) override {
        for (UploadObserver* o : observers_) o->transferStarted(row, size);
    }
    void bytesSent(int row, std::int64_t count, bool ofTransfer) override {
        for (UploadObserver* o : observers_) o->bytesSent(row, count, ofTransfer);
    }
    void fileBytesTaken(int row, std::span<const std::uint8_t> bytes) override {
        for (UploadObserver* o : observers_) o->fileBytesTaken(row, bytes);
    }
    void flashWriteBegan(int row) override {
        for (UploadObserver* o : observers_) o->flashWriteBegan(row);
    }
    void flashWriteEnded(int row) override {
        for (UploadObserver* o : observers_) o->flashWriteEnded(row);
    }
    void fileEnded(const FileEnded& event) override {
        for (UploadObserver* o : observers_) o->fileEnded(event);
    }
    void runEnded(const RunEnded& event) override {
        for (UploadObserver* o : observers_) o->runEnded(event);
    }

private:
    std::vector<UploadObserver*> observers_;  // not owned
};

}  // namespace velquin
