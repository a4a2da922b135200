// The transfer meter: the operator's texts, and an upload against the
// in-memory printer followed through the upload's events.
#include "transfer_meter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include "upload.h"
#include "work_fakes.h"

namespace velquin::testing {
namespace {

using namespace std::chrono_literals;

TEST(TransferMeterText, SaysWhereTheFileStands) {
    const QLocale saved;
    QLocale::setDefault(QLocale::c());
    auto file = [](FileStage stage, std::int64_t sent, std::int64_t size, std::chrono::milliseconds sending,
                   std::chrono::milliseconds flash = 0ms) {
        FileProgress progress;
        progress.stage = stage;
        progress.size = 40'960;
        progress.bytesSent = sent;
        progress.transferSent = sent;
        progress.transferSize = size;
        progress.sendingTime = sending;
        progress.flashWriting = flash;
        return progress;
    };
    const std::pair<FileProgress, const char*> cases[] = {
        {file(FileStage::Waiting, 0, 0, 0ms), "Waiting to send"},
        // Before the file itself streams, the listed size stands.
        {file(FileStage::Sending, 10, 0, 0ms), "10 of 40,960 bytes"},
        {file(FileStage::Sending, 12'288, 40'960, 343ms), "12,288 of 40,960 bytes, 35 KB/s"},
        {file(FileStage::Sending, 500, 1'234'567, 1'000ms), "500 of 1,234,567 bytes, 500 bytes/s"},
        {file(FileStage::Sending, 3'000'000, 4'000'000, 2'000ms), "3,000,000 of 4,000,000 bytes, 1.4 MB/s"},
        {file(FileStage::FlashWriting, 40'960, 40'960, 1'000ms, 4'900ms), "Printer writing flash: 4 s"},
        {file(FileStage::FlashWriting, 40'960, 40'960, 1'000ms, 65s), "Printer writing flash: 1 min 05 s"},
        {file(FileStage::FlashWriting, 40'960, 40'960, 1'000ms, 3'725s), "Printer writing flash: 1 h 02 min"},
        {file(FileStage::Finished, 40'960, 40'960, 1'000ms, 2'500ms),
         "40,960 of 40,960 bytes, 40 KB/s; flash write: 2 s"},
    };
    for (const auto& [progress, expected] : cases) EXPECT_EQ(progressText(progress), expected);
    QLocale::setDefault(saved);
}

// The list as a whole: which file of how many, and once a file is done what
// is left; at the end how many files and bytes went.
TEST(TransferMeter, FollowsTheRunAsAWhole) {
    const QLocale saved;
    QLocale::setDefault(QLocale::c());
    TransferMeter meter(QStringList{"a", "b", "c"});
    auto started = [](int row) {
        FileStarted file;
        file.row = row;
        return file;
    };
    auto ended = [](int row) {
        FileEnded file;
        file.row = row;
        return file;
    };
    RunEnded cancelled;
    cancelled.outcome = UploadOutcome::Cancelled;
    cancelled.files = 3;
    cancelled.confirmed = 1;
    EXPECT_EQ(runText(meter.run()), "");
    meter.fileStarted(started(1));
    meter.bytesSent(1, 1'500, false);
    EXPECT_EQ(runText(meter.run()), "File 1 of 3, 0 s elapsed");
    meter.fileEnded(ended(1));
    meter.fileStarted(started(2));
    meter.bytesSent(2, 200, false);
    EXPECT_EQ(runText(meter.run()), "File 2 of 3, 0 s elapsed, about 0 s left");
    meter.fileEnded(ended(2));
    meter.runEnded(cancelled);
    EXPECT_EQ(runText(meter.run()), "Sent 2 of 3 files, 1,700 bytes, in 0 s; 1 stored");
    // A new list starts afresh.
    meter.setFiles({"d"});
    EXPECT_FALSE(meter.run().ended);
    EXPECT_EQ(meter.run().bytesSent, 0);
    QLocale::setDefault(saved);
}

// One True Type file of three chunks, sent to the in-memory printer.
struct MeteredUpload {
    MeteredUpload() {
        EXPECT_TRUE(dir.isValid());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(FILE_SIZE, 'x'));
        // The file is one flash write once its last byte has arrived.
        printer.readsPerFlashWrite = 3;
        printer.onWrite = [this](const QByteArray&) {
            if (printer.received.size() == HEADER_SIZE + FILE_SIZE) printer.fileArrived();
        };
    }

    // The front end's clock turns at each line of a wait.
    UploadOutcome run(TransferMeter& meter, std::function<bool()> refused = {}) {
        view.onEvents = [this, &meter] {
            if (view.cancelOffered) meter.tick();
        };
        UploadEngine engine(
            printer, view, [](const QByteArray&) { return 0; }, 60s, meter);
        engine.refuseWritesWhen(std::move(refused));
        UploadRequest request;
        request.mode = LoaderMode::ModeTTF;
        request.paths = {path};
        return engine.run(request);
    }

    static constexpr int FILE_SIZE = 20'000;
    static constexpr int HEADER_SIZE = 10;  // "<ttf20000>"
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("font.ttf"));
    FakePrinter printer;
    FakeView view;
};

TEST(TransferMeter, FollowsTheBytesAndTheFlashWriteWithThrottledNotices) {
    constexpr int HEADER_SIZE = MeteredUpload::HEADER_SIZE;
    constexpr int FILE_SIZE = MeteredUpload::FILE_SIZE;
    for (const auto interval : {0ms, std::chrono::milliseconds(1h)}) {
        SCOPED_TRACE(interval.count());
        MeteredUpload upload;
        TransferMeter meter({upload.path});
        std::vector<FileProgress> notices;
        meter.setListener([&notices](const FileProgress& file) { notices.push_back(file); }, interval);
        ASSERT_EQ(upload.run(meter), UploadOutcome::Completed);

        // Sending with the bytes growing, then the flash write, then its end:
        // every stage is told at once, the rest as often as allowed.
        std::vector<std::int64_t> sendingBytes;
        int flashNotices = 0;
        for (std::size_t i = 0; i < notices.size(); ++i) {
            if (i > 0) {
                EXPECT_GE(int(notices[i].stage), int(notices[i - 1].stage));
            }
            if (notices[i].stage == FileStage::Sending) sendingBytes.push_back(notices[i].bytesSent);
            if (notices[i].stage == FileStage::FlashWriting) ++flashNotices;
        }
        if (interval == 0ms) {
            EXPECT_EQ(sendingBytes,
                      (std::vector<std::int64_t>{HEADER_SIZE, HEADER_SIZE + 8'192, HEADER_SIZE + 16'384,
                                                 HEADER_SIZE + FILE_SIZE}));
            EXPECT_GT(flashNotices, 1);  // the clock during the wait
        } else {
            EXPECT_EQ(sendingBytes, std::vector<std::int64_t>{HEADER_SIZE});
            EXPECT_EQ(flashNotices, 1);
        }
        ASSERT_FALSE(notices.empty());
        EXPECT_EQ(notices.back().stage, FileStage::Finished);

        const FileProgress file = *meter.file(1);
        EXPECT_EQ(file.bytesSent, HEADER_SIZE + FILE_SIZE);
        EXPECT_EQ(file.transferSent, FILE_SIZE);
        EXPECT_EQ(file.transferSize, FILE_SIZE);
        EXPECT_EQ(file.freeFlashBefore, 1'000'000);
        EXPECT_EQ(file.freeFlashAfter, 1'000'000 - upload.printer.flashPerFile);
        // The window underneath still sees everything.
        EXPECT_EQ(upload.view.currentRow, 1);
        EXPECT_FALSE(upload.view.cancelOffered);
        EXPECT_EQ(upload.view.progressCaption, "Flash Upload Complete");
    }
}

TEST(TransferMeter, AStopRefusesTheNextChunk) {
    MeteredUpload upload;
    TransferMeter meter({upload.path});
    EXPECT_EQ(upload.run(meter, [&upload] { return upload.printer.received.size() > 8'192; }),
              UploadOutcome::PrinterGone);
    const qsizetype sent = MeteredUpload::HEADER_SIZE + 8'192;
    EXPECT_EQ(upload.printer.received.size(), sent);
    EXPECT_EQ(meter.file(1)->bytesSent, sent);
    EXPECT_EQ(meter.file(1)->stage, FileStage::Sending);
}

}  // namespace
}  // namespace velquin::testing
