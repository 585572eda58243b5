// A window captioned like the main window, claiming the single-instance lock.
// First instance: shows its window minimised and prints "activated" when a
// later instance brings it forward. Later instance: prints "second" and ends.
#include <QApplication>
#include <QTextStream>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "SingleInstance.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString lockName = QString::fromLocal8Bit(argv[1]);
    const QString caption = QString::fromLocal8Bit(argv[2]);
    snapmend::SingleInstance instance(lockName, QStringLiteral("Kestrova Snapmend"));
    if (instance.Claim() == snapmend::SingleInstance::Role::Second) {
        std::puts("second");
        return 0;
    }
    QWidget window;
    window.setWindowTitle(caption);
    window.showMinimized();
    std::puts("first");
    std::fflush(stdout);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!window.isMinimized()) {
            std::puts("activated");
            std::fflush(stdout);
            app.quit();
        }
    });
    poll.start(20);
    QTimer::singleShot(15000, &app, &QApplication::quit);
    return app.exec();
}
