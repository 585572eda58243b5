#include "ScanProgress.h"

#include <QList>
#include <cerrno>
#include <chrono>
#include <cmath>

#include "FileSystem.h"

namespace snapmend {
namespace {

// Reports in the first seconds after the first one only set where measuring starts.
constexpr qint64 kWarmUpMs = 2000;
// Rate samples shorter than this are too coarse: their reports are gathered.
constexpr qint64 kMinSampleMs = 250;
// The smoothing's time constant: a change of pace is followed within a few of these.
constexpr double kSmoothingMs = 5000.0;
// No time is given before the rate has been measured this long...
constexpr qint64 kMinMeasuredMs = 3000;
// ...and this share of the disk read, or the rate measured for much longer (large disks).
constexpr quint64 kMinReadPerMille = 20;
constexpr qint64 kLongMeasuredMs = 20000;
// Reading that has not moved on for this long has no rate to speak of.
constexpr qint64 kStalledMs = 10000;
// A report is a few dozen bytes; far more without a newline is not one.
constexpr int kMaxPendingBytes = 256;
constexpr int kMaxDots = 5;

bool ParseNumbers(const QList<QByteArray>& fields, qsizetype first, quint64* out)
{
    for (qsizetype i = first; i < fields.size(); ++i) {
        bool ok = false;
        out[i - first] = fields[i].toULongLong(&ok);
        if (!ok)
            return false;
    }
    return true;
}

std::optional<ProgressFigures> ParseLine(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() != 2 && fields.size() != 3)
        return std::nullopt;
    quint64 numbers[3] = {0, 0, 0};
    if (!ParseNumbers(fields, 0, numbers))
        return std::nullopt;
    ProgressFigures figures{numbers[0], numbers[1], numbers[2]};
    if (figures.total != 0 && figures.done > figures.total)
        return std::nullopt;
    return figures;
}

std::optional<EngineTotals> ParseTotalsLine(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split(' ');
    quint64 numbers[3] = {0, 0, 0};
    if (fields.size() != 4 || fields[0] != "totals" || !ParseNumbers(fields, 1, numbers))
        return std::nullopt;
    return EngineTotals{numbers[0], numbers[1], numbers[2]};
}

QString TimeLeftText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("less than a minute left");
    const qint64 minutes = (seconds + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("about %1 min left").arg(minutes);
    return QStringLiteral("about %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}

}  // namespace

qint64 MonotonicMs()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
}

std::optional<ProgressFigures> TakeProgressLines(QByteArray& buffer, std::optional<EngineTotals>* totals)
{
    std::optional<ProgressFigures> last;
    qsizetype newline;
    while ((newline = buffer.indexOf('\n')) >= 0) {
        const QByteArray line = buffer.left(newline);
        if (std::optional<ProgressFigures> figures = ParseLine(line))
            last = figures;
        else if (std::optional<EngineTotals> sum = ParseTotalsLine(line); sum && totals)
            *totals = sum;
        buffer.remove(0, newline + 1);
    }
    if (buffer.size() > kMaxPendingBytes)
        buffer.clear();
    return last;
}

TimeLeftEstimate::TimeLeftEstimate(Clock clock) : m_clock(std::move(clock)) {}

void TimeLeftEstimate::Reset()
{
    m_started = false;
    m_weightedBytes = 0;
    m_weightedMs = 0;
    m_measuredMs = 0;
}

void TimeLeftEstimate::Restart(const ProgressFigures& figures, qint64 now)
{
    Reset();
    m_started = true;
    m_firstMs = now;
    m_sampleDone = figures.done;
    m_sampleMs = now;
    m_lastProgressMs = now;
}

void TimeLeftEstimate::MeasureRate(const ProgressFigures& figures, qint64 now)
{
    if (now - m_firstMs < kWarmUpMs) {
        m_sampleDone = figures.done;
        m_sampleMs = now;
        return;
    }
    const qint64 elapsedMs = now - m_sampleMs;
    if (elapsedMs < kMinSampleMs)
        return;
    // Older samples fade by the time that has passed, whatever the reports' pace.
    const double fade = std::exp(-static_cast<double>(elapsedMs) / kSmoothingMs);
    m_weightedBytes = m_weightedBytes * fade + static_cast<double>(figures.done - m_sampleDone);
    m_weightedMs = m_weightedMs * fade + static_cast<double>(elapsedMs);
    m_measuredMs += elapsedMs;
    m_sampleDone = figures.done;
    m_sampleMs = now;
}

void TimeLeftEstimate::Update(const ProgressFigures& figures)
{
    const qint64 now = m_clock();
    // A new device, or a report out of order: start again.
    if (!m_started || figures.done < m_last.done || figures.total != m_last.total)
        Restart(figures, now);
    else
        MeasureRate(figures, now);
    if (figures.done != m_last.done)
        m_lastProgressMs = now;
    m_last = figures;
    m_lastMs = now;
}

std::optional<int> TimeLeftEstimate::Percent() const
{
    if (!m_started || m_last.total == 0)
        return std::nullopt;
    return static_cast<int>(m_last.done * 100 / m_last.total);
}

std::optional<qint64> TimeLeftEstimate::SecondsLeft() const
{
    if (!m_started || m_last.total == 0 || m_weightedBytes <= 0.0 || m_lastMs - m_lastProgressMs >= kStalledMs)
        return std::nullopt;
    const bool enoughRead = m_last.done >= m_last.total / 1000 * kMinReadPerMille;
    if (m_measuredMs < kMinMeasuredMs || (!enoughRead && m_measuredMs < kLongMeasuredMs))
        return std::nullopt;
    const double bytesPerMs = m_weightedBytes / m_weightedMs;
    const double leftMs = static_cast<double>(m_last.total - m_last.done) / bytesPerMs;
    return static_cast<qint64>(leftMs / 1000.0 + 0.5);
}

QString ScanStatusText(int dots, std::optional<int> percent, std::optional<qint64> secondsLeft)
{
    QString text = QStringLiteral("Analyzing disk, please wait") + QString(dots, QLatin1Char('.'));
    if (!percent)
        return text;
    text += QStringLiteral(" %1%").arg(*percent);
    if (secondsLeft && *percent < 100)
        text += QStringLiteral(" (%1)").arg(TimeLeftText(*secondsLeft));
    return text;
}

ScanProgress::ScanProgress(TimeLeftEstimate::Clock clock) : m_estimate(std::move(clock)) {}

ScanProgress::~ScanProgress() { CloseAll(); }

bool ScanProgress::OpenChannel()
{
    CloseAll();
    m_estimate.Reset();
    // The front-end never waits on the engine; the engine sets its own end non-blocking.
    int readEnd = -1;
    int writeEnd = -1;
    if (!MakePipe(readEnd, writeEnd))
        return false;
    m_readFd = readEnd;
    m_writeFd = writeEnd;
    return true;
}

void ScanProgress::CloseEngineEnd()
{
    CloseDescriptor(m_writeFd.exchange(-1));
}

void ScanProgress::CloseAll()
{
    CloseEngineEnd();
    CloseDescriptor(m_readFd);
    m_readFd = -1;
    m_pending.clear();
    m_dots = 0;
    m_unreadable = 0;
    m_totals.reset();
}

void ScanProgress::ReadAvailable()
{
    if (m_readFd < 0)
        return;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ReadSome(m_readFd, chunk, sizeof chunk);
        if (n > 0) {
            m_pending.append(chunk, n);
            if (std::optional<ProgressFigures> figures = TakeProgressLines(m_pending, &m_totals)) {
                m_estimate.Update(*figures);
                m_unreadable = figures->unreadable;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {  // the engine has ended: nothing more will come
            CloseDescriptor(m_readFd);
            m_readFd = -1;
        }
        return;
    }
}

QString ScanProgress::NextStatusText()
{
    m_dots = m_dots >= kMaxDots ? 0 : m_dots + 1;
    return CurrentStatusText();
}

quint64 ScanProgress::UnreadableBytes()
{
    ReadAvailable();
    return m_totals ? m_totals->unreadable : m_unreadable;
}

QString ScanProgress::CurrentStatusText()
{
    ReadAvailable();
    return ScanStatusText(m_dots, m_estimate.Percent(), m_estimate.SecondsLeft());
}

}  // namespace snapmend
