#include <QApplication>

#include "PlatformServices.h"
#include "RecoveryApp.h"
#include "RuntimeFolder.h"

int main(int argc, char** argv)
{
    snapmend::UsePrivateRuntimeFolder();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Snapmend"));
    QApplication::setQuitOnLastWindowClosed(false);

    snapmend::RecoveryApp app(snapmend::PlatformServices::Default());
    if (!app.InitInstance()) {
        app.ExitInstance();
        return 0;
    }
    return app.Run();
}
