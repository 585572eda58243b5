// The status line's share and time left: line parsing, the estimate on a
// fake clock, the text, and the pipe the engine writes into.
#include <gtest/gtest.h>
#include <unistd.h>

#include "ScanProgress.h"

using namespace snapmend;

namespace {

std::string Str(const QString& s) { return s.toStdString(); }

TEST(ProgressLinesTest, TakesTheLastWellFormedCompleteLine)
{
    struct Case {
        QByteArray input;
        std::optional<quint64> done;  // of the figures taken
        QByteArray left;              // what stays for the next read
    } const cases[] = {
        {"10 100\n20 100\n", 20, ""},
        {"10 100\n20 1", 10, "20 1"},
        {"30 100\ngarbage\n", 30, ""},
        {"200 100\n", std::nullopt, ""},  // past the end: not a report
        {"5 0\n", 5, ""},                 // size unknown
        {"-1 100\n1 2 3 4\n\n", std::nullopt, ""},
        {QByteArray(300, '7'), std::nullopt, ""},  // no newline in sight: dropped
    };
    for (const Case& c : cases) {
        QByteArray buffer = c.input;
        const std::optional<ProgressFigures> figures = TakeProgressLines(buffer);
        ASSERT_EQ(figures.has_value(), c.done.has_value()) << c.input.toStdString();
        if (figures) {
            EXPECT_EQ(figures->done, *c.done) << c.input.toStdString();
        }
        EXPECT_EQ(buffer, c.left) << c.input.toStdString();
    }
}

// The engine may add the unreadable byte count and ends with a totals line;
// lines of a later engine that this window does not know are passed over.
TEST(ProgressLinesTest, ReadsUnreadableBytesAndTheTotalsLine)
{
    struct Case {
        QByteArray input;
        std::optional<quint64> unreadable;  // of the figures taken
        std::optional<quint64> totalUnreadable;
    } const cases[] = {
        {"10 100\n", 0, std::nullopt},
        {"10 100 4096\n", 4096, std::nullopt},
        {"10 100 4096\n20 100 8192\ntotals 3 1 8192\n", 8192, 8192},
        {"totals 3 1 512\n", std::nullopt, 512},
        {"totals 3 1\ntotals x 1 2\nTOTALS 1 2 3\n", std::nullopt, std::nullopt},
        {"20 100 8192\nskipped 5 6\nversion 2\n", 8192, std::nullopt},
        {"20 100 -1\n", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        QByteArray buffer = c.input;
        std::optional<EngineTotals> totals;
        const std::optional<ProgressFigures> figures = TakeProgressLines(buffer, &totals);
        ASSERT_EQ(figures.has_value(), c.unreadable.has_value()) << c.input.toStdString();
        if (figures) {
            EXPECT_EQ(figures->unreadable, *c.unreadable) << c.input.toStdString();
        }
        ASSERT_EQ(totals.has_value(), c.totalUnreadable.has_value()) << c.input.toStdString();
        if (totals) {
            EXPECT_EQ(totals->unreadable, *c.totalUnreadable) << c.input.toStdString();
        }
    }
}

TEST(TimeLeftEstimateTest, AverageRateSinceTheFirstReportOnAFakeClock)
{
    qint64 now = 1000;
    TimeLeftEstimate estimate([&] { return now; });
    EXPECT_FALSE(estimate.Percent());
    const quint64 total = 1000ull << 20;

    estimate.Update({0, total});
    EXPECT_EQ(estimate.Percent(), 0);
    now += 2000;
    estimate.Update({20ull << 20, total});
    EXPECT_EQ(estimate.Percent(), 2);
    EXPECT_FALSE(estimate.SecondsLeft()) << "two seconds are too few for a rate";
    now += 2000;
    estimate.Update({40ull << 20, total});  // 10 MiB/s, 960 MiB to go
    EXPECT_EQ(estimate.SecondsLeft(), 96);
    now += 6000;
    estimate.Update({370ull << 20, total});  // faster: 37 MiB in 10 s on average
    EXPECT_EQ(estimate.Percent(), 37);
    EXPECT_EQ(estimate.SecondsLeft(), 17);

    // A report that goes back (another device) starts the estimate again.
    estimate.Update({10, 100});
    EXPECT_EQ(estimate.Percent(), 10);
    EXPECT_FALSE(estimate.SecondsLeft());
    estimate.Reset();
    EXPECT_FALSE(estimate.Percent());
}

TEST(ScanStatusTextTest, ShowsWhatIsKnown)
{
    struct Case {
        int dots;
        std::optional<int> percent;
        std::optional<qint64> seconds;
        const char* text;
    } const cases[] = {
        {0, std::nullopt, std::nullopt, "Analyzing disk, please wait"},
        {3, std::nullopt, 50, "Analyzing disk, please wait..."},
        {3, 37, std::nullopt, "Analyzing disk, please wait... 37%"},
        {3, 37, 240, "Analyzing disk, please wait... 37% (about 4 min left)"},
        {1, 37, 269, "Analyzing disk, please wait. 37% (about 4 min left)"},
        {1, 37, 270, "Analyzing disk, please wait. 37% (about 5 min left)"},
        {0, 99, 59, "Analyzing disk, please wait 99% (less than a minute left)"},
        {2, 5, 7500, "Analyzing disk, please wait.. 5% (about 2 h 5 min left)"},
        {5, 100, 0, "Analyzing disk, please wait..... 100%"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Str(ScanStatusText(c.dots, c.percent, c.seconds)), c.text);
}

TEST(ScanProgressTest, ReadsWhatTheEngineWroteAndWorksWithoutAnyReport)
{
    qint64 now = 0;
    ScanProgress progress([&] { return now; });
    EXPECT_EQ(progress.EngineEnd(), -1);
    EXPECT_EQ(Str(progress.NextStatusText()), "Analyzing disk, please wait.") << "no channel: the dots alone";

    ASSERT_TRUE(progress.OpenChannel());
    const int engineEnd = progress.EngineEnd();
    ASSERT_GE(engineEnd, 0);
    EXPECT_EQ(Str(progress.CurrentStatusText()), "Analyzing disk, please wait") << "a new scan starts without dots";
    ASSERT_EQ(write(engineEnd, "0 400\n100 4", 11), 11);
    EXPECT_EQ(Str(progress.NextStatusText()), "Analyzing disk, please wait. 0%");
    ASSERT_EQ(write(engineEnd, "00\n", 3), 3);
    EXPECT_EQ(Str(progress.NextStatusText()), "Analyzing disk, please wait.. 25%");
    progress.CloseEngineEnd();  // the engine ended: the last figures stay
    EXPECT_EQ(progress.EngineEnd(), -1);
    EXPECT_EQ(Str(progress.CurrentStatusText()), "Analyzing disk, please wait.. 25%");
    for (int i = 0; i < 3; ++i)
        progress.NextStatusText();
    EXPECT_EQ(Str(progress.NextStatusText()), "Analyzing disk, please wait 25%") << "five dots start again at none";

    ASSERT_TRUE(progress.OpenChannel());
    EXPECT_EQ(Str(progress.CurrentStatusText()), "Analyzing disk, please wait") << "nothing of the last scan";
}

}  // namespace

namespace {

TEST(ScanProgressTest, UnreadableBytesFollowTheReportsAndEndWithTheTotals)
{
    ScanProgress progress([] { return qint64(0); });
    ASSERT_TRUE(progress.OpenChannel());
    const int engineEnd = progress.EngineEnd();
    EXPECT_EQ(progress.UnreadableBytes(), 0u);
    ASSERT_EQ(write(engineEnd, "100 400 1024\n", 13), 13);
    EXPECT_EQ(progress.UnreadableBytes(), 1024u);
    ASSERT_EQ(write(engineEnd, "400 400 3072\ntotals 2 1 4096\n", 29), 29);
    EXPECT_EQ(progress.UnreadableBytes(), 4096u) << "the totals are the last word";
    ASSERT_TRUE(progress.OpenChannel());
    EXPECT_EQ(progress.UnreadableBytes(), 0u) << "a new scan starts from nothing";
}

}  // namespace
