// The upload engine against an in-memory printer and window: what reaches
// the printer, in which order, and what the operator is shown, for every
// branch and every way a run can end.
#include <gtest/gtest.h>
#include <velquin/converted_file_name.h>

#include <QFile>
#include <QTemporaryDir>
#include <thread>

#include "upload.h"
#include "work_fakes.h"

namespace velquin::testing {
namespace {

using namespace std::chrono_literals;

class UploadEngineTest : public ::testing::Test {
protected:
    QString makeFile(const QString& name, const QByteArray& content) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }
    QByteArray bytes(int size, char seed) {
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i) data[i] = static_cast<char>(seed + i * 7);
        return data;
    }

    // A converter that writes "QKS" + the font's bytes beside the font, and
    // fails with `failureCode` for paths listed in `failing`.
    SoftFontConverterCall converter(QStringList failing = {}, std::int32_t failureCode = 14) {
        return [this, failing, failureCode](const QByteArray& path) -> std::int32_t {
            ++conversions;
            if (failing.contains(QFile::decodeName(path))) return failureCode;
            QFile font(QFile::decodeName(path));
            if (!font.open(QIODevice::ReadOnly)) return 1;
            QFile converted(
                QFile::decodeName(QByteArray::fromStdString(convertedFileName(path.toStdString()))));
            if (!converted.open(QIODevice::WriteOnly)) return 27;
            converted.write("QKS" + font.readAll());
            return 0;
        };
    }

    UploadOutcome run(LoaderMode mode, const QStringList& paths, std::chrono::milliseconds timeout = 60s) {
        UploadEngine engine(printer, view, converter(failingFonts), timeout, events);
        request.mode = mode;
        request.paths = paths;
        return engine.run(request);
    }

    QTemporaryDir dir;
    FakePrinter printer;
    FlashWritingObserver events{printer};
    FakeView view;
    UploadRequest request;
    QStringList failingFonts;
    int conversions = 0;
};

TEST_F(UploadEngineTest, TrueTypeSendsEachFileBehindItsHeaderInListOrder) {
    const QByteArray first = bytes(52'344, 1);
    const QByteArray second = bytes(7, 2);
    const QString a = makeFile("a.ttf", first);
    const QString b = makeFile("b.otf", second);
    printer.flashPerFile = 52'344;

    EXPECT_EQ(run(LoaderMode::ModeTTF, {a, b}), UploadOutcome::Completed);

    EXPECT_EQ(printer.received, "<ttf52344>" + first + "<ttf7>" + second);
    EXPECT_EQ(printer.writes.front(), "<ttf52344>");
    EXPECT_EQ(view.progressMaximum, 2);
    EXPECT_EQ(view.progress, 2);
    EXPECT_EQ(view.progressCaption, "Flash Upload Complete");
    EXPECT_EQ(view.flashSpaceRemaining, 1'000'000 - 2 * 52'344);
    ASSERT_EQ(view.scripted.prompts().size(), 1u);
    EXPECT_EQ(view.scripted.prompts()[0].text, "Flash Upload Complete");
    EXPECT_EQ(view.scripted.prompts()[0].title, "True Type Fonts");
    EXPECT_EQ(view.count("Flash space used = 52344"), 2);
}

TEST_F(UploadEngineTest, TrueTypeDiagnosticsOfOneFileInOrder) {
    const QString a = makeFile("a.ttf", bytes(10, 3));
    printer.freeFlash = 500;
    printer.flashPerFile = 10;
    printer.readsPerFlashWrite = 1;

    run(LoaderMode::ModeTTF, {a});

    const QStringList expected = {
        "Sending True Type font files to printer",
        "Sending true type font to printer " + a,
        "Initial Toggle State = 0",
        "Flash space remaining before flash start = 500",
        "Writing file ",
        "10",
        "Sending TTF file to printer send complete",
        "TTF flash delay start, waiting for toggle",
        "Waiting for done, toggle has not changed",
        "Waiting for done, found toggle change",
        "TTF Not Busy after flash update",
        "Flash space remaining after flash end = 490",
        "Flash space used = 10",
        "Sending files to printer complete",
    };
    EXPECT_EQ(view.lines, expected);
    EXPECT_EQ(view.count("True Type Font Mode"), 1);
}

TEST_F(UploadEngineTest, PcxSendsHeaderFileAndTrailingEscape) {
    const QByteArray image = bytes(52'344, 4);
    const QString a = makeFile("a.pcx", image);

    EXPECT_EQ(run(LoaderMode::ModePCX, {a}), UploadOutcome::Completed);

    EXPECT_EQ(printer.received, QByteArray("\x1b<pcx><G52344>") + image + "\x1b");
    EXPECT_EQ(printer.writes.front().size(), 14);
    EXPECT_EQ(view.scripted.prompts().back().title, "PCX image");
    EXPECT_EQ(view.lines.first(), "Sending PCX files to printer");
    EXPECT_EQ(view.count("Sending PCX image to printer send complete"), 1);
    EXPECT_EQ(view.count("PCX Not Busy after flash update"), 1);
}

TEST_F(UploadEngineTest, SoftFontsAreAllConvertedBeforeAnyIsSent) {
    const QString a = makeFile("a.sfp", bytes(100, 5));
    const QString b = makeFile("b.SFP", bytes(200, 6));

    EXPECT_EQ(run(LoaderMode::ModeSF, {a, b}), UploadOutcome::Completed);

    QFile convertedA(dir.filePath("a.QKS")), convertedB(dir.filePath("b.QKS"));
    ASSERT_TRUE(convertedA.open(QIODevice::ReadOnly));
    ASSERT_TRUE(convertedB.open(QIODevice::ReadOnly));
    EXPECT_EQ(printer.received, convertedA.readAll() + convertedB.readAll());
    EXPECT_EQ(view.flashNeededCaption, "306");
    EXPECT_EQ(view.progressMaximum, 4);
    EXPECT_EQ(view.progress, 4);
    const auto& prompts = view.scripted.prompts();
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[0].text, "Soft Font Mode");
    EXPECT_EQ(prompts[1].text, "Flash Upload Complete");
    EXPECT_EQ(prompts[1].title, "Zara Rida Davezo");
    EXPECT_LT(view.lines.indexOf("File " + b + " converted properly"),
              view.lines.indexOf("Sending converted file to printer " + dir.filePath("a.QKS")));
}

TEST_F(UploadEngineTest, ASoftFontThatFailsToConvertStopsTheListBeforeAnythingIsSent) {
    QStringList fonts;
    for (int i = 1; i <= 5; ++i) fonts << makeFile(QString("f%1.sfp").arg(i), bytes(50, char(i)));
    failingFonts = {fonts[2]};

    EXPECT_EQ(run(LoaderMode::ModeSF, fonts), UploadOutcome::ConversionFailed);

    EXPECT_TRUE(printer.received.isEmpty());
    EXPECT_EQ(printer.statusReads, 1);  // the initial toggle only
    EXPECT_EQ(conversions, 3);
    const QString failure = "File " + fonts[2] + " did not convert properly";
    EXPECT_EQ(
        view.lines.mid(view.lines.size() - 5),
        QStringList({"File " + fonts[0] + " converted properly", "File " + fonts[1] + " converted properly",
                     fonts[2] + " Error Soft Font is LANDSCAPE MODE", failure,
                     "Send List to printer complete .. aborted"}));
    EXPECT_EQ(view.scripted.messages(),
              QStringList({"Soft Font Mode", failure + ": Error Soft Font is LANDSCAPE MODE"}));
}

TEST_F(UploadEngineTest, AnEmptyListRunsTheEntryAndEndSteps) {
    for (const LoaderMode mode : {LoaderMode::ModeTTF, LoaderMode::ModeSF, LoaderMode::ModePCX}) {
        FakeView fresh;
        UploadEngine engine(printer, fresh, converter(), 60s, events);
        request.mode = mode;
        request.paths.clear();
        EXPECT_EQ(engine.run(request), UploadOutcome::Completed);
        EXPECT_EQ(fresh.scripted.messages().constLast(), "Flash Upload Complete");
        EXPECT_EQ(fresh.progressMaximum, 0);
    }
    EXPECT_TRUE(printer.received.isEmpty());
}

TEST_F(UploadEngineTest, BmpModeHasNoUpload) {
    const QString a = makeFile("a.bmp", bytes(10, 1));
    EXPECT_EQ(run(LoaderMode::ModeBMP, {a}), UploadOutcome::NoUploadInMode);
    EXPECT_TRUE(printer.received.isEmpty());
    EXPECT_TRUE(view.allLines.isEmpty());
    EXPECT_TRUE(view.scripted.prompts().empty());
}

TEST_F(UploadEngineTest, BusyAtEntryShowsTheBranchMessageAndSendsNothing) {
    const QString a = makeFile("a.bin", bytes(10, 1));
    const std::pair<LoaderMode, QString> cases[] = {
        {LoaderMode::ModeTTF, "Can not send files to printer because printer is not ready entry"},
        {LoaderMode::ModePCX, "Can not send files to printer because printer is not ready entry"},
        {LoaderMode::ModeSF, "Can not send files to printer because printer is not ready running"},
    };
    for (const auto& [mode, message] : cases) {
        FakeView fresh;
        printer.busyAnswers = {true};
        UploadEngine engine(printer, fresh, converter(), 60s, events);
        request.mode = mode;
        request.paths = {a};
        EXPECT_EQ(engine.run(request), UploadOutcome::NotReady);
        EXPECT_EQ(fresh.scripted.messages().constLast(), message);
    }
    EXPECT_TRUE(printer.received.isEmpty());
    EXPECT_EQ(conversions, 0);
}

TEST_F(UploadEngineTest, BusyBeforeALaterFileEndsTheRunWithWhatWasSent) {
    const QByteArray first = bytes(20, 1);
    const QString a = makeFile("a.ttf", first);
    const QString b = makeFile("b.ttf", bytes(30, 2));
    // entry, first file, after the first file's flash write, second file
    printer.busyAnswers = {false, false, false, true};

    EXPECT_EQ(run(LoaderMode::ModeTTF, {a, b}), UploadOutcome::NotReady);

    EXPECT_EQ(printer.received, "<ttf20>" + first);
    ASSERT_EQ(view.scripted.messages().size(), 1);
    EXPECT_EQ(view.scripted.messages().constFirst(),
              "Can not send files to printer because printer is not ready running\n\nStored by the printer "
              "before the stop:\n" +
                  a);
    EXPECT_EQ(view.progress, 1);
}

TEST_F(UploadEngineTest, AToggleChangeAtTheFirstReadGivesOneLineOnly) {
    const QString a = makeFile("a.ttf", bytes(20, 1));
    printer.readsPerFlashWrite = 0;
    run(LoaderMode::ModeTTF, {a});
    EXPECT_EQ(view.count("Waiting for done, found toggle change"), 1);
    EXPECT_EQ(view.count("Waiting for done, toggle has not changed"), 0);
}

TEST_F(UploadEngineTest, APrinterThatNeverInvertsItsToggleTimesOut) {
    const QString a = makeFile("a.ttf", bytes(20, 1));
    const QString b = makeFile("b.ttf", bytes(20, 2));
    printer.neverToggles = true;

    EXPECT_EQ(run(LoaderMode::ModeTTF, {a, b}, 50ms), UploadOutcome::TimedOut);

    ASSERT_EQ(view.scripted.messages().size(), 1);
    EXPECT_TRUE(view.scripted.messages()[0].startsWith("The printer did not finish writing " + a +
                                                       " to flash, upload stopped"));
    EXPECT_TRUE(view.lines.contains("Upload stopped, the printer did not finish writing " + a));
    EXPECT_FALSE(printer.received.contains("<ttf20>" + bytes(20, 2)));
    EXPECT_FALSE(view.cancelOffered);
}

TEST_F(UploadEngineTest, APrinterStillReportingBusyIsWaitedForPastTheTimeOut) {
    const QString a = makeFile("a.ttf", bytes(20, 1));
    printer.busyWhileWriting = true;
    printer.readsPerFlashWrite = 40;
    int reads = 0;
    // Each unchanged read takes 5 ms: 200 ms of busy writing against a 50 ms time-out.
    view.onEvents = [&] {
        if (printer.statusReads != reads) {
            reads = printer.statusReads;
            std::this_thread::sleep_for(5ms);
        }
    };
    EXPECT_EQ(run(LoaderMode::ModeTTF, {a}, 50ms), UploadOutcome::Completed);
}

TEST_F(UploadEngineTest, TheOperatorCanCancelAToggleWait) {
    const QString a = makeFile("a.pcx", bytes(20, 1));
    printer.neverToggles = true;
    view.onEvents = [&] {
        if (view.cancelOffered && view.count("Waiting for done, toggle has not changed") == 3)
            view.cancelPressed = true;
    };

    EXPECT_EQ(run(LoaderMode::ModePCX, {a}), UploadOutcome::Cancelled);

    EXPECT_EQ(view.count("Waiting for done, toggle has not changed"), 3);
    ASSERT_EQ(view.scripted.messages().size(), 1);
    EXPECT_TRUE(
        view.scripted.messages()[0].startsWith("Upload cancelled while the printer was writing " + a));
}

// A stop while the printer writes a file it received whole judges that file
// by the free flash read after the stop, as the run judges any other.
TEST_F(UploadEngineTest, AFileStoppedDuringItsFlashWriteIsJudgedByTheFreeFlash) {
    struct Case {
        bool cancel;
        std::int32_t flashUsed;
        FileOutcome outcome;
        QString truth;
    };
    const QString a = makeFile("a.ttf", bytes(20, 1));
    for (const Case& c :
         {Case{true, 20, FileOutcome::Confirmed, "The printer stored " + a + " all the same"},
          Case{false, 1'000, FileOutcome::Confirmed, "The printer stored " + a},
          Case{true, 19, FileOutcome::Interrupted, "The printer did not confirm storing " + a},
          Case{false, 0, FileOutcome::Interrupted, "The printer did not confirm storing " + a}}) {
        SCOPED_TRACE(c.truth.toStdString() + " after " + (c.cancel ? "cancel" : "time-out"));
        FakeView fresh;
        FlashWritingObserver seen{printer};
        printer.neverToggles = true;
        printer.flashPerFile = c.flashUsed;
        fresh.onEvents = [&] { fresh.cancelPressed = c.cancel && fresh.cancelOffered; };
        UploadEngine engine(printer, fresh, converter(), 20ms, seen);
        request.paths = {a};
        EXPECT_EQ(engine.run(request), c.cancel ? UploadOutcome::Cancelled : UploadOutcome::TimedOut);
        ASSERT_EQ(seen.ended.size(), 1u);
        EXPECT_EQ(seen.ended[0].outcome, c.outcome);
        EXPECT_EQ(seen.ended[0].freeFlashAfter, printer.freeFlash);
        EXPECT_TRUE(fresh.scripted.messages().constLast().contains(c.truth));
        EXPECT_EQ(seen.runs[0].confirmed, c.outcome == FileOutcome::Confirmed ? 1 : 0);
    }
}

TEST_F(UploadEngineTest, AConnectionLostMidFileStopsAtOnceNamingTheFile) {
    const QString a = makeFile("a.ttf", bytes(3 * 8192, 1));
    const QString b = makeFile("b.ttf", bytes(10, 2));
    printer.writesLeftBeforeFailure = 2;  // the header and one chunk

    EXPECT_EQ(run(LoaderMode::ModeTTF, {a, b}), UploadOutcome::PrinterGone);

    EXPECT_EQ(printer.writes.size(), 2u);
    EXPECT_EQ(view.count("lRC = 1, fail"), 1);
    EXPECT_EQ(view.scripted.messages(),
              QStringList({"The printer stopped taking data while sending " + a + ", upload stopped"}));
}

TEST_F(UploadEngineTest, AStatusReadThatFailsDuringTheWaitStopsTheRun) {
    const QString a = makeFile("a.ttf", bytes(10, 1));
    view.onEvents = [&] {
        if (view.lines.contains("TTF flash delay start, waiting for toggle")) printer.statusFails = true;
    };
    EXPECT_EQ(run(LoaderMode::ModeTTF, {a}), UploadOutcome::PrinterGone);
    EXPECT_EQ(view.scripted.messages(),
              QStringList({"The printer stopped answering while writing " + a + ", upload stopped"}));
}

// A lost answer or two does not stop a healthy printer; three in a row do.
TEST_F(UploadEngineTest, FailedStatusReadsAreTriedAgainDuringTheWait) {
    const QString a = makeFile("a.ttf", bytes(10, 1));
    printer.readsPerFlashWrite = 3;
    for (const auto& [failures, outcome] :
         {std::pair{2, UploadOutcome::Completed}, std::pair{3, UploadOutcome::PrinterGone}}) {
        bool armed = true;
        view.onEvents = [&, failures = failures] {
            if (armed && view.lines.contains("TTF flash delay start, waiting for toggle")) {
                printer.failingReads = failures;
                armed = false;
            }
        };
        EXPECT_EQ(run(LoaderMode::ModeTTF, {a}), outcome) << failures;
    }
}

TEST_F(UploadEngineTest, AFileThatVanishedStopsTheRunBeforeItsHeader) {
    const QByteArray first = bytes(10, 1);
    const QString a = makeFile("a.pcx", first);
    const QString gone = dir.filePath("gone.pcx");

    EXPECT_EQ(run(LoaderMode::ModePCX, {a, gone}), UploadOutcome::FileMissing);

    EXPECT_EQ(printer.received, QByteArray("\x1b<pcx><G10>") + first + "\x1b");
    ASSERT_EQ(view.scripted.messages().size(), 1);
    EXPECT_TRUE(view.scripted.messages().constFirst().startsWith("File " + gone +
                                                                 " can not be opened, upload stopped"));
}

TEST_F(UploadEngineTest, DemoModeWritesNothingAndEndsInEveryBranch) {
    DemoPrinterConnection demo(5'000'000);
    const QString ttf = makeFile("a.ttf", bytes(10, 1));
    const QString pcx = makeFile("a.pcx", bytes(10, 1));
    const QString sfp = makeFile("a.sfp", bytes(10, 1));
    const std::tuple<LoaderMode, QString, QString> cases[] = {
        {LoaderMode::ModeTTF, ttf, "Demo mode - Sending true type font to printer "},
        {LoaderMode::ModePCX, pcx, "Demo mode - Sending PCX image to printer "},
        {LoaderMode::ModeSF, sfp, "Demo mode - Sending converted file to printer "},
    };
    for (const auto& [mode, path, demoLine] : cases) {
        FakeView fresh;
        UploadEngine engine(demo, fresh, converter(), 50ms, events);
        request.mode = mode;
        request.paths = {path};
        request.demoMode = true;
        EXPECT_EQ(engine.run(request), UploadOutcome::Completed);
        EXPECT_EQ(fresh.count(demoLine), 1);
        EXPECT_EQ(fresh.count("Writing file "), 0);
        EXPECT_EQ(fresh.count("Waiting for done, found toggle change"), 1);
        EXPECT_TRUE(
            fresh.scripted.messages().constLast().startsWith("Flash Upload Complete\n\nDemonstration"));
    }
}

TEST_F(UploadEngineTest, AListLargerThanTheFreeFlashIsSentOnlyWhenTheOperatorAgrees) {
    const QByteArray content = bytes(100, 1);
    const QString a = makeFile("a.ttf", content);
    request.flashNeeded = 100;
    request.freeFlash = 99;

    view.scripted.answerYesNo(false);
    EXPECT_EQ(run(LoaderMode::ModeTTF, {a}), UploadOutcome::NotEnoughFlash);
    EXPECT_TRUE(printer.received.isEmpty());
    EXPECT_EQ(view.scripted.prompts()[0].kind, ScriptedOperatorPrompts::Kind::YesNo);

    view.scripted.answerYesNo(true);
    EXPECT_EQ(run(LoaderMode::ModeTTF, {a}), UploadOutcome::Completed);
    EXPECT_EQ(printer.received, "<ttf100>" + content);

    // Soft fonts are judged by their converted size, once converted.
    const QString font = makeFile("a.sfp", bytes(97, 1));  // 100 bytes converted
    FakeView fresh;
    UploadEngine engine(printer, fresh, converter(), 60s, events);
    request = {LoaderMode::ModeSF, {font}, false, 0, 99, {}};
    EXPECT_EQ(engine.run(request), UploadOutcome::NotEnoughFlash);
    EXPECT_EQ(conversions, 1);
}

// What each file and the run came to, as data: a stored file, one the run
// stopped during, and one never reached.
TEST_F(UploadEngineTest, EventsTellEachFileAndTheRunsEnd) {
    const QString a = makeFile("a.ttf", bytes(10, 1));
    const QString b = makeFile("b.ttf", bytes(3 * 8192, 2));
    const QString c = makeFile("c.ttf", bytes(10, 3));
    printer.writesLeftBeforeFailure = 3;  // a's header and file, then b's header

    EXPECT_EQ(run(LoaderMode::ModeTTF, {a, b, c}), UploadOutcome::PrinterGone);

    ASSERT_EQ(events.started.size(), 2u);
    EXPECT_EQ(events.started[1].row, 2);
    EXPECT_EQ(events.started[1].path, b);
    EXPECT_EQ(events.started[1].size, 3 * 8192);
    EXPECT_EQ(events.started[1].freeFlashBefore, 999'000);
    ASSERT_EQ(events.ended.size(), 2u);
    EXPECT_EQ(events.ended[0].outcome, FileOutcome::Confirmed);
    EXPECT_EQ(events.ended[0].bytesSent, 7 + 10);
    EXPECT_EQ(events.ended[0].freeFlashAfter, 999'000);
    EXPECT_EQ(events.ended[1].outcome, FileOutcome::Interrupted);
    EXPECT_EQ(events.ended[1].bytesSent, 10);  // "<ttf24576>" alone
    EXPECT_EQ(events.ended[1].reason, view.scripted.messages().constLast());
    ASSERT_EQ(events.runs.size(), 1u);
    EXPECT_EQ(events.runs[0].outcome, UploadOutcome::PrinterGone);
    EXPECT_EQ(events.runs[0].stoppedAtRow, 2);
    EXPECT_EQ(events.runs[0].confirmed, 1);
    EXPECT_EQ(events.runs[0].files, 3);
    EXPECT_EQ(events.runs[0].reason, view.scripted.messages().constLast());
}

// The limit stated to the operator is the one waited: a file's size only
// lengthens it when writing the file alone may take longer (a 343 KB font
// once made a minute 77 s).
TEST(FlashWaitLimit, IsTheStatedLimitUnlessTheFileAloneTakesLonger) {
    EXPECT_EQ(flashWaitLimit(60s, 343'140), 60s);
    EXPECT_EQ(flashWaitLimit(60s, 2'000'000), 100s);
    EXPECT_EQ(flashWaitLimit(1s, -5), 1s);
}

TEST_F(UploadEngineTest, HeadersCarryTheSizeInPlainDigits) {
    EXPECT_EQ(uploadHeader(LoaderMode::ModeTTF, 0), "<ttf0>");
    EXPECT_EQ(uploadHeader(LoaderMode::ModeTTF, 3'000'000'000), "<ttf3000000000>");
    EXPECT_EQ(uploadHeader(LoaderMode::ModePCX, 7), QByteArray("\x1b<pcx><G7>"));
    EXPECT_TRUE(uploadHeader(LoaderMode::ModeSF, 7).isEmpty());
}

}  // namespace
}  // namespace velquin::testing
