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
#include "RectEdges.h"
#include "Ownership.h"
#include "ResultViews.h"
#include "SafeCopy.h"
#include "Paths.h"
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
    // During a copy to an image file, Start reads "Stop".
    if (m_imageCopy->Running()) {
        StopImageCopy();
        return;
    }
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
    StartScanOf(device);
}

void MainDialog::StartScanOf(const QString& device)
{
    const QString outputFolder = m_edtOutputDir->text();
    if (const std::optional<QString> disk = FolderOnScannedDisk(device, outputFolder)) {
        const QString dataFolder = JoinPath(outputFolder, kScanAreaName);
        m_platform.ui->MessageBox(this, OutputAndScanDataOnScannedDiskText(outputFolder, dataFolder, *disk),
                                  kMessageCaption, MB_OK);
        return;
    }
    if (!ConfirmOutputFolderDisk(outputFolder))
        return;
    if (ResultsAtStake() &&
        m_platform.ui->MessageBox(this,
                                  QStringLiteral("The files found have not all been recovered; a new scan discards "
                                                 "them. Start a new scan?"),
                                  kQuestionCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    DiscardResults();
    std::optional<ScanWorkspace> workspace;
    QString resumeSelection;
    if (!ChooseScanWorkspace(device, outputFolder, workspace, resumeSelection))
        return;
    const bool resume = !resumeSelection.isEmpty();
    m_scanStopped = false;
    m_emptyEndPending = false;
    m_keepWorkspaceOnClose = false;
    ScanRun::Request request;
    request.workspace = std::move(*workspace);
    request.device = device;
    request.enabledFormats = ReadSettingValue(ProgramFolder(m_platform), kFormatsFileName, kFormatsKey, kDefaultFormats);
    request.engineFolder = EngineFolder(m_platform);
    request.resume = resume;
    request.resumeSelection = resumeSelection;
    m_scan->Start(std::move(request));
    EnterScanView();
    // What the unfinished scan found is listed at once.
    if (resume)
        m_timers->SetTimer(TIMER_POLL_WORKSPACE, 0);
}

bool MainDialog::ChooseScanWorkspace(const QString& device, const QString& outputFolder,
                                     std::optional<ScanWorkspace>& workspace, QString& resumeSelection)
{
    // The output folder is made as the recovery would make it, for the person it is for.
    EnsureOutputFolder(outputFolder, InvokingPerson());
    ScanAreaProblem problem = ScanAreaProblem::None;
    const std::optional<ScanArea> area = OpenScanArea(outputFolder, &problem);
    if (!area) {
        m_platform.ui->MessageBox(this, ScanAreaProblemText(problem, outputFolder), kMessageCaption, MB_OK);
        return false;
    }
    // The engine would refuse it anyway; said now, with what to do, no scan view is entered.
    if (const std::optional<QString> disk = FolderOnScannedDisk(device, area->reach)) {
        m_platform.ui->MessageBox(this, ScanDataOnScannedDiskText(area->location, *disk), kMessageCaption, MB_OK);
        return false;
    }
    RemoveFinishedScans(*area);
    if (const std::optional<UnfinishedScan> unfinished = FindUnfinishedScan(*area, DeviceIdentity(device))) {
        const int answer = m_platform.ui->MessageBox(this, ContinueScanQuestion(unfinished->checkpoint.position),
                                                     kQuestionCaption, MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDYES) {
            workspace = OpenScanWorkspace(*area, unfinished->name);
            if (workspace)
                resumeSelection = unfinished->checkpoint.selection;
        } else if (answer == IDNO) {
            DeleteFolderTreeAt(area->fd.get(), unfinished->name);
        } else {
            return false;
        }
    }
    if (!workspace)
        workspace = CreateScanWorkspace(*area, QDateTime::currentDateTime());
    if (!workspace) {
        m_platform.ui->MessageBox(this, QStringLiteral("Failed to initialize data"), kMessageCaption, MB_OK);
        return false;
    }
    return true;
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
    else if (m_imageCopy->Scanning())
        question = QStringLiteral("Snapmend is copying the disk to an image file, are you sure you want to exit?");
    else if (ResultsAtStake())
        question = QStringLiteral("The files found have not been recovered yet; closing deletes them. Are you sure "
                                  "you want to exit?");
    if (!question.isEmpty() &&
        m_platform.ui->MessageBox(this, question, kQuestionCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    // A scan stopped by the close can be continued by the next start.
    m_keepWorkspaceOnClose = m_scan->Scanning();
    // Nothing may run while the window ends: no timer, no engine.
    for (int id : {TIMER_POLL_WORKSPACE, TIMER_HARVEST, TIMER_COPY_OUT, TIMER_STARTUP, TIMER_IMAGE_COPY})
        m_timers->KillTimer(id);
    m_scan->Stop();
    m_imageCopy->Stop();
    if (m_scan->Running() || m_imageCopy->Running()) {
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
    if (!m_closing && m_scan->MetUnreadableAreas())
        m_platform.ui->MessageBox(this, UnreadableScanEndText(m_scan->UnreadableBytes()), kMessageCaption,
                                  MB_OK | MB_ICONWARNING);
    if (m_closing) {
        if (!m_imageCopy->Running())
            FinishClose();
    } else if (m_emptyEndPending) {
        m_emptyEndPending = false;
        EndScanWithoutResults();
    }
}

void MainDialog::ShowUnreadableNotice()
{
    if (!m_scan->MetUnreadableAreas())
        return;
    // The results page has Back and the output folder right of Recover: the
    // status line tells it, after its advice.
    m_lblStatus->setText(m_lblStatus->text() + QLatin1Char(' ') + UnreadableAreasText(m_scan->UnreadableBytes()));
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
    // A disk pulled out mid-scan can be attached again and its scan continued.
    if (m_scan->DeviceStillThere() || !m_scan->Continuable())
        m_scan->DeleteWorkspace();
    m_resultsKept = false;
    ShowDrivePage();
}

void MainDialog::FinishClose()
{
    m_copy->Stop();  // no copy may still read the workspace
    // A scan stopped by the close can be continued by the next start.
    if (!(m_keepWorkspaceOnClose && m_scan->Continuable()))
        DeleteWorkspaceIfAllListed();
    ClearResults();
    m_resultsKept = false;
    done(0);
}

}  // namespace snapmend
