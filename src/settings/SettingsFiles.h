#pragma once
#include <QString>

namespace snapmend {

struct PlatformServices;

// The two one-line settings files and their keys.
inline const QString kSettingsFileName = QStringLiteral("settings.ini");
inline const QString kFormatsFileName = QStringLiteral("formats.ini");
inline const QString kSaveDirKey = QStringLiteral("savedir=");
inline const QString kFormatsKey = QStringLiteral("formats=");

// With no formats.ini a scan looks for these, and the file types dialog shows
// them (its Default button restores them): what the dialog shows is what the
// next scan does.
inline const QString kDefaultFormats = QStringLiteral("jpg,gif,png,bmp,tif");

// Limits of the reader: a longer line is skipped whole (never cut short), and
// nothing past the byte budget is looked at, so no file can make reading hang.
inline constexpr qint64 kMaxSettingLineBytes = 64 * 1024;
inline constexpr qint64 kMaxSettingsFileBytes = 1024 * 1024;

// The folder settings.ini and formats.ini live in, with a trailing '/', looked
// up afresh on each call: beside the executable when it runs from its build
// folder; "snapmend" in the user's XDG configuration folder when installed
// (root's ~/.config/snapmend/ for a program started through pkexec or sudo).
QString GetSettingsFolder();

// The settings folder the platform names (a test's own folder), else GetSettingsFolder().
QString ProgramFolder(const PlatformServices& platform);

// The folder help.chm and icon.png are read from: the one the platform names
// (a test's own folder), else the running layout's data folder (beside a
// build-tree executable; the package's data folder when installed).
QString DataFolder(const PlatformServices& platform);

// The user's pictures folder; the home folder when there is none.
QString GetDefaultOutputFolder();

// programFolder followed by fileName (an empty folder leaves the name relative).
QString SettingsFilePath(const QString& programFolder, const QString& fileName);

// The rest of the last line of the file that begins with `key` (case-sensitive,
// taken unchanged), or `defaultValue` when there is no such file or line.
// LF and CR LF line ends read alike. A file that is not a regular file,
// cannot be opened or holds NUL bytes in a line never fails: those lines or
// the whole file are ignored.
QString ReadSettingValue(const QString& programFolder, const QString& fileName, const QString& key,
                         const QString& defaultValue);

// Replace settings.ini with the single line "savedir=<folder>\n", creating the
// settings folder first when it is missing. False when it could not be
// written; the old content then stays. Callers report nothing.
bool SaveOutputFolder(const QString& programFolder, const QString& folder);

// Replace formats.ini with the single line "formats=<list>\n", even for an empty list.
bool WriteFormats(const QString& programFolder, const QString& formats);

// A folder picked by the user as it goes into the output folder box: trailing
// separators removed, except that the root folder stays "/".
QString NormalizePickedFolder(const QString& folder);

}  // namespace snapmend
