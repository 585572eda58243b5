#include "CopyOutRun.h"

#include "Paths.h"
#include "SafeCopy.h"
#include "TargetNames.h"

namespace snapmend {

CopyOutRun::CopyOutRun(QObject* parent) : QObject(parent) {}

void CopyOutRun::Begin(std::vector<QString> sources)
{
    m_run.Reset(std::move(sources));
    m_next = 0;
}

CopyOutRun::StepResult CopyOutRun::Step(const QString& outputFolder)
{
    const QString source = m_run.sources[static_cast<size_t>(m_next)];
    if (!PathExists(source)) {
        ++m_run.missing;
        ++m_next;
        return StepResult::Missing;
    }
    if (!EnsureOutputFolder(outputFolder, m_run.owner))
        return StepResult::NoOutputFolder;
    ++m_next;
    if (!CopyToNewFile(source, outputFolder, SourceFileName(source), m_run.owner).ok) {
        ++m_run.failed;
        return StepResult::Failed;
    }
    m_run.copiedSources.insert(source);
    ++m_run.copied;
    return StepResult::Copied;
}

}  // namespace snapmend
