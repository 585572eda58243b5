#pragma once
#include <QPointer>
#include <QRect>
#include <QString>
#include <map>
#include <optional>
#include <vector>

#include "CBitmapDialog.h"
#include "DriveRecord.h"
#include "Notice.h"
#include "ResultItem.h"
#include "ScanWorkspace.h"
#include "WindowView.h"

class QComboBox;
class QLineEdit;
class QProgressBar;
class QTreeWidget;

namespace snapmend {

class CopyOutRun;
class CStyledButton;
class CStyledLabel;
class FileListView;
class HarvestPass;
class HelpWindow;
class PhotoPreviewWindow;
class PhotoListView;
class ScanRun;
class TimerService;
struct PlatformServices;
struct DialogTemplate;

// The program's only window. It owns the controls and routes their events;
// the work is done by objects without widgets: a ScanRun (engine and
// worker), a HarvestPass (the workspace's new files) and a CopyOutRun (the
// recovery). Handlers are named after the events they serve; the topics'
// handler bodies live in MainDialog<Topic>.cpp files beside this one.
// What the window shows is one WindowView, changed only by SetView.
// Tests find the controls by their ids (Control(id), object name "control<id>").
class MainDialog : public CBitmapDialog {
    Q_OBJECT
public:
    explicit MainDialog(PlatformServices& platform, QWidget* parent = nullptr);
    ~MainDialog() override;

    // Initialises the window and runs its modal loop; returns the exit code.
    int DoModal();

    bool OnInitDialog();
    // Timers call it; tests step the window with it.
    void OnTimer(int id);
    // The close path: true when the window has ended now; false when it
    // stays (the user said No, or it ends once the scan has stopped).
    bool OnClose();

    // The exit code the modal loop ended with (18: no administrator rights).
    std::optional<int> QuitRequest() const { return m_quitRequest; }
    TimerService& Timers() { return *m_timers; }
    const ScanRun& Scan() const { return *m_scan; }
    QWidget* Control(int id) const;
    WindowView View() const { return m_view; }

    // Copies the disk `device` to an image file in a folder the user picks
    // (MainDialogImageCopy.cpp); the drive list's context menu asks for it.
    void CopyDiskToImage(const QString& device);
    bool ImageCopyRunning() const;
    const ScanRun& ImageCopy() const { return *m_imageCopy; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

public slots:
    void reject() override;

private:
    // Handlers of the controls and timers.
    void OnRefresh();
    void OnStart();
    void OnRecoverClicked();
    void OnRescanTimer();
    void OnHarvestTick();
    void OnCopyTick();
    void OnHeaderClick(int column);
    void OnPhotoLinkClicked();
    void OnFileLinkClicked();
    void BrowseForOutputFolder();
    void OpenFileTypesDialog();
    void OpenHelp();
    // A photo of the result list asked for a closer look.
    void OnPhotoActivated(const QString& path);
    void OnFileActivated(const QString& path);
    // Opens the preview on `path`, stepping through the list it is in as that list shows its rows.
    void OpenPreview(const QString& path, bool photo);
    void OnBackToDrives();
    void OnBackToResults();
    void OnFilterChanged(const QString& text);
    void OnOrderChanged(int choice);
    // The counts line: photos, other files, partial and recovered ones, how many the filter shows.
    void UpdateCounts();

    // The one place the view changes: shows the view's controls, hides the
    // others, places the controls that stand elsewhere in this view.
    void SetView(WindowView view);
    // Shows messages of code without widgets, in order.
    void ShowNotices(const Notices& notices);
    void CreateControls(const DialogTemplate& dialog);
    void DoDataExchange();
    template <typename T>
    void DDX_Control(int id, T*& member);
    void ConnectControls();
    void InitControls();
    void InitDriveList();
    void InitResultViews();
    void StyleButton(CStyledButton& button);
    void OnStartupTimer();
    void PostQuitMessage(int exitCode);
    // Where the controls shared by several views stand in each of them.
    void PlaceViews();
    void ShowLoading();
    void ShowDrivePage();
    // Drives and settings.
    void RefreshDriveList();
    // The device of the drive selected in the list, else the one being scanned.
    QString SelectedScanSource() const;
    // Asks for a disk image file; nothing when the user cancels or the file cannot be scanned.
    std::optional<QString> ChooseDiskImage();
    // False when the output folder is a mount point left without its disk and
    // the user does not want the files on the disk that holds it instead.
    bool ConfirmOutputFolderDisk(const QString& folder);
    void LoadOutputFolder();
    // Scan (MainDialogScan.cpp).
    void StartScanOf(const QString& device);
    // The workspace for a scan of `device`: a fresh one, or an unfinished
    // scan's that the user chose to continue (then `resumeSelection` is its
    // engine selection). False when no scan is to start (said why, or cancelled).
    bool ChooseScanWorkspace(const QString& device, const QString& outputFolder,
                             std::optional<ScanWorkspace>& workspace, QString& resumeSelection);
    // The results page tells how much of the disk could not be read, if any.
    void ShowUnreadableNotice();
    void EnterScanView();
    void CancelScan();
    void OnScanEnded();
    // The scanned device has gone: stop the engine, say so, list what was found.
    void OnScanDeviceGone();
    // A scan that ended with nothing listed: says so, back to the drive page.
    void EndScanWithoutResults();
    // Rows in both result lists, and those of them not recovered yet.
    int ResultCount() const;
    int UnrecoveredCount() const;
    // Drops the last scan's results and its workspace.
    void DiscardResults();
    // A scan's results are listed (or are being listed) and some of them
    // have not been recovered: leaving them needs the user's word.
    bool ResultsAtStake() const;
    void FinishClose();
    // Copy to an image file (MainDialogImageCopy.cpp).
    void InitImageCopy();
    void OnDriveContextMenu(const QPoint& position);
    void ShowImageCopyProgress(bool copying);
    void OnImageCopyTimer();
    void StopImageCopy();
    void OnImageCopyEnded();
    // Harvesting (MainDialogHarvest.cpp).
    void StartHarvestPass(bool engineRunning);
    void EndHarvestPass();
    void EnterReadyState();
    void AddThumbnails(const std::vector<FoundPhoto>& photos, int firstRow);
    void AddFileRows(const std::vector<FoundFile>& files);
    // Empties both result lists and the thumbnail images.
    void ClearResults();
    // Copy-out (MainDialogCopyOut.cpp).
    void StartRecovery();
    void FinishRecovery();
    void DeleteWorkspaceIfAllListed();
    int PartialFilesCopied() const;
    // Back to the results after a failure, with what was copied unticked.
    void ReturnToReadyView();

    PlatformServices& m_platform;
    TimerService* m_timers = nullptr;
    ScanRun* m_scan = nullptr;
    ScanRun* m_imageCopy = nullptr;  // copies a disk to an image file
    QString m_imageCopyTarget;       // the image file being written
    HarvestPass* m_harvest = nullptr;
    CopyOutRun* m_copy = nullptr;
    std::map<int, QWidget*> m_controls;
    WindowView m_view = WindowView::Loading;
    // The geometry of controls that stand elsewhere in some views.
    std::map<WindowView, std::map<int, QRect>> m_placements;
    // A scan's results are listed; only a new scan or closing drops them.
    bool m_resultsKept = false;
    std::optional<int> m_quitRequest;
    // Set once the user agreed to close; the window ends when the scan has.
    bool m_closing = false;
    // The user or a vanished device stopped the current scan early.
    bool m_scanStopped = false;
    // A scan that found nothing ends once its run has reported its end.
    bool m_emptyEndPending = false;
    // The window was closed during a scan: its workspace stays when it can be continued.
    bool m_keepWorkspaceOnClose = false;
    QPointer<HelpWindow> m_help;
    QPointer<PhotoPreviewWindow> m_preview;

    CStyledLabel* m_lnkSelectPhotos = nullptr;
    CStyledLabel* m_lnkSelectFiles = nullptr;
    FileListView* m_lstFiles = nullptr;
    CStyledLabel* m_lblLoading = nullptr;
    CStyledLabel* m_lnkSettings = nullptr;
    CStyledLabel* m_lnkHelp = nullptr;
    CStyledLabel* m_lblStatus = nullptr;
    CStyledLabel* m_lblProgress = nullptr;
    QProgressBar* m_progress = nullptr;
    PhotoListView* m_lstPhotos = nullptr;
    QLineEdit* m_edtOutputDir = nullptr;
    CStyledLabel* m_lblOutputDir = nullptr;
    CStyledLabel* m_lblSelectDrive = nullptr;
    CStyledButton* m_btnStart = nullptr;
    CStyledButton* m_btnRefresh = nullptr;
    CStyledButton* m_btnBrowse = nullptr;
    CStyledButton* m_btnRecover = nullptr;
    QTreeWidget* m_lstDrives = nullptr;
    CStyledButton* m_btnBackToDrives = nullptr;
    CStyledButton* m_btnBackToResults = nullptr;
    QLineEdit* m_edtFilter = nullptr;
    QComboBox* m_cmbSort = nullptr;
    CStyledLabel* m_lblCounts = nullptr;
    std::vector<DriveRecord> m_drives;  // row i shows m_drives[i]
    QString m_confirmedOutputFolder;    // a mount point without its disk, chosen anyway
    QIcon m_hIcon;
    QRect m_rcProgressLine;
    QRect m_rcTipLine;
    bool m_bSortAscending = true;
};

}  // namespace snapmend
