#include "RecoveryApp.h"

#include "EngineInstallation.h"
#include "MainDialog.h"
#include "ScanWorkspace.h"
#include "SingleInstance.h"

namespace snapmend {

RecoveryApp::RecoveryApp(PlatformServices& platform) : m_platform(platform) {}

RecoveryApp::~RecoveryApp() = default;

bool RecoveryApp::InitInstance()
{
    m_instance = std::make_unique<SingleInstance>(QString::fromLatin1(kMutexName),
                                                  QString::fromLatin1(kMainWindowCaption));
    const SingleInstance::Role role = m_instance->Claim();
    // Only the holder of the lock knows no other run of this user is scanning.
    if (role == SingleInstance::Role::First)
        RemoveStaleWorkspaces(GetAppDataFolder(), GetTempFolder());
    return role != SingleInstance::Role::Second;
}

int RecoveryApp::Run()
{
    {
        MainDialog dialog(m_platform);
        m_exitCode = dialog.DoModal();
    }
    ExitInstance();
    return m_exitCode;
}

int RecoveryApp::ExitInstance()
{
    m_instance.reset();
    return m_exitCode;
}

}  // namespace snapmend
