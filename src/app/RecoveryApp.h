#pragma once
#include <memory>

namespace snapmend {

struct PlatformServices;
class SingleInstance;

// The application object: single instance, then the main window run once.
class RecoveryApp {
public:
    explicit RecoveryApp(PlatformServices& platform);
    ~RecoveryApp();

    // True for the first instance. A later instance has asked the first one
    // to bring its window forward and must end.
    bool InitInstance();
    // Runs the main window modally; returns the process exit code.
    int Run();
    int ExitInstance();

    static constexpr const char* kMutexName = "KestrovaSnapmend Mutex";
    static constexpr const char* kMainWindowCaption = "Kestrova Snapmend";

private:
    PlatformServices& m_platform;
    std::unique_ptr<SingleInstance> m_instance;
    int m_exitCode = 0;
};

}  // namespace snapmend
