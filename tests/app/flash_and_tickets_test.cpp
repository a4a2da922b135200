// Flash maintenance and test tickets against an in-memory printer and window.
#include <gtest/gtest.h>

#include "flash_maintenance.h"
#include "test_tickets.h"
#include "work_fakes.h"

namespace velquin::testing {
namespace {

using namespace std::chrono_literals;

class FlashMaintenanceTest : public ::testing::Test {
protected:
    FlashMaintenance maintenance() {
        return FlashMaintenance(
            printer, view, [this](int ms) { sleeps.push_back(ms); }, 50ms);
    }
    FakePrinter printer;
    FakeView view;
    std::vector<int> sleeps;
};

TEST_F(FlashMaintenanceTest, EraseAnsweredNoOrInDemoModeDoesNothing) {
    view.lines = {"earlier line"};
    view.scripted.answerYesNo(false);
    EXPECT_EQ(maintenance().clearFontSpace(false), EraseOutcome::Declined);
    view.scripted.answerYesNo(true);
    EXPECT_EQ(maintenance().clearFontSpace(true), EraseOutcome::Declined);

    EXPECT_EQ(view.lines, QStringList({"earlier line"}));
    EXPECT_TRUE(printer.writes.empty());
    EXPECT_EQ(printer.statusReads, 0);
    ASSERT_EQ(view.scripted.prompts().size(), 3u);
    EXPECT_EQ(view.scripted.prompts()[2].text, DEMO_NOTHING_SENT);
    EXPECT_EQ(view.scripted.prompts()[0].text, "Are you sure you want to clear Font space?");
    EXPECT_EQ(view.scripted.prompts()[0].title, "Clear Flash");
}

TEST_F(FlashMaintenanceTest, EraseSendsTheClearCommandAndWaitsForTheToggle) {
    printer.toggle = true;
    printer.freeFlash = 2'097'152;
    printer.flashPerFile = 0;
    printer.readsPerFlashWrite = 2;
    printer.onWrite = [this](const QByteArray&) { printer.fileArrived(); };  // the erase is one flash write
    view.scripted.answerYesNo(true);

    EXPECT_EQ(maintenance().clearFontSpace(false), EraseOutcome::Erased);

    EXPECT_EQ(printer.received, "<CF>");
    EXPECT_EQ(sleeps, std::vector<int>({100}));
    EXPECT_EQ(view.lines, QStringList({"Clearing flash memory", "Initial State = 1",
                                       "Waiting for done, toggle", "Waiting for done, toggle",
                                       "Waiting for done, found toggle change", "Flash space erased"}));
    EXPECT_EQ(view.progressMaximum, 60);
    EXPECT_EQ(view.progress, 0);
    EXPECT_EQ(view.progressCaption, "Flash space erased");
    EXPECT_EQ(view.flashSpaceRemaining, 2'097'152);
    EXPECT_EQ(view.scripted.messages(), QStringList({"Font space cleared"}));
}

TEST_F(FlashMaintenanceTest, AnEraseThatNeverEndsTimesOutAndACommandNotTakenStopsAtOnce) {
    printer.neverToggles = true;
    printer.pendingFlashWrites = 1;
    view.scripted.answerYesNo(true);
    EXPECT_EQ(maintenance().clearFontSpace(false), EraseOutcome::TimedOut);
    EXPECT_EQ(view.scripted.messages().constLast(), "The printer did not report the end of the erase");

    printer.writesLeftBeforeFailure = 0;
    view.scripted.answerYesNo(true);
    EXPECT_EQ(maintenance().clearFontSpace(false), EraseOutcome::PrinterGone);
    EXPECT_EQ(view.scripted.messages().constLast(),
              "The printer did not take the clear command, font space not cleared");
}

TEST_F(FlashMaintenanceTest, GetFlashReportsTheQueryByLink) {
    printer.freeFlash = 2'097'152;
    maintenance().getFlash();
    EXPECT_EQ(view.lines, QStringList({"Getflash space remaining start", "Getflash space remaining, standard",
                                       "Return code = 0", "Getflash space remaining = 2097152"}));
    EXPECT_EQ(view.flashSpaceRemaining, 2'097'152);

    printer.ethernet = true;
    maintenance().getFlash();
    EXPECT_EQ(view.lines,
              QStringList({"Getflash space remaining start", "Getflash space remaining = 2097152"}));
}

TEST_F(FlashMaintenanceTest, GetBusyStatusShowsTheToggleBit) {
    maintenance().getStatus();
    EXPECT_EQ(view.lines, QStringList({"Flash toggle = 0", "Printer not busy, flash toggle = 0"}));
    printer.toggle = true;
    maintenance().getStatus();
    EXPECT_EQ(view.lines.constFirst(), "Flash toggle = 1");
    printer.statusFails = true;
    maintenance().getStatus();
    EXPECT_EQ(view.lines,
              QStringList({"Flash toggle error", "Printer status unknown, the status read failed"}));
    EXPECT_EQ(view.progressCaption, view.lines.constLast());
}

std::vector<QByteArray> sentBy(TicketButton button, LoaderMode mode) {
    FakePrinter printer;
    EXPECT_TRUE(sendTestTickets(button, mode, printer));
    return printer.writes;
}

TEST(TestTickets, NumberedButtonsSendOneStringOfTheMode) {
    EXPECT_EQ(sentBy(TicketButton::Test3, LoaderMode::ModeTTF),
              std::vector<QByteArray>({"<RC100,000><TTF3,30>True type Font Number 3<p>"}));
    EXPECT_EQ(sentBy(TicketButton::Test3, LoaderMode::ModeTTF).front().size(), 46);
    EXPECT_EQ(sentBy(TicketButton::Test1, LoaderMode::ModeSF),
              std::vector<QByteArray>({"<RC100,000><SF1,30>Soft Font Number 1<p>"}));
    EXPECT_EQ(
        sentBy(TicketButton::Test5, LoaderMode::ModePCX),
        std::vector<QByteArray>({"<NR><SP100,000><LD5><RR><SP100,300><LD5><RC100,500><F3><NR>PCX 5<p>"}));
    EXPECT_EQ(sentBy(TicketButton::Test2, LoaderMode::ModeBMP), std::vector<QByteArray>({QByteArray()}));
}

TEST(TestTickets, SequencesMakeOneTicketOfFiveLines) {
    const auto soft = sentBy(TicketButton::TestAll, LoaderMode::ModeSF);
    ASSERT_EQ(soft.size(), 5u);
    EXPECT_EQ(soft.front(), "<RC100,000><SF1,20>Soft Font Number 1");
    EXPECT_EQ(soft[2], "<RC300,000><SF3,20>Soft Font Number 3");
    EXPECT_EQ(soft.back(), "<RC500,000><SF5,20>Soft Font Number 5<p>");
    EXPECT_EQ(sentBy(TicketButton::TestAll, LoaderMode::ModeBMP), soft);

    const auto trueType = sentBy(TicketButton::TestAll, LoaderMode::ModeTTF);
    EXPECT_EQ(trueType.front(), "<RC100,000><TTF1,20>True type Font Number 1");
    EXPECT_EQ(trueType.back(), "<RC500,000><TTF5,20>True type Font Number 5<p>");

    const auto resident = sentBy(TicketButton::ResidentFonts, LoaderMode::ModeTTF);
    ASSERT_EQ(resident.size(), 5u);
    EXPECT_EQ(resident[3], "<RC400,000><RTF4,20>Resident True type Font Number 4");
    EXPECT_EQ(resident.back(), "<RC500,000><RTF5,20>Resident True type Font Number Five 5<p>");
}

TEST(TestTickets, AFailedWriteDoesNotStopTheSequence) {
    FakePrinter printer;
    printer.writesLeftBeforeFailure = 0;
    EXPECT_FALSE(sendTestTickets(TicketButton::ResidentFonts, LoaderMode::ModeTTF, printer));
    EXPECT_EQ(printer.sendAttempts, 5);
}

}  // namespace
}  // namespace velquin::testing
