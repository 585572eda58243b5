#include "ScanRun.h"

#include <QTimer>

#include "ChildProcess.h"
#include "DriveRecord.h"
#include "carver/contract.h"
#include "EngineCommand.h"
#include "EngineInstallation.h"
#include "FileSystem.h"
#include "Paths.h"
#include "SameDisk.h"
#include "ScanCheckpoint.h"

namespace snapmend {
namespace {

// How long the engine may take to stop on SIGTERM before it is killed.
constexpr int kEngineStopGraceMs = 1500;
// Tells the engine to go on from the checkpoint in its output folder.
constexpr char kEngineResumeVariable[] = "SNAPMEND_RESUME";
constexpr char kImageSwitch[] = "/image";

}  // namespace

QString ScanDataOnScannedDiskText(const QString& folder, const QString& disk)
{
    return QStringLiteral("Failed to analyze disk. Snapmend keeps its scan data in \"%1\", which is on the disk "
                          "being analyzed (%2): writing there would overwrite the files to recover.\n\nPlease "
                          "choose an output folder on another disk: the scan data is kept there.")
        .arg(folder, disk);
}

QString OutputAndScanDataOnScannedDiskText(const QString& folder, const QString& dataFolder, const QString& disk)
{
    return QStringLiteral("The output folder \"%1\" is on the disk being scanned (%2). The scan data would have "
                          "to lie there too (\"%3\"), and recovered files written there would overwrite the "
                          "deleted files that are still to be found.\n\nPlease choose a folder on another disk.")
        .arg(folder, disk, dataFolder);
}

namespace {

QString UnreadablePart(quint64 bytes, const QString& someAreas)
{
    if (bytes == 0)
        return someAreas + QStringLiteral(" of this disk could not be read.");
    return QStringLiteral("%1 of this disk could not be read.").arg(FormatSize(static_cast<qint64>(bytes)));
}

}  // namespace

QString UnreadableAreasText(quint64 bytes) { return UnreadablePart(bytes, QStringLiteral("Some areas")); }

QString UnreadableScanEndText(quint64 bytes)
{
    return QStringLiteral("The scan has finished, but ") + UnreadablePart(bytes, QStringLiteral("some areas")) +
           QStringLiteral(" Files that touch those areas are kept as partial files.\n\nA disk that fails to read "
                          "can get worse with every read. To save what can still be read, copy it to an image file "
                          "on another disk first (right-click the disk in the list and choose \"Copy to an image "
                          "file...\"), then scan the image file.");
}

QString ContinueScanQuestion(quint64 position)
{
    return QStringLiteral("An unfinished scan of this disk is in the output folder: %1 of it had been read. The "
                          "files it found are kept.\n\nContinue that scan? Yes: continue where it stopped. No: "
                          "discard it and start over.")
        .arg(FormatSize(static_cast<qint64>(position)));
}

QString ImageCopyFailureText(int exitCode)
{
    switch (exitCode) {
    case carver::contract::kExitOutputFailed:
        return QStringLiteral("Failed to write the image file. The disk that holds it may be full.");
    case carver::contract::kExitBadInput:
        return QStringLiteral("Failed to copy the disk. It cannot be read (it may have been removed), or the image "
                              "file cannot be made there.");
    default:
        return QStringLiteral("Failed to copy the disk, the engine stopped with code %1.").arg(exitCode);
    }
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
    m_exitCode = -1;
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
    if (m_request.workspace.handle)
        m_request.workspace.handle->Delete();
}

bool ScanRun::ReadToTheEnd() const
{
    const int code = m_exitCode.load();
    return code == carver::contract::kExitComplete || code == kEngineExitSomeUnreadable;
}

bool ScanRun::MetUnreadableAreas()
{
    return ReadToTheEnd() && (m_exitCode.load() == kEngineExitSomeUnreadable || UnreadableBytes() > 0);
}

bool ScanRun::Continuable() const
{
    if (!m_request.workspace.handle || m_request.workspace.engineOutputDir.isEmpty())
        return false;
    const std::optional<ScanCheckpoint> checkpoint = ReadCheckpoint(m_request.workspace.engineOutputDir);
    return checkpoint && checkpoint->Continuable();
}

QString ScanRun::FailureText(int exitCode) const
{
    if (!m_request.imageFile.isEmpty())
        return ImageCopyFailureText(exitCode);
    const QString& workspace = m_request.workspace.location;
    const QString disk = FolderOnScannedDisk(m_request.device, m_request.workspace.root).value_or(QString());
    return EngineFailureText(exitCode, workspace, disk);
}

// Runs on the worker thread. Empty when there is nothing to start.
QStringList ScanRun::EngineArguments(Notices& notices) const
{
    if (!m_request.imageFile.isEmpty())
        return {QString::fromLatin1(kImageSwitch), m_request.device, m_request.imageFile, m_request.mapFile};
    EngineCommand command =
        BuildEngineCommand(m_request.workspace.engineOutputDir, m_request.device, m_request.enabledFormats);
    if (m_request.resume && IsEngineSelection(m_request.resumeSelection)) {
        command.arguments.last() = m_request.resumeSelection;
        command.anyEnabled = true;
    }
    if (!command.anyEnabled) {
        notices.push_back({QStringLiteral("No file formats enabled.\n\nPlease go to 'Settings' to enable the type "
                                          "of file you wish to recover.")});
        return {};
    }
    return command.arguments;
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
    const QStringList arguments = EngineArguments(notices);
    if (arguments.isEmpty())
        return false;
    ChildProcess::Extras extras;
    if (m_progress.EngineEnd() >= 0) {
        extras.inheritFd = m_progress.EngineEnd();
        extras.environment = {QByteArray(kEngineProgressVariable) + '=' + QByteArray::number(extras.childFd)};
    }
    if (m_request.resume)
        extras.environment.append(QByteArray(kEngineResumeVariable) + "=1");
    std::shared_ptr<ChildProcess> engine = ChildProcess::Start(enginePath, arguments, extras);
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
        if (!m_stopRequested)
            m_exitCode = exitCode;
        // An engine that ends by itself with a failure would otherwise look
        // like a scan that found nothing. Unreadable areas are the window's to tell.
        if (!m_stopRequested && !ReadToTheEnd())
            notices.push_back({FailureText(exitCode)});
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
