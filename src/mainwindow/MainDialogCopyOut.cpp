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
#include "Ownership.h"
#include "Paths.h"
#include "PlatformServices.h"
#include "ResultViews.h"
#include "ScanRun.h"
#include "ScanWorkspace.h"
#include "TimerIds.h"
#include "TimerService.h"
#include "UiServices.h"
#include "WorkspaceWalk.h"

namespace snapmend {
namespace {

// The workspace files that have no row in either list.
QStringList UnlistedResults(const QString& root, const PhotoResultModel& photos, const FileResultModel& files)
{
    QSet<QString> listed;
    for (int row = 0; row < photos.Count(); ++row)
        listed.insert(photos.PathAt(row));
    for (int row = 0; row < files.Count(); ++row)
        listed.insert(files.ItemAt(row).fullPath);
    return UnlistedWorkspaceFiles(root, listed);
}

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
    // The person behind pkexec/sudo is told before the copy, not by a copy that fails file by file.
    if (const std::optional<QString> refusal = OutputFolderRefusal(m_edtOutputDir->text(), InvokingPerson())) {
        m_platform.ui->MessageBox(this, *refusal, kMessageCaption, MB_OK);
        return;
    }
    if (!ConfirmOutputFolderDisk(m_edtOutputDir->text()))
        return;
    m_copy->Begin(std::move(sources), m_scan->Workspace().engineOutputDir);

    m_progress->setRange(0, m_copy->Total());
    m_progress->setValue(0);
    // Hiding the focused Recover button would pass the focus to the photo list,
    // which then draws a focus frame under its first thumbnail.
    setFocus();
    SetView(WindowView::Copying);
    // The ready view may have used the label for what could not be read.
    m_lblProgress->SetText(QString());
    m_timers->SetTimer(TIMER_COPY_OUT, kCopyTickMs);
}

void MainDialog::OnCopyTick()
{
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
    // The results and their workspace stay for more recoveries: only a new scan or closing drops them.
    m_timers->KillTimer(TIMER_COPY_OUT);
    FinishRecovery();
}

// The number of partial files among those this recovery copied.
int MainDialog::PartialFilesCopied() const
{
    int partial = 0;
    const PhotoResultModel& photos = m_lstPhotos->Model();
    for (int row = 0; row < photos.Count(); ++row)
        partial += !photos.IsRecovered(row) && m_copy->WasCopied(photos.PathAt(row)) && IsPartialName(photos.PathAt(row));
    const FileResultModel& files = m_lstFiles->Model();
    for (int row = 0; row < files.Count(); ++row) {
        const QString& path = files.ItemAt(row).fullPath;
        partial += !files.IsRecovered(row) && m_copy->WasCopied(path) && IsPartialName(path);
    }
    return partial;
}

// Files the lists never showed would be lost unseen with the workspace: then it stays
// (the final report said where).
void MainDialog::DeleteWorkspaceIfAllListed()
{
    if (UnlistedResults(m_scan->Workspace().root, m_lstPhotos->Model(), m_lstFiles->Model()).isEmpty())
        m_scan->DeleteWorkspace();
}

void MainDialog::FinishRecovery()
{
    FinalReport report = m_copy->Report();
    // Nothing is left unlisted once the workspace is deleted.
    const ScanWorkspace& workspace = m_scan->Workspace();
    report.text = WithUnlistedFilesKept(
        report.text, UnlistedResults(workspace.root, m_lstPhotos->Model(), m_lstFiles->Model()).size(),
        workspace.location.isEmpty() ? workspace.root : workspace.location);
    // The count of recovered files never hides that some of them are partial.
    if (const int partial = PartialFilesCopied()) {
        const qsizetype lineEnd = report.text.indexOf(QLatin1Char('\n'));
        const QString line = QStringLiteral("%1 of them partial: only part of each could be found.").arg(partial);
        report.text = lineEnd < 0 ? report.text + QLatin1Char('\n') + line
                                  : report.text.left(lineEnd + 1) + line + report.text.mid(lineEnd);
    }
    if (report.keepResults) {
        m_platform.ui->MessageBox(this, report.text, report.caption, MB_OK);
        ReturnToReadyView();
        return;
    }
    const int answer = m_platform.ui->MessageBox(this, report.text, report.caption, MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES && !m_platform.ui->OpenWithDefaultHandler(m_edtOutputDir->text()))
        m_platform.ui->MessageBox(this, FolderNotOpenedText(m_edtOutputDir->text()), kMessageCaption,
                                  MB_OK | MB_ICONINFORMATION);
    ReturnToReadyView();
}

void MainDialog::ReturnToReadyView()
{
    // What was copied is marked and unticked, so that the next recovery copies only the rest.
    const auto copied = [this](const QString& source) { return m_copy->WasCopied(source); };
    m_lstPhotos->Model().MarkRecoveredWhere(copied);
    m_lstFiles->Model().MarkRecoveredWhere(copied);
    m_progress->setValue(0);
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
