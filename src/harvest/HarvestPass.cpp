#include "HarvestPass.h"

#include <QFileInfo>
#include <optional>

#include "FileProbe.h"
#include "Paths.h"
#include "ResultItem.h"
#include "Thumbnail.h"
#include "WorkspaceWalk.h"

namespace snapmend {

HarvestPass::HarvestPass(QString fallbackIcon, QObject* parent)
    : QObject(parent), m_fallbackIcon(std::move(fallbackIcon))
{
}

bool HarvestPass::Begin(const QString& workspaceRoot, bool engineRunning, int photoRows)
{
    m_paths.clear();
    m_next = 0;
    CollectWorkspaceFiles(workspaceRoot, m_paths);
    m_photoRow = photoRows;
    m_engineRanAtBegin = engineRunning;
    return !m_paths.isEmpty();
}

void HarvestPass::Cancel()
{
    m_paths.clear();
    m_next = 0;
}

void HarvestPass::Step()
{
    if (AtEnd())
        return;
    const QString path = m_paths.at(m_next);
    ++m_next;  // every entry is consumed by exactly one step, reported or skipped
    if (!PathExists(path) || m_reported.Contains(path) || !IsFileWriteFinished(path))
        return;

    if (!IsPhotoPath(path)) {
        const QFileInfo info(path);
        m_reported.Insert(path);
        emit fileFound(path, info.exists() ? static_cast<quint64>(info.size()) : 0);
        return;
    }
    std::optional<QImage> thumbnail = MakeThumbnail(path);
    if (!thumbnail) {
        // An undecodable photo shows the program's icon, still listed under its own path.
        if (!PathExists(m_fallbackIcon))
            return;
        thumbnail = MakeThumbnail(m_fallbackIcon);
        if (!thumbnail)
            return;
    }
    m_reported.Insert(path);
    emit photoFound(*thumbnail, path, m_photoRow);
    ++m_photoRow;
}

}  // namespace snapmend
