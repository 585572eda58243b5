#include "ScanRun.h"

#include <QTimer>

#include "ChildProcess.h"
#include "carver/contract.h"
#include "EngineCommand.h"
#include "EngineInstallation.h"
#include "FileSystem.h"
#include "Paths.h"
#include "SameDisk.h"

namespace snapmend {
namespace {

// How long the engine may take to stop on SIGTERM before it is killed.
constexpr int kEngineStopGraceMs = 1500;

}  // namespace

QString ScanDataOnScannedDiskText(const QString& folder, const QString& disk)
{
    return QStringLiteral("Failed to analyze disk. Snapmend keeps its scan data in \"%1\", which is on the disk "
                          "being analyzed (%2): writing there would overwrite the files to recover.\n\nTo analyze "
                          "this disk, run Snapmend from a system started from another disk, or connect this disk "
                          "to another computer.")
        .arg(folder, disk);
}

QString EngineFailureText(int exitCode, const QString& workspace, const QString& workspaceDisk)
{
    switch (exitCode) {
    case carver::contract::kExitOutputFailed:
        return QStringLiteral("Failed to save the files detected. The disk that holds the scan data may be full.");
    case carver::contract::kExitBadInput:
        if (!workspaceDisk.isEmpty())
            return ScanDataOnScannedDiskText(workspace, workspaceDisk);
        return QStringLiteral("Failed to analyze disk. The disk cannot be read: it may have been removed, or it is "
                              "damaged.\n\nCheck that it is attached, press Refresh and try again.");
    default:
        return QStringLiteral("Failed to analyze disk, the engine stopped with code %1.").arg(exitCode);
    }
}

ScanRun::ScanRun(QObject* parent) : QObject(parent) {}

ScanRun::~ScanRun()
{
    std::shared_ptr<ChildProcess> engine;
    {
        std::lock_guard lock(m_engineMutex);
        m_scanning = false;
        m_stopRequested = true;
        engine = std::move(m_engine);
    }
    if (engine)
        engine->Terminate(kEngineStopGraceMs);
    if (m_worker.joinable())
        m_worker.join();
}

std::shared_ptr<ChildProcess> ScanRun::Engine() const
{
    std::lock_guard lock(m_engineMutex);
    return m_engine;
}

void ScanRun::Start(Request request)
{
    m_request = std::move(request);
    m_presence.emplace(m_request.device);
    m_progress.OpenChannel();
    // The flag is up before the worker exists, so the worker's clearing always comes later.
    m_scanning = true;
    m_stopRequested = false;
    m_endNotices.clear();
    m_worker = std::thread([this] { Work(); });
}

void ScanRun::Stop()
{
    std::shared_ptr<ChildProcess> engine;
    {
        std::lock_guard lock(m_engineMutex);
        m_scanning = false;
        m_stopRequested = true;
        engine = std::move(m_engine);
    }
    if (!engine)
        return;
    // SIGTERM now; SIGKILL later if it is still there. The worker's wait returns either way.
    engine->Terminate(0);
    QTimer::singleShot(kEngineStopGraceMs, [engine] { engine->Kill(); });
}

void ScanRun::DeleteWorkspace()
{
    const QString& root = m_request.workspace.root;
    if (!root.isEmpty() && PathExists(root))
        DeleteFolderTree(root, true);
}

void ScanRun::ClearScanning(bool dropEngine)
{
    std::lock_guard lock(m_engineMutex);
    m_scanning = false;
    if (dropEngine)
        m_engine.reset();
}

// Runs on the worker thread.
bool ScanRun::LaunchEngine(Notices& notices)
{
    QString enginePath;
    if (!CheckEngineInstalled(m_request.engineFolder, enginePath, notices)) {
        ClearScanning(false);
        return false;
    }
    const EngineCommand command = BuildEngineCommand(m_request.workspace.engineOutputDir, m_request.device, m_request.enabledFormats);
    if (!command.anyEnabled) {
        notices.push_back({QStringLiteral("No file formats enabled.\n\nPlease go to 'Settings' to enable the type "
                                          "of file you wish to recover.")});
        return false;
    }
    ChildProcess::Extras extras;
    if (m_progress.EngineEnd() >= 0) {
        extras.inheritFd = m_progress.EngineEnd();
        extras.environment = {QByteArray(kEngineProgressVariable) + '=' + QByteArray::number(extras.childFd)};
    }
    std::shared_ptr<ChildProcess> engine = ChildProcess::Start(enginePath, command.arguments, extras);
    if (!engine)
        return false;
    bool stoppedMeanwhile;
    {
        std::lock_guard lock(m_engineMutex);
        stoppedMeanwhile = !m_scanning;
        m_engine = engine;
    }
    // A stop that came while the engine was starting ends it at once.
    if (stoppedMeanwhile)
        engine->Terminate(kEngineStopGraceMs);
    return true;
}

// The worker thread: start the engine, wait for it, clear the scan state.
void ScanRun::Work()
{
    Notices notices;
    const bool launched = LaunchEngine(notices);
    // The engine holds its own copy now: the pipe ends when the engine does.
    m_progress.CloseEngineEnd();
    if (launched) {
        int exitCode = 0;
        if (std::shared_ptr<ChildProcess> engine = Engine())
            exitCode = engine->Wait();
        ClearScanning(true);
        // An engine that ends by itself with a failure would otherwise look
        // like a scan that found nothing.
        if (exitCode != 0 && !m_stopRequested) {
            const QString& workspace = m_request.workspace.root;
            const QString disk = FolderOnScannedDisk(m_request.device, workspace).value_or(QString());
            notices.push_back({EngineFailureText(exitCode, workspace, disk)});
        }
    } else {
        // Whatever made the launch fail, no scan runs: let the window drain to its end view.
        ClearScanning(false);
        notices.push_back({QStringLiteral("Failed to load engine, error code -1009. Installation may be "
                                          "corrupted, please try to re-install Snapmend")});
    }
    QMetaObject::invokeMethod(this, [this, said = std::move(notices)]() mutable { Finish(std::move(said)); },
                              Qt::QueuedConnection);
}

// On the UI thread, after the worker's last step.
void ScanRun::Finish(Notices notices)
{
    if (m_worker.joinable())
        m_worker.join();
    m_endNotices = std::move(notices);
    emit ended();
}

}  // namespace snapmend
