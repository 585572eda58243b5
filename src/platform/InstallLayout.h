#pragma once
#include <QString>

namespace snapmend {

// Where the running program finds its pieces. Run from its build folder, it
// keeps everything there: settings.ini, formats.ini, help.chm and icon.png
// beside the executable, the engine in the build's staging folder. Installed,
// it finds its read-only files and the engine relative to its own folder (the
// package's data folder and private library folder) and keeps its settings
// in the configuration folder of the user it runs as.
struct InstallLayout {
    bool buildTree = false;
    QString engineFolder;    // photo, libcarver.so and formats/; no trailing '/'
    QString dataFolder;      // help.chm and icon.png; trailing '/'
    QString settingsFolder;  // settings.ini and formats.ini; trailing '/'
};

// What the build knows about both layouts.
struct LayoutFacts {
    QString buildFolder;   // the folder the build puts the executable in
    QString stagedEngine;  // the engine's staging folder, relative to buildFolder
    QString binToEngine;   // installed: from the executable's folder to the engine folder
    QString binToData;     // installed: from the executable's folder to the data folder
};

// The facts compiled into this program.
LayoutFacts BuiltInLayoutFacts();

// The layout of an executable in `executableFolder`. It is a build-tree run
// only when that folder is the build folder itself (links resolved), so an
// installed copy never looks into a build tree. `configHome` is the XDG
// configuration home the installed layout keeps its settings under.
InstallLayout LayoutFor(const QString& executableFolder, const LayoutFacts& facts, const QString& configHome);

// $XDG_CONFIG_HOME when it is an absolute path to a folder the effective user
// owns; otherwise the effective user's home folder from the password database
// + "/.config". (A root program started through sudo may inherit the caller's
// variable; their folder is not root's.)
QString UserConfigHome();

// The layout of this process.
InstallLayout RunningLayout();

}  // namespace snapmend
