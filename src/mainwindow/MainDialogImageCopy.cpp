// Copying a disk to an image file before scanning it: the drive rows' context
// menu, the engine's copy on its own run, its progress and its end.
#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "CopyPlan.h"
#include "DriveRecord.h"
#include "EngineInstallation.h"
#include "FileSystem.h"
#include "ImageCopy.h"
#include "MainDialog.h"
#include "Paths.h"
#include "PlatformServices.h"
#include "SameDisk.h"
#include "ScanRun.h"
#include "ScanWorkspace.h"
#include "SettingsFiles.h"
#include "TimerIds.h"
#include "TimerService.h"
#include "UiServices.h"

namespace snapmend {
namespace {

const QString kStartCaption = QStringLiteral("Start");
const QString kStopCaption = QStringLiteral("Stop");
constexpr int kCopyStatusMs = 500;

}  // namespace

void MainDialog::InitImageCopy()
{
    m_imageCopy = new ScanRun(this);
    connect(m_imageCopy, &ScanRun::ended, this, &MainDialog::OnImageCopyEnded);
    m_lstDrives->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_lstDrives, &QWidget::customContextMenuRequested, this, &MainDialog::OnDriveContextMenu);
}

void MainDialog::OnDriveContextMenu(const QPoint& position)
{
    const QTreeWidgetItem* row = m_lstDrives->itemAt(position);
    const DriveRecord* drive = row ? FindDriveByName(m_drives, row->text(0)) : nullptr;
    if (!drive || drive->imageRow || m_imageCopy->Running())
        return;
    QMenu menu(this);
    const QAction* copy = menu.addAction(kCopyToImageText);
    if (menu.exec(m_lstDrives->viewport()->mapToGlobal(position)) == copy)
        CopyDiskToImage(drive->engineDevice);
}

void MainDialog::CopyDiskToImage(const QString& device)
{
    const std::optional<QString> picked = m_platform.ui->BrowseForFolder(
        this, QStringLiteral("Choose a folder on another disk for the image file"), m_edtOutputDir->text());
    if (!picked || picked->isEmpty())
        return;
    const QString folder = NormalizePickedFolder(*picked);
    if (const std::optional<QString> disk = FolderOnScannedDisk(device, folder)) {
        m_platform.ui->MessageBox(this, ImageOnCopiedDiskText(folder, *disk), kMessageCaption, MB_OK);
        return;
    }
    const ImageCopyNames names = ImageCopyNamesFor(device, DeviceIdentity(device));
    if (const std::optional<QString> problem = ImageCopyTargetProblem(folder, names)) {
        m_platform.ui->MessageBox(this, *problem, kMessageCaption, MB_OK);
        return;
    }
    // The engine reaches the files through the folder held now: renaming it meanwhile redirects nothing.
    auto held = std::make_shared<UniqueFd>(OpenFolder(folder, LastLink::Follow));
    if (!held->valid()) {
        m_platform.ui->MessageBox(this, OutputDirectoryMessage(folder), kMessageCaption, MB_OK);
        return;
    }
    ScanRun::Request request;
    request.device = device;
    request.engineFolder = EngineFolder(m_platform);
    request.imageFile = JoinPath(DescriptorPath(held->get()), names.image);
    request.mapFile = JoinPath(DescriptorPath(held->get()), names.map);
    request.imageFolder = std::move(held);
    m_imageCopyTarget = JoinPath(folder, names.image);
    m_imageCopy->Start(std::move(request));
    ShowImageCopyProgress(true);
    m_timers->SetTimer(TIMER_IMAGE_COPY, kCopyStatusMs);
}

void MainDialog::ShowImageCopyProgress(bool copying)
{
    for (QWidget* control : std::initializer_list<QWidget*>{m_btnRefresh, m_btnBrowse, m_lstDrives, m_edtOutputDir})
        control->setEnabled(!copying);
    m_btnStart->setText(copying ? kStopCaption : kStartCaption);
    // Right of Stop, as a scan's tip stands right of Cancel; the share done is in the text.
    m_lblProgress->setGeometry(m_rcTipLine);
    m_lblProgress->SetText(copying ? ImageCopyStatusText(m_imageCopy->CurrentStatusText()) : QString());
    m_lblProgress->setVisible(copying);
}

bool MainDialog::ImageCopyRunning() const { return m_imageCopy->Running(); }

void MainDialog::OnImageCopyTimer()
{
    if (!m_imageCopy->Scanning()) {
        m_timers->KillTimer(TIMER_IMAGE_COPY);
        return;
    }
    m_lblProgress->SetText(ImageCopyStatusText(m_imageCopy->NextStatusText()));
}

void MainDialog::StopImageCopy()
{
    const int answer = m_platform.ui->MessageBox(
        this, QStringLiteral("Snapmend is copying the disk to an image file, are you sure you want to stop?"),
        kQuestionCaption, MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES)
        m_imageCopy->Stop();
}

void MainDialog::OnImageCopyEnded()
{
    m_timers->KillTimer(TIMER_IMAGE_COPY);
    if (m_closing) {
        if (!m_scan->Running())
            FinishClose();
        return;
    }
    ShowImageCopyProgress(false);
    ShowNotices(m_imageCopy->EndNotices());
    if (!m_imageCopy->ReadToTheEnd()) {
        if (!m_imageCopy->EndedWithMessage())
            m_platform.ui->MessageBox(this,
                                      QStringLiteral("The copy has stopped. Copy the disk into the same folder "
                                                     "again to continue where it stopped."),
                                      kMessageCaption, MB_OK | MB_ICONINFORMATION);
        return;
    }
    const bool someUnreadable = m_imageCopy->MetUnreadableAreas();
    const QString question = ImageCopiedQuestion(m_imageCopyTarget, someUnreadable, m_imageCopy->UnreadableBytes());
    if (m_platform.ui->MessageBox(this, question, kQuestionCaption, MB_YESNO | MB_ICONQUESTION) == IDYES)
        StartScanOf(m_imageCopyTarget);
}

}  // namespace snapmend
