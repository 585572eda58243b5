// The drive page's list: filled at start-up and on Refresh.
#include "MainDialog.h"

#include <QApplication>
#include <QTreeWidget>

#include "DiskImage.h"
#include "DriveListView.h"
#include "DriveSource.h"
#include "MountPointIntent.h"
#include "PlatformServices.h"
#include "UiServices.h"
#include "ScanRun.h"

namespace snapmend {
namespace {

// Shows the wait cursor for as long as it lives.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

void MainDialog::InitDriveList()
{
    m_lstDrives->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lstDrives->setSelectionBehavior(QAbstractItemView::SelectRows);
    SetupDriveListColumns(m_lstDrives);
}

void MainDialog::RefreshDriveList()
{
    m_drives.clear();
    m_lstDrives->clear();
    if (m_platform.drives)
        m_drives = m_platform.drives->ListDrives();
    m_drives.push_back(DiskImageRow());
    FillDriveList(m_lstDrives, m_drives);
}

std::optional<QString> MainDialog::ChooseDiskImage()
{
    const std::optional<QString> image = m_platform.ui->BrowseForFile(
        this, QStringLiteral("Choose a disk image file"), QString(),
        QStringLiteral("Disk images (*.img *.dd *.raw *.bin *.iso *.dmg *.001);;All files (*)"));
    if (!image)
        return std::nullopt;
    const QString problem = DiskImageProblem(*image);
    if (!problem.isEmpty()) {
        m_platform.ui->MessageBox(this, problem, kMessageCaption, MB_OK);
        return std::nullopt;
    }
    return image;
}

void MainDialog::OnRefresh()
{
    WaitCursor wait;
    RefreshDriveList();
}

bool MainDialog::ConfirmOutputFolderDisk(const QString& folder)
{
    if (!m_platform.drives || folder == m_confirmedOutputFolder)
        return true;
    const std::optional<QString> mountPoint = UnmountedMountPointOf(folder, m_platform.drives->FileSystemTable());
    if (!mountPoint)
        return true;
    if (m_platform.ui->MessageBox(this, UnmountedMountPointQuestion(folder, *mountPoint), kQuestionCaption,
                                  MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    m_confirmedOutputFolder = folder;
    return true;
}

QString MainDialog::SelectedScanSource() const
{
    // On the results page the folder receives what the last scan read.
    if (m_view != WindowView::DrivePage)
        return m_scan->Device();
    const QList<QTreeWidgetItem*> selected = m_lstDrives->selectedItems();
    const DriveRecord* drive = selected.isEmpty() ? nullptr : FindDriveByName(m_drives, selected.first()->text(0));
    return drive ? drive->engineDevice : m_scan->Device();
}

}  // namespace snapmend
