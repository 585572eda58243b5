#include "CopyOutRun.h"

#include "Paths.h"
#include "SafeCopy.h"
#include "TargetNames.h"

namespace snapmend {

CopyOutRun::CopyOutRun(QObject* parent) : QObject(parent) {}

CopyOutRun::~CopyOutRun() { Stop(); }

void CopyOutRun::Begin(std::vector<QString> sources)
{
    Stop();
    m_run.Reset(std::move(sources));
    m_next = 0;
    m_stop = false;
    m_finished = false;
    m_noOutputFolder = false;
}

void CopyOutRun::Start(const QString& outputFolder)
{
    if (Started())
        return;
    m_worker = std::thread([this, outputFolder] { Work(outputFolder); });
}

void CopyOutRun::Work(const QString& outputFolder)
{
    while (!AtEnd() && !m_stop.load()) {
        if (Step(outputFolder) == StepResult::NoOutputFolder) {
            m_noOutputFolder = true;
            break;
        }
    }
    m_finished.store(true);
}

bool CopyOutRun::Finished()
{
    if (!m_finished.load())
        return false;
    if (m_worker.joinable())
        m_worker.join();
    return true;
}

void CopyOutRun::Stop()
{
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
}

CopyOutRun::StepResult CopyOutRun::Step(const QString& outputFolder)
{
    const int next = m_next.load();
    const QString source = m_run.sources[static_cast<size_t>(next)];
    if (!PathExists(source)) {
        ++m_run.missing;
        m_next = next + 1;
        return StepResult::Missing;
    }
    if (!EnsureOutputFolder(outputFolder, m_run.owner))
        return StepResult::NoOutputFolder;
    const bool ok = CopyToNewFile(source, outputFolder, SourceFileName(source), m_run.owner).ok;
    if (ok) {
        m_run.copiedSources.insert(source);
        ++m_run.copied;
    } else {
        ++m_run.failed;
    }
    // Counted once the file is complete, so that the progress never runs ahead of the disk.
    m_next = next + 1;
    return ok ? StepResult::Copied : StepResult::Failed;
}

}  // namespace snapmend
