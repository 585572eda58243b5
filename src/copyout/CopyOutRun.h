#pragma once
#include <QObject>
#include <QString>
#include <vector>

#include "CopyPlan.h"

namespace snapmend {

// One recovery: the ticked results copied into the output folder one per
// step, each under a name nothing in the folder has yet, owned by the person
// behind the program. No
// widgets: the window fixes the sources, steps it on its timer and shows
// the progress and the final report.
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

    // Starts a recovery of `sources`, in order.
    void Begin(std::vector<QString> sources);
    bool AtEnd() const { return m_next >= Total(); }
    // Items stepped over so far, and in all.
    int Done() const { return m_next; }
    int Total() const { return static_cast<int>(m_run.sources.size()); }
    // Copies the next source into `outputFolder`.
    StepResult Step(const QString& outputFolder);
    // Whether `source` was copied by this recovery.
    bool WasCopied(const QString& source) const { return m_run.copiedSources.contains(source); }
    FinalReport Report() const { return MakeFinalReport(m_run.copied, m_run.missing, m_run.failed); }

private:
    CopyRun m_run;
    int m_next = 0;
};

}  // namespace snapmend
