#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "DevicePresence.h"
#include "FileSystem.h"
#include "Notice.h"
#include "ScanProgress.h"
#include "ScanWorkspace.h"

namespace snapmend {

class ChildProcess;

// One scan: the engine process, the worker thread that starts and waits for
// it, cancelling, and the report of how it ended. No widgets: the window
// starts it, asks it to stop, and hears `ended` once the worker is joined.
// The worker never waits on the UI thread (its messages are collected and
// shown by the window once `ended` has come), so destroying a run can always
// join it.
class ScanRun : public QObject {
    Q_OBJECT
public:
    explicit ScanRun(QObject* parent = nullptr);
    // Stops the engine and joins the worker.
    ~ScanRun() override;
    ScanRun(const ScanRun&) = delete;
    ScanRun& operator=(const ScanRun&) = delete;

    struct Request {
        ScanWorkspace workspace;  // prepared: empty, or an unfinished scan's to continue
        QString device;           // what the engine reads
        QString enabledFormats;   // the types to look for (formats.ini)
        QString engineFolder;     // where the engine is installed
        // Continue the unfinished scan in `workspace` with the engine's own
        // recorded selection (the types it looked for), not `enabledFormats`.
        bool resume = false;
        QString resumeSelection;
        // Copy the device to this image file with this map file instead of
        // scanning it (no workspace).
        QString imageFile;
        QString mapFile;
        std::shared_ptr<UniqueFd> imageFolder;  // held while the copy runs: the files' paths go through it
    };
    // Starts the worker.
    void Start(Request request);
    // Stops the engine (SIGTERM, SIGKILL after a grace period); `ended`
    // follows. An exit caused by this is not reported as a failure.
    void Stop();

    // True from Start until the engine has ended or was stopped.
    bool Scanning() const { return m_scanning; }
    // True while the worker thread exists (until `ended`).
    bool Running() const { return m_worker.joinable(); }
    std::shared_ptr<ChildProcess> Engine() const;
    // False once the device the scan reads has gone (a card pulled out).
    bool DeviceStillThere() const { return !m_presence || m_presence->StillThere(); }
    // The status line while the engine runs: the next dot and the engine's
    // figures, or the figures alone.
    QString NextStatusText() { return m_progress.NextStatusText(); }
    QString CurrentStatusText() { return m_progress.CurrentStatusText(); }
    const ScanWorkspace& Workspace() const { return m_request.workspace; }
    const QString& Device() const { return m_request.device; }
    // Deletes the workspace folder tree, if there is one.
    void DeleteWorkspace();
    // The last run's own messages (a failure, no format enabled, an engine
    // missing), for the window to show once `ended` has come; when there are
    // any, the window adds none of its own.
    const Notices& EndNotices() const { return m_endNotices; }
    bool EndedWithMessage() const { return !m_endNotices.empty(); }
    // The engine read the device to its end (some areas may have been unreadable).
    bool ReadToTheEnd() const;
    // Bytes of the device the engine could not read so far.
    quint64 UnreadableBytes() { return m_progress.UnreadableBytes(); }
    bool Resumed() const { return m_request.resume; }
    // The engine read the device to its end but some areas could not be read.
    bool MetUnreadableAreas();
    // The workspace holds a scan the engine can go on with.
    bool Continuable() const;

signals:
    // The worker has been joined; EndNotices holds its messages.
    void ended();

private:
    void Work();
    bool LaunchEngine(Notices& notices);
    QStringList EngineArguments(Notices& notices) const;
    QString FailureText(int exitCode) const;
    void ClearScanning(bool dropEngine);
    void Finish(Notices notices);

    Request m_request;
    std::optional<DevicePresence> m_presence;
    ScanProgress m_progress{MonotonicMs};  // the engine's reports of how far it has read
    std::thread m_worker;
    std::atomic<bool> m_scanning{false};
    // Set when Stop ended the engine, so its exit code is not an error.
    std::atomic<bool> m_stopRequested{false};
    mutable std::mutex m_engineMutex;
    std::shared_ptr<ChildProcess> m_engine;  // guarded by m_engineMutex
    Notices m_endNotices;                    // UI thread only
    std::atomic<int> m_exitCode{-1};         // the engine's, once it ended by itself
};

// The engine's exit status for a device read to its end with some areas unreadable.
inline constexpr int kEngineExitSomeUnreadable = 3;

// "12.4 MB of this disk could not be read." (or, with no count known, that some areas could not).
QString UnreadableAreasText(quint64 bytes);
// The message at the end of a scan that met unreadable areas, with what to do.
QString UnreadableScanEndText(quint64 bytes);

// Whether to continue the unfinished scan of the disk that was read up to `position` bytes.
QString ContinueScanQuestion(quint64 position);

// The message for an image copy whose engine ended by itself with `exitCode`.
QString ImageCopyFailureText(int exitCode);

// The message for an engine that ended by itself with `exitCode` (not 0).
// `workspaceDisk`: the scanned disk when `workspace` lies on it (the engine
// refuses to write there), else empty.
QString EngineFailureText(int exitCode, const QString& workspace = QString(),
                          const QString& workspaceDisk = QString());

// Why a scan cannot write its data to `folder` on the scanned `disk`, and what to do.
QString ScanDataOnScannedDiskText(const QString& folder, const QString& disk);

// The refusal of a scan whose output folder `folder` (and so its scan data
// `dataFolder`) is on the scanned `disk`.
QString OutputAndScanDataOnScannedDiskText(const QString& folder, const QString& dataFolder, const QString& disk);

}  // namespace snapmend
