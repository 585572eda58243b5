#pragma once
#include <QString>

namespace snapmend {

class UiServices;
class SystemInfo;
class DriveSource;

// The operating-system services the program uses, chosen in one place.
// Production code takes them from here; tests fill in their own where the
// real one would block, need a person, or need rights the test lacks.
struct PlatformServices {
    UiServices* ui = nullptr;
    SystemInfo* system = nullptr;
    DriveSource* drives = nullptr;
    // Where settings.ini, formats.ini and help.chm live; empty: the running layout's folders.
    QString programFolder;
    // Where the engine's pieces are; empty: the running layout's engine folder.
    QString engineFolder;

    // The Linux implementations, alive for the whole process. Wired above
    // every layer (src/mainwindow/PlatformServices.cpp): the drive source
    // belongs to src/drives.
    static PlatformServices& Default();
};

}  // namespace snapmend
