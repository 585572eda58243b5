// Copy-out: the ticked results copied into the output folder by CopyOutRun's
// worker, the progress polled per tick, the final report and the two selection links.
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "CopyOutRun.h"
#include "CopyPlan.h"
#include "FileSystem.h"
#include "HarvestPass.h"
#include "MainDialog.h"
#include "Paths.h"
#include "PlatformServices.h"
#include "ResultViews.h"
#include "ScanRun.h"
#include "ScanWorkspace.h"
#include "TimerIds.h"
#include "TimerService.h"
#include "UiServices.h"

namespace snapmend {
namespace {

constexpr int kCopyTickMs = 200;
const QString kSelectAllPhotos = QStringLiteral("Select All Photos");
const QString kUnselectAllPhotos = QStringLiteral("Unselect All Photos");
const QString kSelectAllFiles = QStringLiteral("Select All Files");
const QString kUnselectAllFiles = QStringLiteral("Unselect All Files");

// Said when no program could show the output folder: where the files are, in full.
QString FolderNotOpenedText(const QString& folder)
{
    return QStringLiteral("No program could open the output folder. The recovered files are in:\n\n%1")
        .arg(QFileInfo(folder).absoluteFilePath());
}

// The sources of a recovery: the ticked photos in row order, then the ticked files.
std::vector<QString> CheckedSources(const PhotoResultModel& photos, const FileResultModel& files)
{
    std::vector<QString> sources = photos.CheckedPaths();
    for (QString& path : files.CheckedPaths())
        sources.push_back(std::move(path));
    return sources;
}

}  // namespace

void MainDialog::StartRecovery()
{
    // A harvest pass still pending after a cancel would step under the copy.
    m_timers->KillTimer(TIMER_POLL_WORKSPACE);
    m_timers->KillTimer(TIMER_HARVEST);
    m_harvest->Cancel();
    // The sources are fixed now: sorting the list during the copy must not change what is copied.
    std::vector<QString> sources = CheckedSources(m_lstPhotos->Model(), m_lstFiles->Model());
    if (sources.empty()) {
        m_platform.ui->MessageBox(this,
                                  QStringLiteral("No files selected.\n\nPlease select files that you want to recover."),
                                  QCoreApplication::applicationName(), MB_OK);
        return;
    }
    // Writing onto the scanned disk would overwrite what is still to be recovered.
    if (const std::optional<QString> refusal = ScannedDiskRefusal(m_scan->Device(), m_edtOutputDir->text())) {
        m_platform.ui->MessageBox(this, *refusal, kMessageCaption, MB_OK);
        return;
    }
    m_copy->Begin(std::move(sources));

    m_progress->setRange(0, m_copy->Total());
    m_progress->setValue(0);
    // Hiding the focused Recover button would pass the focus to the photo list,
    // which then draws a focus frame under its first thumbnail.
    setFocus();
    m_btnRecover->hide();
    m_progress->show();
    // The ready view may have used the label for what could not be read.
    m_lblProgress->setGeometry(m_rcProgressLine);
    m_lblProgress->SetText(QString());
    m_lblProgress->show();
    m_timers->SetTimer(TIMER_COPY_OUT, kCopyTickMs);
}

void MainDialog::OnCopyTick()
{
    if (m_copy->CleaningUp()) {
        if (m_copy->CleanupFinished()) {
            m_timers->KillTimer(TIMER_COPY_OUT);
            FinishRecovery();
        }
        return;
    }
    // The worker starts on the first tick, with the folder the edit names then.
    if (!m_copy->Started())
        m_copy->Start(m_edtOutputDir->text());
    const bool finished = m_copy->Finished();
    // However many files the worker copied since the last tick, the progress moves once.
    if (m_copy->Done() > 0) {
        m_lblProgress->SetText(RecoveringText(m_copy->Done(), m_copy->Total()));
        m_progress->setValue(m_copy->Done());
    }
    if (!finished)
        return;
    if (m_copy->NoOutputFolder()) {
        m_timers->KillTimer(TIMER_COPY_OUT);
        const QString folder = m_edtOutputDir->text();
        m_platform.ui->MessageBox(this, OutputDirectoryMessage(folder), kMessageCaption, MB_OK);
        ReturnToReadyView();
        return;
    }
    if (m_copy->Report().keepResults) {
        m_timers->KillTimer(TIMER_COPY_OUT);
        FinishRecovery();
        return;
    }
    // Everything selected is in the output folder (or had vanished): the workspace goes
    // before the report, deleted off the UI thread (20 000 files take seconds); the ticks go on.
    // The thread holds the workspace's handle: it may outlive the scan object when the window is destroyed.
    m_copy->StartCleanup([handle = m_scan->Workspace().handle] {
        if (handle)
            handle->Delete();
    });
}

void MainDialog::FinishRecovery()
{
    const FinalReport report = m_copy->Report();
    if (report.keepResults) {
        m_platform.ui->MessageBox(this, report.text, report.caption, MB_OK);
        ReturnToReadyView();
        return;
    }
    const int answer = m_platform.ui->MessageBox(this, report.text, report.caption, MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES && !m_platform.ui->OpenWithDefaultHandler(m_edtOutputDir->text()))
        m_platform.ui->MessageBox(this, FolderNotOpenedText(m_edtOutputDir->text()), kMessageCaption,
                                  MB_OK | MB_ICONINFORMATION);
    m_progress->setValue(0);
    for (QWidget* control : std::initializer_list<QWidget*>{m_progress, m_lblProgress, m_lblStatus, m_lstPhotos,
                                                           m_btnRecover, m_lnkSelectFiles, m_lnkSelectPhotos,
                                                           m_lstFiles})
        control->hide();
    ShowDrivePage();
}

void MainDialog::ReturnToReadyView()
{
    // What was copied is unticked, so that a retry copies only the rest.
    const auto copied = [this](const QString& source) { return m_copy->WasCopied(source); };
    m_lstPhotos->Model().UncheckWhere(copied);
    m_lstFiles->Model().UncheckWhere(copied);
    m_progress->setValue(0);
    m_progress->hide();
    EnterReadyState();
}

void MainDialog::OnPhotoLinkClicked()
{
    const bool selectAll = m_lnkSelectPhotos->text() == kSelectAllPhotos;
    m_lstPhotos->Model().SetAllChecked(selectAll);
    m_lnkSelectPhotos->SetText(selectAll ? kUnselectAllPhotos : kSelectAllPhotos);
}

void MainDialog::OnFileLinkClicked()
{
    const bool selectAll = m_lnkSelectFiles->text() == kSelectAllFiles;
    m_lstFiles->Model().SetAllChecked(selectAll);
    m_lnkSelectFiles->SetText(selectAll ? kUnselectAllFiles : kSelectAllFiles);
}

}  // namespace snapmend
