#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <thread>
#include <vector>

#include "CopyPlan.h"

namespace snapmend {

// One recovery: the ticked results copied into the output folder on a worker
// thread, each under a name nothing in the folder has yet, owned by the
// person behind the program. No widgets: the window fixes the sources,
// starts the worker, polls the count on its timer and shows the progress
// and the final report once the worker has ended.
class CopyOutRun : public QObject {
    Q_OBJECT
public:
    enum class StepResult {
        Copied,         // the file is in the output folder
        Failed,         // the copy failed (a retry may succeed)
        Missing,        // the source is no longer in the workspace
        NoOutputFolder  // the output folder cannot be made; nothing was consumed
    };

    explicit CopyOutRun(QObject* parent = nullptr);
    // Stops the worker after the file it is copying.
    ~CopyOutRun() override;

    // Fixes the sources of a recovery, in order (a worker still running is stopped first).
    void Begin(std::vector<QString> sources);
    // Starts copying every source into `outputFolder` on the worker thread.
    void Start(const QString& outputFolder);
    bool Started() const { return m_worker.joinable() || m_finished.load(); }
    // True once the worker has ended; then it has been joined and the
    // counts, the report and WasCopied may be read.
    bool Finished();
    // Stops the worker after the file it is copying and waits for it.
    void Stop();
    bool AtEnd() const { return m_next.load() >= Total(); }
    // Items stepped over so far (any thread may ask), and in all.
    int Done() const { return m_next.load(); }
    int Total() const { return static_cast<int>(m_run.sources.size()); }
    // Whether the worker stopped because the output folder could not be made.
    bool NoOutputFolder() const { return m_noOutputFolder; }
    // Copies the next source into `outputFolder` (the worker's unit of work).
    StepResult Step(const QString& outputFolder);
    // Whether `source` was copied by this recovery.
    bool WasCopied(const QString& source) const { return m_run.copiedSources.contains(source); }
    FinalReport Report() const { return MakeFinalReport(m_run.copied, m_run.missing, m_run.failed); }

private:
    void Work(const QString& outputFolder);

    CopyRun m_run;  // written by the worker while it runs, read by others after the join
    std::atomic<int> m_next{0};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    bool m_noOutputFolder = false;
    std::thread m_worker;
};

}  // namespace snapmend
