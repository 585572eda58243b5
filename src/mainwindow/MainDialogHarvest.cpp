// Harvesting: the workspace polls, the found files handed out per tick
// (HarvestPass, which decodes on its workers), the two result lists, the
// column sort and the ready-to-recover view.
#include <QComboBox>
#include <QHeaderView>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "HarvestPass.h"
#include "MainDialog.h"
#include "PlatformServices.h"
#include "ResultViews.h"
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
    if (!m_harvest->Begin(m_scan->Workspace().engineOutputDir, engineRunning, m_lstPhotos->Model().Count())) {
        if (engineRunning)
            m_timers->SetTimer(TIMER_POLL_WORKSPACE, kPassDelayMs);
        else
            EnterReadyState();
        return;
    }
    m_timers->SetTimer(TIMER_HARVEST, kHarvestTickMs);
}

void MainDialog::EndHarvestPass()
{
    m_timers->KillTimer(TIMER_HARVEST);
    if (m_harvest->EngineRanAtBegin())
        m_timers->SetTimer(TIMER_POLL_WORKSPACE, kPassDelayMs);
    else
        EnterReadyState();
}

void MainDialog::OnHarvestTick()
{
    if (m_harvest->AtEnd()) {
        EndHarvestPass();
        return;
    }
    m_lblStatus->setText(m_scan->NextStatusText());
    const int photosBefore = m_lstPhotos->Model().Count();
    const int filesBefore = m_lstFiles->Model().Count();
    m_harvest->Step();
    // One scroll per tick: scrolling per row would lay the list out again for every row.
    if (m_lstPhotos->Model().Count() != photosBefore)
        m_lstPhotos->scrollToBottom();
    if (m_lstFiles->Model().Count() != filesBefore)
        m_lstFiles->scrollToBottom();
    // The pass's last rows are in: the next pass or the ready view need not wait a tick for nothing.
    if (m_harvest->AtEnd())
        EndHarvestPass();
}

void MainDialog::AddThumbnails(const std::vector<FoundPhoto>& photos, int firstRow)
{
    m_lstPhotos->Model().InsertMany(firstRow, photos);
    if (m_lstPhotos->Model().Count() != firstRow + static_cast<int>(photos.size()))
        m_platform.ui->MessageBox(this, QStringLiteral("Photo items count error"), kMessageCaption, MB_OK);
}

void MainDialog::AddFileRows(const std::vector<FoundFile>& files)
{
    m_lstFiles->Model().AppendMany(files);
}

void MainDialog::ClearResults()
{
    m_lstPhotos->Model().Clear();
    m_lstFiles->Model().Clear();
    m_harvest->ForgetReported();
}

void MainDialog::EnterReadyState()
{
    if (ResultCount() == 0) {
        EndScanWithoutResults();
        return;
    }
    m_lblProgress->setText(QString());
    m_lblStatus->setText(QStringLiteral("Press 'Recover' to recover files detected."));
    m_lnkSelectPhotos->setText(QStringLiteral("Unselect All Photos"));
    m_lnkSelectFiles->setText(QStringLiteral("Unselect All Files"));
    m_lnkSelectPhotos->setEnabled(m_lstPhotos->Model().Count() > 0);
    m_lnkSelectFiles->setEnabled(m_lstFiles->Model().Count() > 0);
    UpdateCounts();  // a recovery may have marked rows
    // A pass still pending after a cancel ends here too: the drive page stays if the user went there.
    if (m_view != WindowView::DrivePage)
        SetView(WindowView::Results);
    ShowUnreadableNotice();
}

void MainDialog::OnHeaderClick(int column)
{
    // A header orders the list itself: the chosen order gives way to it.
    m_cmbSort->setCurrentIndex(0);
    m_lstFiles->Model().SortByColumn(column, m_bSortAscending);
    m_lstFiles->header()->setSortIndicatorShown(true);
    m_lstFiles->header()->setSortIndicator(column, m_bSortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
    m_bSortAscending = !m_bSortAscending;
}

}  // namespace snapmend
