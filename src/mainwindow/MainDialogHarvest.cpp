// Harvesting: the workspace polls, one found file per tick (HarvestPass),
// the two result lists, the column sort and the ready-to-recover view.
#include <QHeaderView>
#include <QListWidget>
#include <QTreeWidget>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "HarvestPass.h"
#include "MainDialog.h"
#include "PlatformServices.h"
#include "ResultRows.h"
#include "ScanRun.h"
#include "TimerIds.h"
#include "TimerService.h"
#include "UiServices.h"

namespace snapmend {
namespace {

constexpr int kPassDelayMs = 200;
constexpr int kHarvestTickMs = 200;

}  // namespace

void MainDialog::OnRescanTimer()
{
    m_timers->KillTimer(TIMER_POLL_WORKSPACE);
    // A pulled card makes every read fail: the engine would retry each sector.
    if (m_scan->Scanning() && !m_scan->DeviceStillThere())
        OnScanDeviceGone();
    const bool engineRunning = m_scan->Scanning();
    if (engineRunning)
        m_lblStatus->setText(m_scan->CurrentStatusText());
    StartHarvestPass(engineRunning);
}

void MainDialog::StartHarvestPass(bool engineRunning)
{
    if (!m_harvest->Begin(m_scan->Workspace().root, engineRunning, m_thumbnails.GetImageCount())) {
        if (engineRunning)
            m_timers->SetTimer(TIMER_POLL_WORKSPACE, kPassDelayMs);
        else
            EnterReadyState();
        return;
    }
    m_timers->SetTimer(TIMER_HARVEST, kHarvestTickMs);
}

void MainDialog::OnHarvestTick()
{
    if (m_harvest->AtEnd()) {
        m_timers->KillTimer(TIMER_HARVEST);
        if (m_harvest->EngineRanAtBegin())
            m_timers->SetTimer(TIMER_POLL_WORKSPACE, kPassDelayMs);
        else
            EnterReadyState();
        return;
    }
    m_lblStatus->setText(m_scan->NextStatusText());
    m_harvest->Step();
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
    m_lstPhotos->scrollToItem(item);
    if (m_lstPhotos->count() != row + 1)
        m_platform.ui->MessageBox(this, QStringLiteral("Photo items count error"), kMessageCaption, MB_OK);
}

void MainDialog::AddFileRow(const QString& path, quint64 size)
{
    ResultRow* row = MakeFileRow(path, size);
    m_lstFiles->addTopLevelItem(row);
    m_lstFiles->scrollToItem(row);
}

void MainDialog::ClearResults()
{
    m_lstPhotos->clear();
    m_lstFiles->clear();
    m_thumbnails.RemoveAll();
    m_harvest->ForgetReported();
}

void MainDialog::EnterReadyState()
{
    if (ResultCount() == 0) {
        EndScanWithoutResults();
        return;
    }
    m_lblProgress->setText(QString());
    m_lblProgress->setGeometry(m_rcProgressLine);
    m_lblProgress->hide();

    m_lblStatus->setText(QStringLiteral("Press 'Recover' to recover files detected."));
    m_lblStatus->show();

    m_lnkSelectPhotos->setText(QStringLiteral("Unselect All Photos"));
    m_lnkSelectFiles->setText(QStringLiteral("Unselect All Files"));
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
    m_lstFiles->header()->setSortIndicatorShown(true);
    m_lstFiles->header()->setSortIndicator(column, m_bSortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
    m_bSortAscending = !m_bSortAscending;
}

}  // namespace snapmend
