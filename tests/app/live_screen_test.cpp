// The lines velquin-load draws on a terminal, for terminals of given sizes:
// none wider than the terminal, no more than leave the cursor on screen.
#include "live_screen.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

using velquin::load::LiveRow;
using velquin::load::LiveScreen;
using velquin::load::ProgressFields;

LiveRow sending(const QString& printer, const QString& path, std::int64_t rate = 0) {
    LiveRow row;
    row.printer = printer;
    row.phase = LiveRow::Phase::Running;
    row.file = ProgressFields{path, 12'288, 40'960, rate, QStringLiteral("sending")};
    return row;
}

LiveRow message(const QString& printer, LiveRow::Phase phase, const QString& text, bool failed = false) {
    LiveRow row;
    row.printer = printer;
    row.phase = phase;
    row.failed = failed;
    row.text = text;
    return row;
}

TEST(LiveScreenTest, EveryLineFitsTheWidthAndAPathGivesWayInItsMiddle) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const QString deep = QStringLiteral("/srv/venue/fonts/season-2026/box-office/Condensed-Bold.ttf");
    const struct {
        const char* name;
        LiveRow row;
        int columns;
        QStringList kept;  // parts that must still show
    } cases[] = {
        {"fits whole", sending(QStringLiteral("tcp:127.0.0.1:9101"), deep), 200, {deep}},
        {"path elided",
         sending(QStringLiteral("tcp:127.0.0.1:9101"), deep),
         70,
         {QStringLiteral("tcp:127.0.0.1:9101"), QStringLiteral("/srv"), QStringLiteral("Bold.ttf"),
          QStringLiteral("12288/40960 bytes"), QStringLiteral("sending")}},
        {"rate once measured",
         sending(QStringLiteral("p"), QStringLiteral("a.ttf"), 36'000),
         70,
         {QStringLiteral("35 KB/s")}},
        {"state before rate",
         sending(QStringLiteral("tcp:127.0.0.1:9101"), deep, 36'000),
         60,
         {QStringLiteral("sending"), QStringLiteral("ttf")}},
        {"very narrow", sending(QStringLiteral("tcp:127.0.0.1:9101"), deep), 12, {QStringLiteral("tcp:")}},
        {"wide characters",
         sending(QStringLiteral("p"), QStringLiteral("/fonts/") + QString(30, QChar(0x5b57))),
         40,
         {QStringLiteral("sending")}},
        {"long message",
         message(QStringLiteral("tcp:127.0.0.1:9101"), LiveRow::Phase::Running, QString(90, 'x')),
         40,
         {QStringLiteral("...")}},
    };
    for (const auto& test : cases) {
        const QStringList lines = LiveScreen({test.columns, 24}).render({test.row});
        ASSERT_EQ(lines.size(), 1) << test.name;
        EXPECT_LE(LiveScreen::width(lines[0]), test.columns) << test.name << ": " << lines[0].toStdString();
        for (const QString& part : test.kept)
            EXPECT_TRUE(lines[0].contains(part)) << test.name << ": " << lines[0].toStdString();
        EXPECT_FALSE(lines[0].contains(QStringLiteral("0 KB/s")) ||
                     lines[0].contains(QStringLiteral(" 0 bytes/s")))
            << test.name;
    }
}

TEST(LiveScreenTest, MorePrintersThanRowsShowThoseAtWorkAndCountTheRest) {
    std::vector<LiveRow> rows;
    for (int i = 0; i < 5; ++i)
        rows.push_back(message(QStringLiteral("done%1").arg(i), LiveRow::Phase::Finished,
                               QStringLiteral("finished: completed"), i == 0));
    rows.push_back(sending(QStringLiteral("busy1"), QStringLiteral("a.ttf")));
    rows.push_back(message(QStringLiteral("wait1"), LiveRow::Phase::Waiting, QStringLiteral("waiting")));
    rows.push_back(sending(QStringLiteral("busy2"), QStringLiteral("b.ttf")));

    const QStringList lines = LiveScreen({80, 5}).render(rows);
    // The cursor ends below the last line, on the screen's last row.
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("busy1")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("wait1")));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("busy2")));
    EXPECT_EQ(lines[3], QStringLiteral("5 more printer(s): 5 finished (1 failed)"));

    EXPECT_EQ(LiveScreen({80, 9}).render(rows).size(), 8);  // all fit: no count
    EXPECT_EQ(LiveScreen({80, 1}).render(rows).size(), 1);
}

}  // namespace
