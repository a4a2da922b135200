// Jobs on the engine thread: what a job reports reaches the front end's
// thread in the order it was made, a question waits for its answer, and a
// front end that ends releases a job waiting on it.
#include "engine_thread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>

#include "job_view.h"

namespace velquin::testing {
namespace {

// The diagnostics list as a list of texts; repeats are counted into one entry.
class RecordingLog final : public StatusLog {
public:
    void clearStatus() override { lines.clear(); }
    void addStatusLine(const QString& line) override { lines << line; }
    void addRepeatedStatusLines(const QString& line, int times) override {
        if (lines.isEmpty() || lines.constLast() != line) lines << line;
        repeats += times;
    }
    void selectLastStatusLine() override {}
    QStringList lines;
    int repeats = 0;
};

class EngineThreadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QCoreApplication::instance() != nullptr) return;
        static int argc = 1;
        static char name[] = "engine_thread_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication application(argc, argv);
    }

    QObject home;
    ThreadHop hop{home};
    RecordingLog log;
    ScriptedOperatorPrompts prompts;
    HoppingStatusLog lines{log, hop};
    HoppingPrompts asks{prompts, hop};
};

TEST_F(EngineThreadTest, AJobsLinesAndQuestionArriveInOrder) {
    QStringList shownBeforeQuestion;
    prompts.setObserver([&](const ScriptedOperatorPrompts::Prompt&) { shownBeforeQuestion = log.lines; });
    prompts.answerYesNo(true);
    bool answer = false;
    EngineThread engine;
    QEventLoop loop;
    engine.start(
        [&] {
            lines.addStatusLine(QStringLiteral("a"));
            for (int i = 0; i < 1'000; ++i) lines.addRepeatedStatusLine(QStringLiteral("poll"));
            lines.addStatusLine(QStringLiteral("b"));
            answer = asks.askYesNo(QStringLiteral("Go on?"), QStringLiteral("t"), DefaultAnswer::No);
            lines.addStatusLine(QStringLiteral("c"));
        },
        &home, [&loop] { loop.quit(); });
    loop.exec();

    EXPECT_TRUE(answer);
    EXPECT_EQ(shownBeforeQuestion, QStringList({"a", "poll", "b"}));
    EXPECT_EQ(log.lines, QStringList({"a", "poll", "b", "c"}));
    EXPECT_EQ(log.repeats, 1'000);
}

TEST_F(EngineThreadTest, AnEndingFrontEndAnswersAWaitingQuestionNo) {
    prompts.answerYesNo(true);
    bool answer = true;
    EngineThread engine;
    engine.start(
        [&] { answer = asks.askYesNo(QStringLiteral("Go on?"), QStringLiteral("t"), DefaultAnswer::Yes); });
    // The front end never turns its event loop again: it ends.
    hop.abandon();
    engine.waitIdle();
    EXPECT_FALSE(answer);
    EXPECT_TRUE(prompts.prompts().empty());
}

}  // namespace
}  // namespace velquin::testing
