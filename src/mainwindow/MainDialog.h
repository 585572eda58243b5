#pragma once
#include <QRect>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <map>
#include <optional>
#include <vector>

#include "CBitmapDialog.h"
#include "CopyPlan.h"
#include "DevicePresence.h"
#include "DriveRecord.h"
#include "ImageList.h"
#include "ListedPaths.h"
#include "ScanProgress.h"

class QLineEdit;
class QListWidget;
class QProgressBar;
class QTreeWidget;

namespace snapmend {

class ChildProcess;
class CStyledButton;
class CStyledLabel;
class TimerService;
struct PlatformServices;
struct DialogTemplate;

// The program's only window: owns every control and every piece of state of
// a scan. Handlers are named after the events they serve; the subsystems'
// handler bodies live in MainDialog<Topic>.cpp files beside this one.
class MainDialog : public CBitmapDialog {
    Q_OBJECT
public:
    explicit MainDialog(PlatformServices& platform, QWidget* parent = nullptr);
    ~MainDialog() override;

    // Initialises the window and runs its modal loop; returns the exit code.
    int DoModal();

    bool OnInitDialog();
    void OnTimer(int id);
    // The close path: true when the window has ended.
    bool OnClose();

    void SetDrivePageVisible(bool visible);
    void ShowLoading();
    void ShowDrivePage();

    // Drives.
    void RefreshDriveList();
    void OnRefresh();
    // The device of the drive selected in the list, else the one being scanned.
    QString SelectedScanSource() const;
    // Asks for a disk image file; nothing when the user cancels or the file cannot be scanned.
    std::optional<QString> ChooseDiskImage();
    // Settings and help.
    void LoadOutputFolder();
    void BrowseForOutputFolder();
    void OpenFileTypesDialog();
    void OpenHelp();
    // Scan lifecycle.
    void OnStart();
    void OnRecoverClicked();
    bool CreateScanWorkspace();
    void DeleteWorkspace();
    QString LoadEnabledFormats() const;
    bool StartWorker();
    void ResetScanState(bool close);
    void EnterScanView();
    void CancelScan();
    // True while the engine worker thread exists (it is joined when it ends).
    bool WorkerRunning() const { return m_hWorkerThread.joinable(); }
    std::shared_ptr<ChildProcess> EngineProcess() const;
    // Harvesting.
    void OnRescanTimer();
    void OnHarvestTick();
    void OnHeaderClick(int column);
    void StartHarvestPass(bool engineRunning);
    void EnterReadyState();
    // Empties both result lists, their row data and the thumbnail images.
    void ClearResults();
    // Copy-out (MainDialogCopyOut.cpp).
    void StartRecovery();
    void OnCopyTick();
    void FinishRecovery();
    void OnPhotoLinkClicked();
    void OnFileLinkClicked();
    // Empties the selection, appends every ticked row in row order; returns how many.
    static int CollectCheckedRows(const QListWidget& list, std::vector<int>& selection);
    static int CollectCheckedRows(const QTreeWidget& list, std::vector<int>& selection);

    // The exit code the modal loop ended with (18: no administrator rights).
    std::optional<int> QuitRequest() const { return m_quitRequest; }
    TimerService& Timers() { return *m_timers; }
    PlatformServices& Platform() { return m_platform; }
    QWidget* Control(int id) const;

    // Members, in the order of the original dialog class. The engine process
    // is shared with the worker and guarded by m_handleMutex; the worker
    // thread is joined by the UI thread once it has ended.
    std::shared_ptr<ChildProcess> m_hEngineProcess;
    CStyledLabel* m_lnkSelectPhotos = nullptr;
    CStyledLabel* m_lnkSelectFiles = nullptr;
    QTreeWidget* m_lstFiles = nullptr;
    CStyledLabel* m_lblLoading = nullptr;
    CStyledLabel* m_lnkSettings = nullptr;
    CStyledLabel* m_lnkHelp = nullptr;
    CStyledLabel* m_lblStatus = nullptr;
    CStyledLabel* m_lblProgress = nullptr;
    QProgressBar* m_progress = nullptr;
    QListWidget* m_lstPhotos = nullptr;
    QLineEdit* m_edtOutputDir = nullptr;
    CStyledLabel* m_lblOutputDir = nullptr;
    CStyledLabel* m_lblSelectDrive = nullptr;
    CStyledButton* m_btnStart = nullptr;
    CStyledButton* m_btnRefresh = nullptr;
    CStyledButton* m_btnBrowse = nullptr;
    CStyledButton* m_btnRecover = nullptr;
    QTreeWidget* m_lstDrives = nullptr;
    std::vector<DriveRecord> m_drives;  // row i shows m_drives[i]
    QIcon m_hIcon;
    std::atomic<bool> m_bScanning{false};
    QString m_strEngineOutputDir;
    QString m_strWorkspaceRoot;
    QString m_strDeviceName;
    std::thread m_hWorkerThread;
    QRect m_rcProgressLine;
    QRect m_rcTipLine;
    ImageList m_thumbnails;
    QStringList m_discoveredPaths;
    int index = 0;
    int count = 0;
    int photoRow = 0;
    bool engineRunningAtPassStart = false;
    ScanProgress m_scanProgress{MonotonicMs};  // the engine's reports for the status line
    std::optional<DevicePresence> m_scanDevice;  // the device the running scan reads
    ListedPaths m_listedPaths;  // the paths of the rows of both result lists
    bool m_bSortAscending = true;
    std::vector<int> m_photoSelection;
    std::vector<int> m_fileSelection;
    CopyRun m_copyRun;  // the recovery in progress: sources, names written, counts
    QString m_strSelectAllPhotos = QStringLiteral("Select All Photos");
    QString m_strUnselectAllPhotos = QStringLiteral("Unselect All Photos");
    QString m_strSelectAllFiles = QStringLiteral("Select All Files");
    QString m_strUnselectAllFiles = QStringLiteral("Unselect All Files");

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

public slots:
    void reject() override;

private:
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
    // Harvesting (MainDialogHarvest.cpp).
    bool IsAlreadyListed(const QString& path);
    void AddThumbnail(const QImage& thumbnail, const QString& photoPath, int row);
    void AddFileRow(const QString& path);
    // Copy-out: back to the results after a failure, with what was copied unticked.
    void ReturnToReadyView();
    void PostQuitMessage(int exitCode);
    bool LaunchEngine();
    // The scanned device has gone: stop the engine, say so, list what was found.
    void OnScanDeviceGone();
    void EngineWorker();
    void ReportEngineFailure(int exitCode);
    void TerminateEngine();
    void JoinWorker();
    void WaitForWorker();

    PlatformServices& m_platform;
    TimerService* m_timers = nullptr;
    std::map<int, QWidget*> m_controls;
    std::optional<int> m_quitRequest;
    mutable std::mutex m_handleMutex;
    std::atomic<bool> m_workerDone{true};
    // Set when the window stopped the engine, so its exit code is not an error.
    std::atomic<bool> m_engineStopRequested{false};
};

}  // namespace snapmend
