#include "CopyOutRun.h"

#include <QHash>
#include <cerrno>

#include "Paths.h"
#include "SafeCopy.h"
#include "TargetNames.h"
#include "ThreadPriority.h"
#include "WorkspaceFile.h"

namespace snapmend {
namespace {

// Enough copies in flight for the disk to merge their flushes; each waits
// mostly on the disk, not on a core.
constexpr int kCopyWorkers = 8;
// A worker flushes its copies once per batch rather than once per file. A
// batch holds a descriptor per copy: 8 batches stay far below the usual
// limit of 1 024 descriptors.
constexpr int kBatchFiles = 64;
constexpr qint64 kBatchBytes = qint64{64} << 20;

}  // namespace

CopyOutRun::CopyOutRun(QObject* parent) : QObject(parent) {}

CopyOutRun::~CopyOutRun() { Stop(); }

void CopyOutRun::Begin(std::vector<QString> sources, QString sourceRoot)
{
    Stop();
    m_run.Reset(std::move(sources), std::move(sourceRoot));
    m_lanes.assign(kCopyWorkers, Lane{});
    for (int k = 0; k < Total(); ++k) {
        const size_t lane = qHash(SourceFileName(m_run.sources[static_cast<size_t>(k)])) % kCopyWorkers;
        m_lanes[lane].items.push_back(k);
    }
    m_done = 0;
    m_stop = false;
    m_noOutputFolder = false;
    m_started = false;
    m_cleaning = false;
    m_cleanupDone = false;
}

void CopyOutRun::Start(const QString& outputFolder)
{
    if (m_started)
        return;
    m_started = true;
    m_running = static_cast<int>(m_lanes.size());
    for (Lane& lane : m_lanes)
        m_workers.emplace_back([this, &lane, outputFolder] {
            Work(lane, outputFolder);
            --m_running;
        });
}

void CopyOutRun::Work(Lane& lane, const QString& outputFolder)
{
    LowerThisThreadPriority();
    CopyBatch batch(outputFolder, m_run.person);
    const auto record = [&](int k, const CopyOutcome& outcome) {
        const QString& source = m_run.sources[static_cast<size_t>(k)];
        if (outcome.ok) {
            lane.copied.insert(source);
            ++lane.copiedCount;
        } else {
            ++lane.failed;
        }
        // Counted once the file is named on the disk, so that the progress never runs ahead of it.
        ++m_done;
    };
    const auto commit = [&] {
        for (const auto& [k, outcome] : batch.Commit())
            record(k, outcome);
    };
    for (const int k : lane.items) {
        // A stop drops the batch: its copies vanish unnamed and stay uncounted.
        if (m_stop.load())
            return;
        const QString& source = m_run.sources[static_cast<size_t>(k)];
        if (!WorkspaceEntryExists(source)) {
            ++lane.missing;
            ++m_done;
            continue;
        }
        if (!EnsureOutputFolder(outputFolder, m_run.person)) {
            // Nothing is consumed: the item and the batch stay for a retry, and every worker stops.
            m_noOutputFolder = true;
            m_stop = true;
            return;
        }
        QStringList subfolders = SourceSubfolders(source, m_run.sourceRoot);
        for (QString& folder : subfolders)
            folder = TargetName(folder);
        const QString name = TargetName(SourceFileName(source));
        std::optional<CopyOutcome> outcome = batch.Add(k, source, name, subfolders);
        if (outcome && !outcome->ok && (outcome->error == EMFILE || outcome->error == ENFILE) && batch.Size() > 0) {
            commit();  // the batch's descriptors were the last ones free
            outcome = batch.Add(k, source, name, subfolders);
        }
        if (outcome)
            record(k, *outcome);
        if (batch.Size() >= kBatchFiles || batch.Bytes() >= kBatchBytes)
            commit();
    }
    if (!m_stop.load())
        commit();
}

bool CopyOutRun::Finished()
{
    if (!m_started || m_running.load() > 0)
        return false;
    Join();
    return true;
}

void CopyOutRun::Stop()
{
    m_stop = true;
    Join();
    if (m_cleanup.joinable())
        m_cleanup.join();
}

void CopyOutRun::StartCleanup(std::function<void()> cleanup)
{
    if (m_cleaning)
        return;
    m_cleaning = true;
    m_cleanupDone = false;
    m_cleanup = std::thread([this, cleanup = std::move(cleanup)] {
        cleanup();
        m_cleanupDone = true;
    });
}

bool CopyOutRun::CleanupFinished()
{
    if (!m_cleanupDone.load())
        return false;
    if (m_cleanup.joinable())
        m_cleanup.join();
    return true;
}

void CopyOutRun::Join()
{
    if (m_workers.empty())
        return;
    for (std::thread& worker : m_workers)
        worker.join();
    m_workers.clear();
    for (const Lane& lane : m_lanes) {
        m_run.copiedSources.unite(lane.copied);
        m_run.copied += lane.copiedCount;
        m_run.missing += lane.missing;
        m_run.failed += lane.failed;
    }
}

}  // namespace snapmend
