// Copy-out: the ticked results copied into the output folder one per tick
// (CopyOutRun), the final report and the two selection links.
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTreeWidget>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "CopyOutRun.h"
#include "CopyPlan.h"
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

// The source of a row: a photo's workspace path, or the fullPath of a file row's ResultItem.
QString RowPath(const QListWidgetItem* row) { return row ? PhotoPathOfRow(row) : QString(); }
QString RowPath(const QTreeWidgetItem* row)
{
    const ResultItem* item = ResultItemOfRow(row);
    return item ? item->fullPath : QString();
}

void SetAllChecked(QListWidget& list, bool checked)
{
    for (int i = 0; i < list.count(); ++i)
        list.item(i)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void SetAllChecked(QTreeWidget& list, bool checked)
{
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        list.topLevelItem(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

// The sources of a recovery: the ticked photos in row order, then the ticked files.
std::vector<QString> CheckedSources(const QListWidget& photos, const QTreeWidget& files)
{
    std::vector<QString> sources;
    for (int i = 0; i < photos.count(); ++i)
        if (photos.item(i)->checkState() == Qt::Checked)
            sources.push_back(RowPath(photos.item(i)));
    for (int i = 0; i < files.topLevelItemCount(); ++i)
        if (files.topLevelItem(i)->checkState(0) == Qt::Checked)
            sources.push_back(RowPath(files.topLevelItem(i)));
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
    std::vector<QString> sources = CheckedSources(*m_lstPhotos, *m_lstFiles);
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
    m_lblProgress->show();
    m_timers->SetTimer(TIMER_COPY_OUT, kCopyTickMs);
}

void MainDialog::OnCopyTick()
{
    if (m_copy->AtEnd()) {
        m_timers->KillTimer(TIMER_COPY_OUT);
        FinishRecovery();
        return;
    }
    const QString folder = m_edtOutputDir->text();
    switch (m_copy->Step(folder)) {
    case CopyOutRun::StepResult::Missing:
        return;
    case CopyOutRun::StepResult::NoOutputFolder:
        m_platform.ui->MessageBox(this, OutputDirectoryMessage(folder), kMessageCaption, MB_OK);
        m_timers->KillTimer(TIMER_COPY_OUT);
        ReturnToReadyView();
        return;
    case CopyOutRun::StepResult::Copied:
    case CopyOutRun::StepResult::Failed:
        break;
    }
    m_lblProgress->SetText(RecoveringText(m_copy->Done(), m_copy->Total()));
    m_progress->setValue(m_copy->Done());
}

void MainDialog::FinishRecovery()
{
    const FinalReport report = m_copy->Report();
    if (report.keepResults) {
        m_platform.ui->MessageBox(this, report.text, report.caption, MB_OK);
        ReturnToReadyView();
        return;
    }
    // Everything selected is in the output folder (or had vanished): the workspace goes first.
    m_scan->DeleteWorkspace();
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
    for (int i = 0; i < m_lstPhotos->count(); ++i)
        if (m_copy->WasCopied(RowPath(m_lstPhotos->item(i))))
            m_lstPhotos->item(i)->setCheckState(Qt::Unchecked);
    for (int i = 0; i < m_lstFiles->topLevelItemCount(); ++i)
        if (m_copy->WasCopied(RowPath(m_lstFiles->topLevelItem(i))))
            m_lstFiles->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
    m_progress->setValue(0);
    m_progress->hide();
    EnterReadyState();
}

void MainDialog::OnPhotoLinkClicked()
{
    const bool selectAll = m_lnkSelectPhotos->text() == kSelectAllPhotos;
    SetAllChecked(*m_lstPhotos, selectAll);
    m_lnkSelectPhotos->SetText(selectAll ? kUnselectAllPhotos : kSelectAllPhotos);
}

void MainDialog::OnFileLinkClicked()
{
    const bool selectAll = m_lnkSelectFiles->text() == kSelectAllFiles;
    SetAllChecked(*m_lstFiles, selectAll);
    m_lnkSelectFiles->SetText(selectAll ? kUnselectAllFiles : kSelectAllFiles);
}

}  // namespace snapmend
