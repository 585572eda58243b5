#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <atomic>
#include <functional>
#include <optional>

namespace snapmend {

// The name of the environment variable that tells the engine on which
// descriptor to report how far it has read.
inline constexpr char kEngineProgressVariable[] = "SNAPMEND_PROGRESS_FD";

// One report of the engine: bytes read of the device's size (0: unknown),
// and how many of them could not be read.
struct ProgressFigures {
    quint64 done = 0;
    quint64 total = 0;
    quint64 unreadable = 0;
};

// The engine's last report: "totals <whole files> <partial files> <unreadable bytes>".
struct EngineTotals {
    quint64 whole = 0;
    quint64 partial = 0;
    quint64 unreadable = 0;
};

// Takes every complete line out of `buffer` ("<done> <total>[ <unreadable>]\n"
// or the totals line); returns the last well-formed figures, or nothing, and
// stores a totals line in `totals` when one came. Other lines are passed over.
// A partial last line stays in the buffer; a buffer that grows past a few
// lines without a newline is dropped.
std::optional<ProgressFigures> TakeProgressLines(QByteArray& buffer, std::optional<EngineTotals>* totals = nullptr);

// Share done and time left, from the reports and a clock. The first seconds
// of a scan (the engine starting, the disk spinning up) say little about its
// pace: they only set where measuring starts. From then on the rate is an
// exponentially fading average over a few seconds, so that it follows real
// changes (a slower region of the disk) without jumping with every report. No
// time is given until the rate has been measured for a while and a little of
// the disk has been read, nor while reading is stalled.
class TimeLeftEstimate {
public:
    using Clock = std::function<qint64()>;  // milliseconds, monotonic
    explicit TimeLeftEstimate(Clock clock);

    void Update(const ProgressFigures& figures);
    // Forgets every report (a new scan).
    void Reset();
    // 0..100, nothing while the size is unknown.
    std::optional<int> Percent() const;
    // Seconds still to go, nothing while there is no trustworthy rate.
    std::optional<qint64> SecondsLeft() const;

private:
    void Restart(const ProgressFigures& figures, qint64 now);
    void MeasureRate(const ProgressFigures& figures, qint64 now);

    Clock m_clock;
    bool m_started = false;
    qint64 m_firstMs = 0;
    ProgressFigures m_last;
    // The report the next rate sample is measured from.
    quint64 m_sampleDone = 0;
    qint64 m_sampleMs = 0;
    // The rate is bytes over time, both summed with weights that fade as the
    // samples age; each sample counts by the time it spans.
    double m_weightedBytes = 0;
    double m_weightedMs = 0;
    qint64 m_measuredMs = 0;  // how long the rate has been measured
    qint64 m_lastMs = 0;
    qint64 m_lastProgressMs = 0;  // when the last report that moved on came
};

// "Analyzing disk, please wait" with `dots` dots, then " 37% (about 4 min left)",
// " 37%" or nothing, as much as is known.
QString ScanStatusText(int dots, std::optional<int> percent, std::optional<qint64> secondsLeft);

// The front-end's end of the progress channel: a pipe whose write end the
// engine inherits, read without blocking on the user-interface thread.
class ScanProgress {
public:
    explicit ScanProgress(TimeLeftEstimate::Clock clock);
    ~ScanProgress();
    ScanProgress(const ScanProgress&) = delete;
    ScanProgress& operator=(const ScanProgress&) = delete;

    // A fresh pipe for the next engine; false when none could be made (the
    // scan then runs with the dots alone).
    bool OpenChannel();
    // The write end for the engine, -1 when there is none.
    int EngineEnd() const { return m_writeFd.load(); }
    // Closes the write end; once the engine has it too, its end is the pipe's end.
    void CloseEngineEnd();

    // Reads whatever has arrived and returns the status line's next text:
    // one more dot (five dots start again at none) and the figures known so far.
    QString NextStatusText();
    // The same figures with the dots as they are.
    QString CurrentStatusText();
    // Bytes the engine could not read so far (its totals once it has ended);
    // reads whatever has arrived first.
    quint64 UnreadableBytes();

private:
    void ReadAvailable();
    void CloseAll();

    TimeLeftEstimate m_estimate;
    QByteArray m_pending;
    quint64 m_unreadable = 0;
    std::optional<EngineTotals> m_totals;
    int m_readFd = -1;
    std::atomic<int> m_writeFd{-1};
    int m_dots = 0;
};

// Milliseconds of the monotonic clock.
qint64 MonotonicMs();

}  // namespace snapmend
