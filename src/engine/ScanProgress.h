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

// Share done and time left, from the reports and a clock. The rate is the
// average since the first report, so it settles as the scan goes on; no
// estimate is given before a few seconds of reading have been seen.
class TimeLeftEstimate {
public:
    using Clock = std::function<qint64()>;  // milliseconds, monotonic
    explicit TimeLeftEstimate(Clock clock);

    void Update(const ProgressFigures& figures);
    // Forgets every report (a new scan).
    void Reset() { m_first.reset(); }
    // 0..100, nothing while the size is unknown.
    std::optional<int> Percent() const;
    // Seconds still to go, nothing while there is no trustworthy rate.
    std::optional<qint64> SecondsLeft() const;

private:
    Clock m_clock;
    std::optional<ProgressFigures> m_first;
    qint64 m_firstMs = 0;
    ProgressFigures m_last;
    qint64 m_lastMs = 0;
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
