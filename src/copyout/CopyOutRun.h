#pragma once
#include <QObject>
#include <QSet>
#include <QString>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "CopyPlan.h"

namespace snapmend {

// One recovery: the ticked results copied into the output folder by worker
// threads, each under a name nothing in its folder has yet and below the
// sub-folders it had in the workspace, written in the name of the person
// behind the program. Sources with the same file name go to the same
// worker, in plan order, so their numbered names follow the plan; the
// workers overlap one another's waits for the disk. Each worker copies in
// batches (CopyBatch): a file is named and counted once it and its name are
// on the disk, a batch at a time. No widgets: the window
// fixes the sources, starts the workers, polls the count on its timer and
// shows the progress and the final report once they have ended.
class CopyOutRun : public QObject {
    Q_OBJECT
public:
    explicit CopyOutRun(QObject* parent = nullptr);
    // Stops the workers (see Stop).
    ~CopyOutRun() override;

    // Fixes the sources of a recovery, in order (workers still running are
    // stopped first). A source's folders below `sourceRoot` are recreated
    // below the output folder; without a root every copy goes to its top.
    void Begin(std::vector<QString> sources, QString sourceRoot = {});
    // Starts copying every source into `outputFolder` on the workers.
    void Start(const QString& outputFolder);
    bool Started() const { return m_started; }
    // True once every worker has ended; then they have been joined and the
    // report and WasCopied may be read.
    bool Finished();
    // Stops the workers after the files they are copying and waits for them.
    // The copies of a batch not yet flushed are dropped: they leave nothing in
    // the output folder and count neither as copied nor as failed.
    void Stop();
    // Items done so far: copied, failed or missing (any thread may ask), and in all.
    int Done() const { return m_done.load(); }
    int Total() const { return static_cast<int>(m_run.sources.size()); }
    // Whether the workers stopped because the output folder could not be made.
    bool NoOutputFolder() const { return m_noOutputFolder.load(); }
    // Runs `cleanup` on a thread of its own once the copy has finished.
    void StartCleanup(std::function<void()> cleanup);
    bool CleaningUp() const { return m_cleaning; }
    // True once the cleanup has ended (and its thread has been joined).
    bool CleanupFinished();
    // Whether `source` was copied by this recovery.
    bool WasCopied(const QString& source) const { return m_run.copiedSources.contains(source); }
    FinalReport Report() const { return MakeFinalReport(m_run.copied, m_run.missing, m_run.failed); }

private:
    struct Lane {
        std::vector<int> items;  // indices into the sources, in plan order
        QSet<QString> copied;
        int copiedCount = 0;
        int missing = 0;
        int failed = 0;
    };
    void Work(Lane& lane, const QString& outputFolder);
    void Join();

    CopyRun m_run;  // the sources are fixed while workers run; the counts are filled in after the join
    std::vector<Lane> m_lanes;
    std::vector<std::thread> m_workers;
    std::atomic<int> m_done{0};
    std::atomic<int> m_running{0};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_noOutputFolder{false};
    bool m_started = false;
    bool m_cleaning = false;
    std::atomic<bool> m_cleanupDone{false};
    std::thread m_cleanup;
};

}  // namespace snapmend
