#include "HarvestPass.h"

#include <QElapsedTimer>
#include <atomic>
#include <optional>

#include "FileProbe.h"
#include "FileSystem.h"
#include "ResultItem.h"
#include "ThreadPriority.h"
#include "Thumbnail.h"
#include "WorkspaceFile.h"
#include "WorkspaceWalk.h"

namespace snapmend {

// One workspace entry, shared between the pass and the worker examining it.
// The worker writes the result fields, then sets `done`; the pass reads them
// only after seeing `done`. A dropped job is simply never read.
struct HarvestPass::Job {
    enum class Outcome { Skip, File, Photo };
    QString path;
    bool photo = false;
    Outcome outcome = Outcome::Skip;
    quint64 size = 0;
    QImage thumbnail;
    std::atomic<bool> done{false};
};

// The listing of a pass, shared with the worker that walks the workspace.
struct HarvestPass::Walk {
    QString root;
    QStringList paths;
    std::atomic<bool> done{false};
};

namespace {

// Enough jobs ahead of the front to keep every core busy between two steps,
// few enough that the finished thumbnails waiting stay a few megabytes.
constexpr size_t kMaxJobsInFlight = 1024;
// After a listing this long the next goes to a worker. Kept low because the
// engine may add thousands of files between two passes: a short listing is
// followed by one many times longer, which the UI thread must not do itself.
constexpr qsizetype kListOnWorkerFrom = 500;

void Examine(HarvestPass::Job& job, const QString& fallbackIcon)
{
    using Outcome = HarvestPass::Job::Outcome;
    {
        // Gone, not a regular file, or the engine still writes it: not yet.
        const UniqueFd fd = OpenWorkspaceFile(job.path);
        if (!fd.valid() || !IsOpenFileWriteFinished(fd.get()))
            return;
        const std::optional<FileStatus> status = StatusOf(fd.get());
        job.size = status ? status->size : 0;
    }
    if (!job.photo) {
        job.outcome = Outcome::File;
        return;
    }
    std::optional<QImage> thumbnail = MakeThumbnail(job.path);
    if (!thumbnail) {
        // A photo that vanished meanwhile is not listed; an undecodable one,
        // or one too large to decode, shows the program's icon (a blank
        // square without it), still listed under its own path.
        if (!WorkspaceEntryExists(job.path))
            return;
        thumbnail = MakeThumbnail(fallbackIcon);
        if (!thumbnail)
            thumbnail = RenderThumbnail(DecodedPicture{});
    }
    job.thumbnail = std::move(*thumbnail);
    job.outcome = Outcome::Photo;
}

}  // namespace

HarvestPass::HarvestPass(QString fallbackIcon, QObject* parent)
    : QObject(parent), m_fallbackIcon(std::move(fallbackIcon))
{
    m_pool.setMaxThreadCount(QThread::idealThreadCount());
}

HarvestPass::~HarvestPass()
{
    m_pool.clear();
    m_pool.waitForDone();
}

bool HarvestPass::Begin(const QString& workspaceRoot, bool engineRunning, int photoRows)
{
    Cancel();
    m_photoRow = photoRows;
    m_engineRanAtBegin = engineRunning;
    if (workspaceRoot.isEmpty())
        return false;
    if (m_lastListed < kListOnWorkerFrom) {
        CollectWorkspaceFiles(workspaceRoot, m_paths);
        m_lastListed = m_paths.size();
        return !m_paths.isEmpty();
    }
    // Tens of thousands of entries take the UI thread tens of milliseconds to list.
    auto walk = std::make_shared<Walk>();
    walk->root = workspaceRoot;
    m_walk = walk;
    m_pool.start([walk] {
        LowerThisThreadPriority();
        CollectWorkspaceFiles(walk->root, walk->paths);
        walk->done.store(true, std::memory_order_release);
    });
    return true;
}

void HarvestPass::Cancel()
{
    m_pool.clear();  // jobs not started yet; running ones finish into their dropped Job or Walk
    m_walk.reset();
    m_jobs.clear();
    m_paths.clear();
    m_next = 0;
}

void HarvestPass::SubmitNext()
{
    const QString& path = m_paths.at(m_next);
    ++m_next;  // every entry is consumed once, submitted or skipped
    if (m_reported.Contains(path))
        return;
    auto job = std::make_shared<Job>();
    job->path = path;
    job->photo = IsPhotoPath(path);
    m_jobs.push_back(job);
    m_pool.start([job, fallback = m_fallbackIcon] {
        LowerThisThreadPriority();
        Examine(*job, fallback);
        job->done.store(true, std::memory_order_release);
    });
}

bool HarvestPass::Deliver(Job& job, std::vector<FoundPhoto>& photos, std::vector<FoundFile>& files)
{
    // A file removed after it was examined has no row to show.
    if (job.outcome == Job::Outcome::Skip || m_reported.Contains(job.path) || !WorkspaceEntryExists(job.path))
        return false;
    m_reported.Insert(job.path);
    if (job.outcome == Job::Outcome::File)
        files.push_back(FoundFile{job.path, job.size});
    else
        photos.push_back(FoundPhoto{job.path, std::move(job.thumbnail)});
    return true;
}

int HarvestPass::Step(std::chrono::milliseconds budget)
{
    if (m_walk) {
        if (!m_walk->done.load(std::memory_order_acquire))
            return 0;
        m_paths = std::move(m_walk->paths);
        m_lastListed = m_paths.size();
        m_walk.reset();
    }
    QElapsedTimer clock;
    clock.start();
    // The rows go to the lists together after the loop: one insertion per list and step.
    std::vector<FoundPhoto> photos;
    std::vector<FoundFile> files;
    int emitted = 0;
    const qint64 limit = budget.count();
    bool progress = true;
    while (progress && clock.elapsed() < limit) {
        progress = false;
        while (!m_jobs.empty() && m_jobs.front()->done.load(std::memory_order_acquire) && clock.elapsed() < limit) {
            const std::shared_ptr<Job> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            emitted += Deliver(*job, photos, files) ? 1 : 0;
            progress = true;
        }
        while (m_next < m_paths.size() && m_jobs.size() < kMaxJobsInFlight && clock.elapsed() < limit) {
            SubmitNext();
            progress = true;
        }
    }
    const int firstRow = m_photoRow;
    m_photoRow += static_cast<int>(photos.size());
    if (!photos.empty())
        emit photosFound(photos, firstRow);
    if (!files.empty())
        emit filesFound(files);
    return emitted;
}

}  // namespace snapmend
