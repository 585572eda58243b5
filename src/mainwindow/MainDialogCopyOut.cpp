// Copy-out: the ticked results copied into the output folder, one per tick,
// the final report and the two selection links.
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTreeWidget>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "CopyPlan.h"
#include "MainDialog.h"
#include "Paths.h"
#include "PlatformServices.h"
#include "ResultRows.h"
#include "SafeCopy.h"
#include "TimerIds.h"
#include "TimerService.h"
#include "UiServices.h"

namespace snapmend {
namespace {

constexpr int kCopyTickMs = 200;

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

}  // namespace

int MainDialog::CollectCheckedRows(const QListWidget& list, std::vector<int>& selection)
{
    selection.clear();
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i)->checkState() == Qt::Checked)
            selection.push_back(i);
    return static_cast<int>(selection.size());
}

int MainDialog::CollectCheckedRows(const QTreeWidget& list, std::vector<int>& selection)
{
    selection.clear();
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        if (list.topLevelItem(i)->checkState(0) == Qt::Checked)
            selection.push_back(i);
    return static_cast<int>(selection.size());
}

void MainDialog::StartRecovery()
{
    // A harvest pass still pending after a cancel would move the shared cursor under the copy.
    m_timers->KillTimer(TIMER_POLL_WORKSPACE);
    m_timers->KillTimer(TIMER_HARVEST);
    m_discoveredPaths.clear();
    const int photos = CollectCheckedRows(*m_lstPhotos, m_photoSelection);
    const int files = CollectCheckedRows(*m_lstFiles, m_fileSelection);
    index = 0;
    count = photos + files;
    if (count == 0) {
        m_platform.ui->MessageBox(this,
                                  QStringLiteral("No files selected.\n\nPlease select files that you want to recover."),
                                  QCoreApplication::applicationName(), MB_OK);
        return;
    }

    // The sources are fixed now: sorting the list during the copy must not change what is copied.
    std::vector<QString> sources;
    sources.reserve(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) {
        const std::optional<CopyItem> item = CopyItemAt(m_photoSelection, m_fileSelection, k);
        sources.push_back(item->photo ? RowPath(m_lstPhotos->item(item->row))
                                      : RowPath(m_lstFiles->topLevelItem(item->row)));
    }
    // Writing onto the scanned disk would overwrite what is still to be recovered.
    if (const std::optional<QString> refusal = ScannedDiskRefusal(m_strDeviceName, m_edtOutputDir->text())) {
        m_platform.ui->MessageBox(this, *refusal, kMessageCaption, MB_OK);
        return;
    }
    m_copyRun.Reset(std::move(sources));

    m_progress->setRange(0, count);
    m_progress->setValue(0);
    m_btnRecover->hide();
    m_progress->show();
    m_lblProgress->show();
    m_timers->SetTimer(TIMER_COPY_OUT, kCopyTickMs);
}

void MainDialog::OnCopyTick()
{
    if (index >= count) {
        m_timers->KillTimer(TIMER_COPY_OUT);
        FinishRecovery();
        return;
    }
    if (index >= static_cast<int>(m_photoSelection.size() + m_fileSelection.size()) ||
        index >= static_cast<int>(m_copyRun.sources.size())) {
        m_platform.ui->MessageBox(this, QStringLiteral("Internal error, photo index goes out of boundry."), kMessageCaption,
                                  MB_OK);
        return;
    }
    const QString source = m_copyRun.sources[static_cast<size_t>(index)];
    if (!PathExists(source)) {
        ++m_copyRun.missing;
        ++index;
        return;
    }
    const QString folder = m_edtOutputDir->text();
    if (!EnsureOutputFolder(folder, m_copyRun.owner)) {
        m_platform.ui->MessageBox(this, OutputDirectoryMessage(folder), kMessageCaption, MB_OK);
        m_timers->KillTimer(TIMER_COPY_OUT);
        ReturnToReadyView();
        return;
    }
    if (CopyToNewFile(source, folder, SourceFileName(source), m_copyRun.owner).ok) {
        m_copyRun.copiedSources.insert(source);
        ++m_copyRun.copied;
    } else {
        ++m_copyRun.failed;
    }
    ++index;
    m_lblProgress->SetText(RecoveringText(index, count));
    m_progress->setValue(index);
}

void MainDialog::FinishRecovery()
{
    const FinalReport report = MakeFinalReport(m_copyRun.copied, m_copyRun.missing, m_copyRun.failed);
    if (report.keepResults) {
        m_platform.ui->MessageBox(this, report.text, report.caption, MB_OK);
        ReturnToReadyView();
        return;
    }
    // Everything selected is in the output folder (or had vanished): the workspace goes first.
    DeleteWorkspace();
    const int answer = m_platform.ui->MessageBox(this, report.text, report.caption, MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES)
        m_platform.ui->OpenWithDefaultHandler(m_edtOutputDir->text());
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
        if (m_copyRun.copiedSources.contains(RowPath(m_lstPhotos->item(i))))
            m_lstPhotos->item(i)->setCheckState(Qt::Unchecked);
    for (int i = 0; i < m_lstFiles->topLevelItemCount(); ++i)
        if (m_copyRun.copiedSources.contains(RowPath(m_lstFiles->topLevelItem(i))))
            m_lstFiles->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
    m_progress->setValue(0);
    m_progress->hide();
    EnterReadyState();
}

void MainDialog::OnPhotoLinkClicked()
{
    const bool selectAll = m_lnkSelectPhotos->text() == m_strSelectAllPhotos;
    SetAllChecked(*m_lstPhotos, selectAll);
    m_lnkSelectPhotos->SetText(selectAll ? m_strUnselectAllPhotos : m_strSelectAllPhotos);
}

void MainDialog::OnFileLinkClicked()
{
    const bool selectAll = m_lnkSelectFiles->text() == m_strSelectAllFiles;
    SetAllChecked(*m_lstFiles, selectAll);
    m_lnkSelectFiles->SetText(selectAll ? m_strUnselectAllFiles : m_strSelectAllFiles);
}

}  // namespace snapmend
