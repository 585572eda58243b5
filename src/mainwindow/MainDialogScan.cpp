// The scan lifecycle: Start, the engine worker, cancel, close.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QTreeWidget>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "ChildProcess.h"
#include "CopyPlan.h"
#include "DriveRecord.h"
#include "EngineCommand.h"
#include "EngineInstallation.h"
#include "MainDialog.h"
#include "Paths.h"
#include "PlatformServices.h"
#include "RectEdges.h"
#include "ScanWorkspace.h"
#include "SettingsFiles.h"
#include "TimerIds.h"
#include "TimerService.h"
#include "UiServices.h"

namespace snapmend {
namespace {

const QString kCancelCaption = QStringLiteral("Cancel");
constexpr int kFirstPollDelayMs = 500;
// How long the engine may take to stop on SIGTERM before it is killed.
constexpr int kEngineStopGraceMs = 1500;
// The engine's exit codes: 1 its output failed (disk full), 2 it refused the
// device or the output folder.
constexpr int kEngineExitOutputFailed = 1;
constexpr int kEngineExitBadInput = 2;

}  // namespace

MainDialog::~MainDialog()
{
    TerminateEngine();
    WaitForWorker();
}

std::shared_ptr<ChildProcess> MainDialog::EngineProcess() const
{
    std::lock_guard lock(m_handleMutex);
    return m_hEngineProcess;
}

void MainDialog::OnStart()
{
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
    if (drive->imageRow) {
        const std::optional<QString> image = ChooseDiskImage();
        if (!image)
            return;
        m_strDeviceName = *image;
    } else {
        m_strDeviceName = drive->engineDevice;
    }
    if (const std::optional<QString> refusal = ScannedDiskRefusal(m_strDeviceName, m_edtOutputDir->text())) {
        m_platform.ui->MessageBox(this, *refusal, kMessageCaption, MB_OK);
        return;
    }
    if (!CreateScanWorkspace())
        return;
    m_scanDevice.emplace(m_strDeviceName);
    m_scanProgress.OpenChannel();
    // The flag is up before the worker exists, so the worker's clearing always comes later.
    m_bScanning = true;
    StartWorker();
    EnterScanView();
}

bool MainDialog::CreateScanWorkspace()
{
    const std::optional<ScanWorkspace> workspace =
        PrepareScanWorkspace(*m_platform.ui, this, WorkspaceBranchRandom(), GetAppDataFolder(), GetTempFolder(),
                             QDateTime::currentDateTime());
    if (!workspace)
        return false;
    m_strWorkspaceRoot = workspace->root;
    m_strEngineOutputDir = workspace->engineOutputDir;
    return true;
}

void MainDialog::DeleteWorkspace()
{
    if (PathExists(m_strWorkspaceRoot))
        DeleteFolderTree(m_strWorkspaceRoot, true);
}

QString MainDialog::LoadEnabledFormats() const
{
    return ReadSettingValue(ProgramFolder(m_platform), kFormatsFileName, kFormatsKey, kScanDefaultFormats);
}

bool MainDialog::StartWorker()
{
    m_workerDone = false;
    m_engineStopRequested = false;
    m_hWorkerThread = std::thread([this] { EngineWorker(); });
    return true;
}

// Runs on the worker thread.
bool MainDialog::LaunchEngine()
{
    QString enginePath;
    if (!CheckEngineInstalled(*m_platform.ui, this, EngineFolder(m_platform), enginePath)) {
        ResetScanState(false);
        return false;
    }
    const EngineCommand command = BuildEngineCommand(m_strEngineOutputDir, m_strDeviceName, LoadEnabledFormats());
    if (!command.anyEnabled) {
        m_platform.ui->MessageBox(this,
                                  QStringLiteral("No file formats enabled.\n\nPlease go to 'Settings' to enable the "
                                                 "type of file you wish to recover."),
                                  kMessageCaption, MB_OK);
        return false;
    }
    ChildProcess::Extras extras;
    if (m_scanProgress.EngineEnd() >= 0) {
        extras.inheritFd = m_scanProgress.EngineEnd();
        extras.environment = {QByteArray(kEngineProgressVariable) + '=' + QByteArray::number(extras.childFd)};
    }
    std::shared_ptr<ChildProcess> engine =
        ChildProcess::Start(enginePath, SplitParameters(command.parameters), extras);
    if (!engine)
        return false;
    bool cancelledMeanwhile;
    {
        std::lock_guard lock(m_handleMutex);
        cancelledMeanwhile = !m_bScanning;
        m_hEngineProcess = engine;
    }
    // A cancel that came while the engine was starting stops it at once.
    if (cancelledMeanwhile)
        engine->Terminate(kEngineStopGraceMs);
    return true;
}

// The worker thread: start the engine, wait for it, clear the scan state.
void MainDialog::EngineWorker()
{
    const bool launched = LaunchEngine();
    // The engine holds its own copy now: the pipe ends when the engine does.
    m_scanProgress.CloseEngineEnd();
    if (launched) {
        int exitCode = 0;
        if (std::shared_ptr<ChildProcess> engine = EngineProcess())
            exitCode = engine->Wait();
        ResetScanState(true);
        if (exitCode != 0 && !m_engineStopRequested)
            ReportEngineFailure(exitCode);
    } else {
        // Whatever made the launch fail, no scan runs: let the window drain to the ready view.
        ResetScanState(false);
        m_platform.ui->MessageBox(this,
                                  QStringLiteral("Failed to load engine, error code -1009. Installation may be "
                                                 "corrupted, please try to re-install Snapmend"),
                                  kMessageCaption, MB_OK);
    }
    m_workerDone = true;
    QMetaObject::invokeMethod(this, [this] { JoinWorker(); }, Qt::QueuedConnection);
}

// An engine that ends by itself with a failure would otherwise look like a
// scan that found nothing.
void MainDialog::ReportEngineFailure(int exitCode)
{
    QString text;
    switch (exitCode) {
    case kEngineExitOutputFailed:
        text = QStringLiteral("Failed to save the files detected. The disk that holds the scan data may be full.");
        break;
    case kEngineExitBadInput:
        text = QStringLiteral("Failed to analyze disk. The disk cannot be read, or the scan data would be written "
                              "to the disk being analyzed.");
        break;
    default:
        text = QStringLiteral("Failed to analyze disk, the engine stopped with code %1.").arg(exitCode);
        break;
    }
    m_platform.ui->MessageBox(this, text, kMessageCaption, MB_OK);
}

void MainDialog::ResetScanState(bool close)
{
    std::lock_guard lock(m_handleMutex);
    m_bScanning = false;
    if (close)
        m_hEngineProcess.reset();
}

void MainDialog::TerminateEngine()
{
    std::shared_ptr<ChildProcess> engine;
    {
        std::lock_guard lock(m_handleMutex);
        m_bScanning = false;
        m_engineStopRequested = true;
        engine = std::move(m_hEngineProcess);
    }
    if (!engine)
        return;
    // SIGTERM now; SIGKILL later if it is still there. The worker's wait returns either way.
    engine->Terminate(0);
    QTimer::singleShot(kEngineStopGraceMs, [engine] { engine->Kill(); });
}

void MainDialog::JoinWorker()
{
    if (m_workerDone && m_hWorkerThread.joinable())
        m_hWorkerThread.join();
}

void MainDialog::WaitForWorker()
{
    // The worker may be waiting for a message box that only this thread can
    // show; its end posts an event, so blocking for the next event cannot hang.
    while (m_hWorkerThread.joinable() && !m_workerDone)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    JoinWorker();
}

void MainDialog::EnterScanView()
{
    SetDrivePageVisible(false);

    const QRect drives = m_lstDrives->geometry();
    m_lblStatus->setText(m_scanProgress.CurrentStatusText());
    m_lblStatus->show();
    const QRect status = m_lblStatus->geometry();
    const QSize link = m_lnkSelectPhotos->size();

    m_lnkSelectPhotos->setGeometry(drives.x(), BottomEdge(status) + 3, link.width(), link.height());
    const int photosTop = BottomEdge(status) + link.height() + 5;
    const int photosHeight = static_cast<int>((BottomEdge(drives) - photosTop) * 0.75);
    m_lstPhotos->setGeometry(drives.x(), photosTop, drives.width(), photosHeight);
    m_lstPhotos->show();

    const QRect photos = m_lstPhotos->geometry();
    m_lnkSelectFiles->setGeometry(photos.x(), BottomEdge(photos) + 5, link.width(), link.height());
    const int filesTop = BottomEdge(photos) + link.height() + 8;
    const int filesBottom = m_btnStart->geometry().y() - 10;
    m_lstFiles->setGeometry(photos.x(), filesTop, photos.width(), filesBottom - filesTop);
    m_lstFiles->show();

    m_lnkSelectPhotos->hide();
    m_lnkSelectFiles->hide();
    ClearResults();

    m_btnRecover->setText(kCancelCaption);
    m_btnRecover->show();

    m_lblProgress->setGeometry(m_rcTipLine);
    m_lblProgress->SetText(
        QStringLiteral("<- Tips: click \"Cancel\" to stop analyzing and recover detected files."));
    m_lblProgress->show();

    m_timers->SetTimer(TIMER_POLL_WORKSPACE, kFirstPollDelayMs);
}

void MainDialog::OnScanDeviceGone()
{
    TerminateEngine();
    m_scanDevice.reset();
    m_platform.ui->MessageBox(this,
                              QStringLiteral("The disk being analyzed is no longer attached, so the scan has "
                                             "stopped. The files found so far are listed."),
                              kMessageCaption, MB_OK | MB_ICONWARNING);
}

void MainDialog::OnRecoverClicked()
{
    if (m_btnRecover->text() == kCancelCaption)
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
    TerminateEngine();
    m_timers->KillTimer(TIMER_HARVEST);
    EnterReadyState();
}

bool MainDialog::OnClose()
{
    if (m_bScanning) {
        const int answer = m_platform.ui->MessageBox(
            this, QStringLiteral("Snapmend is currently analyzing disk, are you sure you want to exist?"),
            kQuestionCaption, MB_YESNO | MB_ICONQUESTION);
        if (answer != IDYES)
            return false;
        TerminateEngine();
    }
    WaitForWorker();
    DeleteWorkspace();
    ClearResults();
    done(0);
    return true;
}

}  // namespace snapmend
