// The scan: Start, cancel and close; the engine and its worker live in ScanRun.
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QTreeWidget>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "CopyOutRun.h"
#include "CopyPlan.h"
#include "DriveSource.h"
#include "DriveRecord.h"
#include "EngineInstallation.h"
#include "FileSystem.h"
#include "HarvestPass.h"
#include "MainDialog.h"
#include "PlatformServices.h"
#include "ResultViews.h"
#include "SameDisk.h"
#include "ScanRun.h"
#include "ScanWorkspace.h"
#include "SettingsFiles.h"
#include "TimerIds.h"
#include "TimerService.h"
#include "UiServices.h"

namespace snapmend {
namespace {

constexpr int kFirstPollDelayMs = 500;

}  // namespace

// The scan run stops its engine and joins its worker as it is destroyed.
MainDialog::~MainDialog() = default;

void MainDialog::OnStart()
{
    // A stopped scan's worker may take a moment to end; a new one waits for it.
    if (m_scan->Running())
        return;
    const QList<QTreeWidgetItem*> selected = m_lstDrives->selectedItems();
    if (selected.isEmpty()) {
        m_platform.ui->MessageBox(this, QStringLiteral("Please select drive from where to recover photos."),
                                  kMessageCaption, MB_OK);
        return;
    }
    const DriveRecord* drive = FindDriveByName(m_drives, selected.first()->text(0));
    if (!drive) {
        m_platform.ui->MessageBox(this, QStringLiteral("Error. Failed to find the disk."), kMessageCaption, MB_OK);
        return;
    }
    if (!drive->imageRow && m_platform.drives && !m_platform.drives->StillAttached(*drive)) {
        m_platform.ui->MessageBox(this, kDriveGoneText, kMessageCaption, MB_OK | MB_ICONWARNING);
        OnRefresh();
        return;
    }
    QString device = drive->engineDevice;
    if (drive->imageRow) {
        const std::optional<QString> image = ChooseDiskImage();
        if (!image)
            return;
        device = *image;
    }
    if (const std::optional<QString> refusal = ScannedDiskRefusal(device, m_edtOutputDir->text())) {
        m_platform.ui->MessageBox(this, *refusal, kMessageCaption, MB_OK);
        return;
    }
    if (!ConfirmOutputFolderDisk(m_edtOutputDir->text()))
        return;
    if (ResultsAtStake() &&
        m_platform.ui->MessageBox(this,
                                  QStringLiteral("The files found have not all been recovered; a new scan discards "
                                                 "them. Start a new scan?"),
                                  kQuestionCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    DiscardResults();
    Notices notices;
    std::optional<ScanWorkspace> workspace = PrepareScanWorkspace(
        WorkspaceBranchRandom(), GetAppDataFolder(), GetTempFolder(), QDateTime::currentDateTime(), notices);
    ShowNotices(notices);
    if (!workspace)
        return;
    // The engine would refuse it anyway; said now, with what to do, no scan view is entered.
    if (const std::optional<QString> disk = FolderOnScannedDisk(device, workspace->root)) {
        const QString folder = QFileInfo(workspace->root).path();
        DeleteFolderTree(workspace->root, true);
        m_platform.ui->MessageBox(this, ScanDataOnScannedDiskText(folder, *disk), kMessageCaption, MB_OK);
        return;
    }
    m_scanStopped = false;
    m_emptyEndPending = false;
    m_scan->Start({std::move(*workspace), device,
                   ReadSettingValue(ProgramFolder(m_platform), kFormatsFileName, kFormatsKey, kDefaultFormats),
                   EngineFolder(m_platform)});
    EnterScanView();
}

void MainDialog::EnterScanView()
{
    ClearResults();
    m_resultsKept = true;
    m_lblStatus->setText(m_scan->CurrentStatusText());
    m_lblProgress->SetText(
        QStringLiteral("<- Tips: click \"Cancel\" to stop analyzing and recover detected files."));
    SetView(WindowView::Scanning);
    m_timers->SetTimer(TIMER_POLL_WORKSPACE, kFirstPollDelayMs);
}

void MainDialog::DiscardResults()
{
    m_timers->KillTimer(TIMER_POLL_WORKSPACE);
    m_timers->KillTimer(TIMER_HARVEST);
    m_harvest->Cancel();
    DeleteWorkspaceIfAllListed();
    ClearResults();
    m_resultsKept = false;
}

void MainDialog::OnBackToDrives() { SetView(WindowView::DrivePage); }

void MainDialog::OnBackToResults()
{
    if (m_resultsKept)
        SetView(WindowView::Results);
}

void MainDialog::OnScanDeviceGone()
{
    m_scanStopped = true;
    m_scan->Stop();
    m_platform.ui->MessageBox(this,
                              QStringLiteral("The disk being analyzed is no longer attached, so the scan has "
                                             "stopped. The files found so far are listed."),
                              kMessageCaption, MB_OK | MB_ICONWARNING);
}

void MainDialog::OnRecoverClicked()
{
    if (m_view == WindowView::Scanning)
        CancelScan();
    else
        StartRecovery();
}

void MainDialog::CancelScan()
{
    const int answer = m_platform.ui->MessageBox(
        this, QStringLiteral("Snapmend is currently analyzing disk, are you sure you want to cancel?"),
        kQuestionCaption, MB_YESNO | MB_ICONQUESTION);
    if (answer != IDYES)
        return;
    m_scanStopped = true;
    m_scan->Stop();
    m_timers->KillTimer(TIMER_POLL_WORKSPACE);
    m_timers->KillTimer(TIMER_HARVEST);
    m_harvest->Cancel();
    // One last pass lists what the engine carved before it stopped, then the ready view.
    StartHarvestPass(false);
}

bool MainDialog::OnClose()
{
    if (m_closing)
        return false;
    QString question;
    if (m_scan->Scanning())
        question = QStringLiteral("Snapmend is currently analyzing disk, are you sure you want to exit?");
    else if (ResultsAtStake())
        question = QStringLiteral("The files found have not been recovered yet; closing deletes them. Are you sure "
                                  "you want to exit?");
    if (!question.isEmpty() &&
        m_platform.ui->MessageBox(this, question, kQuestionCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    // Nothing may run while the window ends: no timer, no engine.
    for (int id : {TIMER_POLL_WORKSPACE, TIMER_HARVEST, TIMER_COPY_OUT, TIMER_STARTUP})
        m_timers->KillTimer(id);
    m_scan->Stop();
    if (m_scan->Running()) {
        // The window ends when the run reports that its worker has ended.
        m_closing = true;
        return false;
    }
    FinishClose();
    return true;
}

void MainDialog::OnScanEnded()
{
    ShowNotices(m_scan->EndNotices());
    if (m_closing) {
        FinishClose();
    } else if (m_emptyEndPending) {
        m_emptyEndPending = false;
        EndScanWithoutResults();
    }
}

int MainDialog::ResultCount() const { return m_lstPhotos->Model().Count() + m_lstFiles->Model().Count(); }

int MainDialog::UnrecoveredCount() const
{
    return ResultCount() - m_lstPhotos->Model().RecoveredCount() - m_lstFiles->Model().RecoveredCount();
}

bool MainDialog::ResultsAtStake() const
{
    if (!m_resultsKept)
        return false;
    const bool harvesting = m_timers->IsActive(TIMER_POLL_WORKSPACE) || m_timers->IsActive(TIMER_HARVEST);
    return harvesting || UnrecoveredCount() > 0;
}

void MainDialog::EndScanWithoutResults()
{
    // The run's own failure message comes first, and then no other.
    if (m_scan->Running()) {
        m_emptyEndPending = true;
        return;
    }
    m_timers->KillTimer(TIMER_POLL_WORKSPACE);
    m_timers->KillTimer(TIMER_HARVEST);
    if (!m_scan->EndedWithMessage()) {
        const QString text = m_scanStopped ? QStringLiteral("No files were found before the scan was stopped.")
                                           : QStringLiteral("No files were found on this disk.");
        m_platform.ui->MessageBox(this, text, kMessageCaption, MB_OK | MB_ICONINFORMATION);
    }
    m_scan->DeleteWorkspace();
    m_resultsKept = false;
    ShowDrivePage();
}

void MainDialog::FinishClose()
{
    m_copy->Stop();  // no copy may still read the workspace
    DeleteWorkspaceIfAllListed();
    ClearResults();
    m_resultsKept = false;
    done(0);
}

}  // namespace snapmend
