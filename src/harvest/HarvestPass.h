#pragma once
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <chrono>
#include <deque>
#include <memory>

#include "ListedPaths.h"
#include "ResultItem.h"

namespace snapmend {

// One look at the scan workspace and the files found there: a finished photo
// becomes a thumbnail, any other finished file a result, and a file is never
// reported twice. The workspace is walked, the files examined and the photos
// decoded on a pool of worker threads (one per core); Step, on the caller's
// thread, hands out what is done, in the order the walk listed it. No
// widgets: the window adds the rows it hears about.
class HarvestPass : public QObject {
    Q_OBJECT
public:
    // The share of the UI thread one step may take.
    static constexpr std::chrono::milliseconds kStepBudget{30};

    // `fallbackIcon`: the picture shown for a photo that cannot be decoded.
    explicit HarvestPass(QString fallbackIcon, QObject* parent = nullptr);
    // Drops the jobs not started and waits for the running ones.
    ~HarvestPass() override;

    // Lists the files below `workspaceRoot`; false when there are none. When
    // the last listing was long, this one runs on a worker (then true unless
    // there is no workspace; a pass that lists nothing ends at its first step).
    // `photoRows` is the number of thumbnails already shown: the next photo's
    // row. Whatever a previous pass still had in flight is dropped.
    bool Begin(const QString& workspaceRoot, bool engineRunning, int photoRows);
    // True once the listing is done and every entry of the pass has been handed out or skipped.
    bool AtEnd() const { return !m_walk && m_next >= m_paths.size() && m_jobs.empty(); }
    // Within `budget`: hands the workers more entries and emits photosFound
    // and filesFound once each for the finished ones, in walk order; never
    // waits for a worker. Skips files that are gone, already reported, or
    // still being written. Returns the number of results emitted.
    int Step(std::chrono::milliseconds budget = kStepBudget);
    // Drops the entries of the pass still to come; a worker still decoding
    // one finishes into nothing.
    void Cancel();
    // Whether the engine was still running when the pass began (then another follows).
    bool EngineRanAtBegin() const { return m_engineRanAtBegin; }
    // Forgets what was reported, with the rows that showed it.
    void ForgetReported() { m_reported.Clear(); }
    // Waits until no worker is busy (for tests and benchmarks).
    void WaitForWorkers() { m_pool.waitForDone(); }

signals:
    // The photos take the rows from `firstRow` on.
    void photosFound(const std::vector<FoundPhoto>& photos, int firstRow);
    void filesFound(const std::vector<FoundFile>& files);

public:
    struct Job;
    struct Walk;

private:
    void SubmitNext();
    // Adds the job's result to the step's lists; false when there is nothing to show.
    bool Deliver(Job& job, std::vector<FoundPhoto>& photos, std::vector<FoundFile>& files);

    QString m_fallbackIcon;
    std::shared_ptr<Walk> m_walk;  // the listing under way, until a step takes its result
    QStringList m_paths;
    qsizetype m_lastListed = 0;  // entries of the last listing: decides where the next one runs
    qsizetype m_next = 0;
    int m_photoRow = 0;
    bool m_engineRanAtBegin = false;
    ListedPaths m_reported;
    // Submitted entries in walk order; the front is handed out first.
    std::deque<std::shared_ptr<Job>> m_jobs;
    QThreadPool m_pool;
};

}  // namespace snapmend
