// Harvesting: the workspace polls, one found file per tick, the two result
// lists, the column sort and the ready-to-recover view.
#include <QFileInfo>
#include <QListWidget>
#include <QTreeWidget>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "DriveRecord.h"
#include "FileProbe.h"
#include "MainDialog.h"
#include "Paths.h"
#include "PlatformServices.h"
#include "ResultRows.h"
#include "SettingsFiles.h"
#include "Thumbnail.h"
#include "TimerIds.h"
#include "TimerService.h"
#include "UiServices.h"
#include "WorkspaceWalk.h"

namespace snapmend {
namespace {

constexpr int kPassDelayMs = 200;
constexpr int kHarvestTickMs = 200;

QString SizeText(quint64 size)
{
    return size == 0 ? QStringLiteral("unknown") : FormatSize(static_cast<qint64>(size));
}

}  // namespace

void MainDialog::OnRescanTimer()
{
    m_timers->KillTimer(TIMER_POLL_WORKSPACE);
    // A pulled card makes every read fail: the engine would retry each sector.
    if (m_bScanning && m_scanDevice && !m_scanDevice->StillThere())
        OnScanDeviceGone();
    const bool engineRunning = m_bScanning.load();
    if (engineRunning)
        m_lblStatus->setText(m_scanProgress.CurrentStatusText());
    StartHarvestPass(engineRunning);
}

void MainDialog::StartHarvestPass(bool engineRunning)
{
    m_discoveredPaths.clear();
    CollectWorkspaceFiles(m_strWorkspaceRoot, m_discoveredPaths);
    if (m_discoveredPaths.isEmpty()) {
        if (engineRunning)
            m_timers->SetTimer(TIMER_POLL_WORKSPACE, kPassDelayMs);
        else
            EnterReadyState();
        return;
    }
    index = 0;
    count = static_cast<int>(m_discoveredPaths.size());
    photoRow = m_thumbnails.GetImageCount();
    engineRunningAtPassStart = engineRunning;
    m_timers->SetTimer(TIMER_HARVEST, kHarvestTickMs);
}

void MainDialog::OnHarvestTick()
{
    if (index >= count) {
        m_timers->KillTimer(TIMER_HARVEST);
        if (engineRunningAtPassStart)
            m_timers->SetTimer(TIMER_POLL_WORKSPACE, kPassDelayMs);
        else
            EnterReadyState();
        return;
    }
    m_lblStatus->setText(m_scanProgress.NextStatusText());
    if (index >= m_discoveredPaths.size()) {
        index = count;
        return;
    }
    const QString path = m_discoveredPaths.at(index);
    ++index;  // every entry is consumed by exactly one tick, shown or skipped
    if (!PathExists(path) || IsAlreadyListed(path) || !IsFileWriteFinished(path))
        return;

    if (!IsPhotoPath(path)) {
        AddFileRow(path);
        return;
    }
    std::optional<QImage> thumbnail = MakeThumbnail(path);
    if (!thumbnail) {
        const QString icon = DataFolder(m_platform) + QStringLiteral("icon.png");
        if (!PathExists(icon))
            return;
        thumbnail = MakeThumbnail(icon);
        if (!thumbnail)
            return;
    }
    AddThumbnail(*thumbnail, path, photoRow);
    ++photoRow;
}

bool MainDialog::IsAlreadyListed(const QString& path)
{
    // The set mirrors the rows; rebuild it if someone emptied the lists.
    const qsizetype rows = m_lstPhotos->count() + m_lstFiles->topLevelItemCount();
    if (m_listedPaths.Size() != rows) {
        m_listedPaths.Clear();
        for (int i = 0; i < m_lstPhotos->count(); ++i)
            m_listedPaths.Insert(PhotoPathOfRow(m_lstPhotos->item(i)));
        for (int i = 0; i < m_lstFiles->topLevelItemCount(); ++i)
            if (const ResultItem* item = ResultItemOfRow(m_lstFiles->topLevelItem(i)))
                m_listedPaths.Insert(item->fullPath);
    }
    return m_listedPaths.Contains(path);
}

void MainDialog::AddThumbnail(const QImage& thumbnail, const QString& photoPath, int row)
{
    const int appended = m_thumbnails.Add(thumbnail);
    const int image = row >= 0 && row < m_thumbnails.GetImageCount() ? row : appended;
    auto* item = new QListWidgetItem(QIcon(QPixmap::fromImage(m_thumbnails.Image(image))), QString());
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    item->setData(Qt::UserRole, photoPath);
    m_lstPhotos->insertItem(row, item);
    m_listedPaths.Insert(photoPath);
    m_lstPhotos->scrollToItem(item);
    if (m_lstPhotos->count() != row + 1)
        m_platform.ui->MessageBox(this, QStringLiteral("Photo items count error"), kMessageCaption, MB_OK);
}

void MainDialog::AddFileRow(const QString& path)
{
    const QFileInfo info(path);
    const quint64 size = info.exists() ? static_cast<quint64>(info.size()) : 0;
    auto* row = new ResultRow(MakeResultItem(path, size));
    row->setText(0, row->Item().fileName);
    row->setText(1, SizeText(size));
    row->setText(2, row->Item().extension);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Checked);
    m_lstFiles->addTopLevelItem(row);
    m_listedPaths.Insert(path);
    m_lstFiles->scrollToItem(row);
}

void MainDialog::ClearResults()
{
    m_lstPhotos->clear();
    m_lstFiles->clear();
    m_thumbnails.RemoveAll();
    m_listedPaths.Clear();
}

void MainDialog::EnterReadyState()
{
    m_lblProgress->setText(QString());
    m_lblProgress->setGeometry(m_rcProgressLine);
    m_lblProgress->hide();

    m_lblStatus->setText(QStringLiteral("Press 'Recover' to recover files detected."));
    m_lblStatus->show();

    m_lnkSelectPhotos->setText(m_strUnselectAllPhotos);
    m_lnkSelectFiles->setText(m_strUnselectAllFiles);
    m_lnkSelectPhotos->show();
    m_lnkSelectFiles->show();
    m_lnkSelectPhotos->setEnabled(m_lstPhotos->count() > 0);
    m_lnkSelectFiles->setEnabled(m_lstFiles->topLevelItemCount() > 0);

    m_btnRecover->setText(QStringLiteral("Recover"));
    m_btnRecover->show();
}

void MainDialog::OnHeaderClick(int column)
{
    SortResultRows(*m_lstFiles, column, m_bSortAscending);
    m_bSortAscending = !m_bSortAscending;
}

}  // namespace snapmend
