// The status line's share and time left: line parsing, the estimate on a
// fake clock, the text, and the pipe the engine writes into.
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>
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

// A scan as the engine reports it: every `stepMs` the bytes read at `rates`
// (bytes per millisecond) for the given spans. Asks the estimate at `askMs`.
struct Phase {
    qint64 spanMs;
    double bytesPerMs;
};

std::optional<qint64> EstimateAt(quint64 total, const std::vector<Phase>& phases, qint64 stepMs, qint64 askMs,
                                 quint64* doneAtAsk = nullptr)
{
    qint64 now = 0;
    TimeLeftEstimate estimate([&] { return now; });
    double done = 0;
    estimate.Update({0, total});
    for (const Phase& phase : phases) {
        for (qint64 t = 0; t < phase.spanMs && now < askMs; t += stepMs) {
            now += stepMs;
            done = std::min(done + phase.bytesPerMs * stepMs, static_cast<double>(total));
            estimate.Update({static_cast<quint64>(done), total});
        }
    }
    if (doneAtAsk)
        *doneAtAsk = static_cast<quint64>(done);
    return estimate.SecondsLeft();
}

TEST(TimeLeftEstimateTest, WaitsForASteadyRateAndFollowsItOnAFakeClock)
{
    constexpr quint64 kMiB = 1ull << 20;
    const struct {
        const char* what;
        quint64 total;
        std::vector<Phase> phases;
        qint64 stepMs;
        qint64 askMs;
        std::optional<double> rateAtEnd;  // bytes per ms the answer must reflect within 15 %; nothing: no answer
    } cases[] = {
        {"the first seconds give no time", 4000 * kMiB, {{60000, 100.0 * kMiB / 1000}}, 500, 4000, std::nullopt},
        {"a steady rate", 4000 * kMiB, {{60000, 100.0 * kMiB / 1000}}, 500, 10000, 100.0 * kMiB / 1000},
        // A 40 s scan whose first seconds crawl: the slow start is not taken for its pace.
        {"a slow start", 4000 * kMiB, {{3000, 5.0 * kMiB / 1000}, {60000, 110.0 * kMiB / 1000}}, 500, 9000,
         110.0 * kMiB / 1000},
        {"reports of uneven size", 4000 * kMiB, {{60000, 80.0 * kMiB / 1000}}, 100, 15000, 80.0 * kMiB / 1000},
        {"a slower region is followed", 20000 * kMiB,
         {{20000, 120.0 * kMiB / 1000}, {60000, 40.0 * kMiB / 1000}}, 500, 45000, 40.0 * kMiB / 1000},
        {"a stall gives no time", 4000 * kMiB, {{10000, 100.0 * kMiB / 1000}, {60000, 0.0}}, 500, 60000,
         std::nullopt},
        // 2 TB at 100 MiB/s: 2 % takes minutes; a long steady measurement is enough.
        {"a huge disk, early", 2000000 * kMiB, {{60000, 100.0 * kMiB / 1000}}, 500, 10000, std::nullopt},
        {"a huge disk, later", 2000000 * kMiB, {{60000, 100.0 * kMiB / 1000}}, 500, 30000, 100.0 * kMiB / 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        quint64 done = 0;
        const std::optional<qint64> seconds = EstimateAt(c.total, c.phases, c.stepMs, c.askMs, &done);
        if (!c.rateAtEnd) {
            EXPECT_FALSE(seconds) << *seconds;
            continue;
        }
        ASSERT_TRUE(seconds);
        const double truth = static_cast<double>(c.total - done) / *c.rateAtEnd / 1000.0;
        EXPECT_NEAR(static_cast<double>(*seconds), truth, truth * 0.15);
    }
}

TEST(TimeLeftEstimateTest, PercentAndAFreshStartOnAnotherDevice)
{
    qint64 now = 1000;
    TimeLeftEstimate estimate([&] { return now; });
    EXPECT_FALSE(estimate.Percent());
    const quint64 total = 1000ull << 20;
    for (quint64 second = 0; second <= 10; ++second, now += 1000)
        estimate.Update({second * (20ull << 20), total});
    EXPECT_EQ(estimate.Percent(), 20);
    ASSERT_TRUE(estimate.SecondsLeft());
    EXPECT_EQ(*estimate.SecondsLeft(), 40);

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
