#include <QApplication>

#include "PlatformServices.h"
#include "RecoveryApp.h"

int main(int argc, char** argv)
{
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
