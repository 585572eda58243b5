#include "SettingsFiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "FileSystem.h"
#include "InstallLayout.h"
#include "Paths.h"
#include "PlatformServices.h"

namespace snapmend {
namespace {

// Feeds one line (its line feed already removed) to the key test; a carriage
// return at its end belongs to the line break, as in a CR LF file.
void TakeLine(QByteArray line, const QByteArray& key, QString& result)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.contains('\0') || !line.startsWith(key))
        return;
    result = QString::fromLocal8Bit(line.mid(key.size()));
}

// Creates the folder and its missing parents, 0700 as the XDG rules ask.
bool MakeFolders(const QString& folder)
{
    if (QFileInfo(folder).isDir())
        return true;
    const QString parent = QFileInfo(folder).path();
    if (parent == folder || !MakeFolders(parent))
        return false;
    return MakeFolder(folder, 0700) || QFileInfo(folder).isDir();
}

bool WriteSingleLine(const QString& path, const QString& key, const QString& value)
{
    // One line per file: a value holding a line break or NUL cannot be stored
    // so that it reads back the same, so it is not written at all.
    if (value.contains(QLatin1Char('\n')) || value.contains(QChar(0)))
        return false;
    // An installed program's settings folder appears with its first setting.
    if (!MakeFolders(QFileInfo(path).path()))
        return false;
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray line = (key + value).toLocal8Bit() + '\n';
    if (file.write(line) != line.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace

QString GetSettingsFolder() { return RunningLayout().settingsFolder; }

QString ProgramFolder(const PlatformServices& platform)
{
    return platform.programFolder.isEmpty() ? GetSettingsFolder() : platform.programFolder;
}

QString DataFolder(const PlatformServices& platform)
{
    return platform.programFolder.isEmpty() ? RunningLayout().dataFolder : platform.programFolder;
}

QString GetDefaultOutputFolder()
{
    const QString pictures = UserPicturesFolder();
    return pictures.isEmpty() ? QDir::homePath() : pictures;
}

QString SettingsFilePath(const QString& programFolder, const QString& fileName)
{
    return JoinPath(programFolder, fileName);
}

QString ReadSettingValue(const QString& programFolder, const QString& fileName, const QString& key,
                         const QString& defaultValue)
{
    QString result = defaultValue;
    const QString path = SettingsFilePath(programFolder, fileName);
    // Folders, pipes and devices are not settings files; opening a pipe would block.
    if (!PathExists(path) || !QFileInfo(path).isFile())
        return result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;

    const QByteArray keyBytes = key.toLocal8Bit();
    QByteArray line;
    bool lineTooLong = false;
    qint64 budget = kMaxSettingsFileBytes;
    bool sawEnd = false;
    while (budget > 0) {
        const QByteArray chunk = file.read(qMin<qint64>(budget, 64 * 1024));
        if (chunk.isEmpty()) {
            sawEnd = true;
            break;
        }
        budget -= chunk.size();
        qsizetype start = 0;
        while (start < chunk.size()) {
            const qsizetype feed = chunk.indexOf('\n', start);
            const qsizetype end = feed < 0 ? chunk.size() : feed;
            if (!lineTooLong) {
                if (line.size() + (end - start) > kMaxSettingLineBytes) {
                    lineTooLong = true;
                    line.clear();
                } else {
                    line.append(chunk.constData() + start, end - start);
                }
            }
            if (feed < 0)
                break;
            if (!lineTooLong)
                TakeLine(line, keyBytes, result);
            line.clear();
            lineTooLong = false;
            start = feed + 1;
        }
    }
    if (!sawEnd && file.atEnd())
        sawEnd = true;
    // A last line without a line feed counts, unless reading stopped inside it.
    if (sawEnd && !lineTooLong && !line.isEmpty())
        TakeLine(line, keyBytes, result);
    return result;
}

bool SaveOutputFolder(const QString& programFolder, const QString& folder)
{
    return WriteSingleLine(SettingsFilePath(programFolder, kSettingsFileName), kSaveDirKey, folder);
}

bool WriteFormats(const QString& programFolder, const QString& formats)
{
    return WriteSingleLine(SettingsFilePath(programFolder, kFormatsFileName), kFormatsKey, formats);
}

QString NormalizePickedFolder(const QString& folder)
{
    QString result = folder;
    while (result.size() > 1 && result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

}  // namespace snapmend
